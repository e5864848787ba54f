// Plain files for the capture writer: open-or-create, write, seek, close.
//
// Threads: a file belongs to one thread at a time.
#pragma once
#include <cstdint>

struct plain_file_object;
using plain_file = plain_file_object*;

// Opens `name` for writing, creating it when it is missing. An existing file
// is neither truncated nor moved: writing starts at its first byte and what
// lies beyond the new content stays. *existed (may be null) tells whether the
// file was there before; on success the last error is ERROR_ALREADY_EXISTS
// for an existing file and 0 for a new one. Only regular files are accepted.
// Returns null on failure, with the last error set (ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_FILENAME_EXCED_RANGE, ...).
plain_file plain_open_or_create(const char* name, bool* existed);
// Writes count bytes at the file's position with one request and returns the
// count written: less than count when the disk is full (last error
// ERROR_DISK_FULL) or the write fails (ERROR_WRITE_FAULT).
uint32_t plain_write(plain_file f, const void* data, uint32_t count);
// SEEK_SET, SEEK_CUR or SEEK_END; returns the new position, or -1 (last error
// ERROR_INVALID_PARAMETER for a position before the start).
int64_t plain_seek(plain_file f, int64_t offset, int origin);
// Cuts the file to `length` bytes (an overwritten file loses its old tail);
// 0, or -1 with the last error set.
int plain_truncate(plain_file f, int64_t length);
// Removes the file `name` (a capture file that never got its header); 0 or -1.
int plain_remove(const char* name);
// Whether two names lead to one file (the same device and inode: a symbolic
// or hard link, or the same name); false when either cannot be looked at.
bool plain_same_file(const char* a, const char* b);
// Creates a new, empty file with a name of its own beside `name` ("name."
// and six characters, never an existing file) and puts that name into
// `out`; it gets the permissions a newly created file gets. 0, or -1 with
// the last error set.
int plain_create_beside(const char* name, char* out, uint32_t out_bytes);
// Gives the file `from` the name `to`, replacing a file of that name in one
// step, durably: `from` is synced before the rename and the folder after.
// 0, or -1 with the last error set.
int plain_rename(const char* from, const char* to);
// Puts the file's written bytes on the disk (fsync); 0, or -1 with the last
// error set. Null is ignored and gives 0.
int plain_sync(plain_file f);
// The same for the file named `name` (written by another library), and for
// the folder holding `name` (its new entries); 0 or -1.
int plain_sync_name(const char* name);
int plain_sync_folder_of(const char* name);
// Closes the file; 0, or -1 when the system reports a failure (the handle is
// gone either way). Null is ignored and gives 0.
int plain_close(plain_file f);

// Test hook: make writes fail as on a full disk once `bytes` more bytes have
// been written through plain files; a negative value turns it off.
void plain_fail_writes_after(int64_t bytes);
