// trackmill-batch: the program's own routines run without a display.
// Each sub-command lives in its own file and registers itself with
// BATCH_COMMAND; the dispatcher finds it by name.
#pragma once
#include <cstdint>

// Exit status of every sub-command.
enum : int { BATCH_DONE = 0, BATCH_FAILED = 1, BATCH_USAGE = 2 };

using batch_handler = int (*)(int argc, char** argv);  // argv[0] is the sub-command

struct batch_command {
    const char* name;
    const char* usage;      // "demo-side OUT.wav"
    const char* summary;    // one line for --help
    batch_handler handler;
};

// Registers a sub-command (called by BATCH_COMMAND at start-up).
int batch_register(const batch_command& command);
// The sub-command registered under `name`, or null (also for a command that
// hands an older form of its arguments on to the command that now takes them).
const batch_command* batch_find(const char* name);

#define BATCH_COMMAND(name, usage, summary, handler) \
    static const int batch_registered_##handler = batch_register({name, usage, summary, handler})

// --- argument helpers shared by the sub-commands (options.cpp) ---------------

// The value of "--name=value", or null when `arg` is another argument.
const char* batch_option_value(const char* arg, const char* name);

// A usage error: "trackmill-batch COMMAND: WHY" and the command's usage line
// on stderr. Returns BATCH_USAGE.
int batch_usage(const char* command, const char* why);

// Whether `text` is a number as the dialog's boxes read it (digits, blanks
// around them); the value in *value. A box would take its usual value for
// anything else, but on a command line that is a typing error to be told.
bool batch_number(const char* text, uint64_t* value);

// Whether `path` may be written: true when nothing is there or `overwrite`
// was given; else tells so on stderr and returns false.
bool batch_may_write(const char* command, const char* path, bool overwrite);
