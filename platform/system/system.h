// System services: the millisecond clock (real or virtual), free disk space,
// full path names, the single-instance lock, last-error codes and the
// user-interface language.
//
// Thread safety: every routine may be called from any thread.
#pragma once
#include <cstdint>

enum : unsigned {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,
    ERROR_ACCESS_DENIED = 5,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_WRITE_FAULT = 29,
    ERROR_HANDLE_DISK_FULL = 39,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_DISK_FULL = 112,
    ERROR_INSUFFICIENT_BUFFER = 122,
    ERROR_ALREADY_EXISTS = 183,
    ERROR_FILENAME_EXCED_RANGE = 206,
};

// --- clock ---------------------------------------------------------------
// Milliseconds since an arbitrary start, wrapping at 32 bits. With the
// virtual clock on, time moves only when clock_advance is called (by tests
// and by the virtual sound card for every buffer it delivers).
uint32_t get_tick_count();
void clock_use_virtual(bool on);
bool clock_is_virtual();
void clock_advance(uint32_t ms);
void clock_set(uint32_t ms);
// The real clock runs `rate` times as fast as the wall clock from now on
// (1 by default), so that a source played faster than real time keeps
// everything counted in seconds in step with the sound.
void clock_set_rate(double rate);

// --- files and paths -----------------------------------------------------
// Bytes free to this user on the file system holding `dir` (the current
// directory when dir is null or empty). Returns 0 and sets the last error on
// failure, 1 on success.
int disk_free_bytes(const char* dir, uint64_t* free_bytes);
// The absolute, normalised form of `name` into out (size bytes, terminator
// included). Returns the length, or 0 with the last error set.
int full_path_name(const char* name, char* out, int size);
// Test hooks: make the next free-space query fail with `code` (0 = work).
void disk_free_fail(unsigned code);
// The installed documentation file `name` (README.md): it lives in
// PREFIX/share/doc/trackmill when the program runs from PREFIX/bin. Returns
// the length of its absolute path in out, or 0 when it is not installed.
int installed_doc_file(const char* name, char* out, int size);
// Test hook: look in `dir` instead (null: beside the program again).
void installed_doc_dir_use(const char* dir);

// --- single instance -----------------------------------------------------
// Takes the lock named `name` for the life of the process; the operating
// system drops it when the process ends, however it ends. Returns 0 when
// taken, ERROR_ALREADY_EXISTS when another process holds it, other codes on
// failure. The lock file lives in the user's runtime directory.
unsigned instance_lock_acquire(const char* name);
void instance_lock_release();   // tests only

// --- last error ----------------------------------------------------------
// Per thread, as the routines above and the file services leave it.
unsigned get_last_error();
void set_last_error(unsigned code);

// --- language ------------------------------------------------------------
enum ui_lang { LANG_ENGLISH = 0, LANG_POLISH = 1 };
// The language of the texts and dialogs: set by --lang, else Polish when
// the locale's language (LC_ALL, LC_MESSAGES, LANG) is pl, else English.
ui_lang ui_language();
void set_ui_language(ui_lang lang);
