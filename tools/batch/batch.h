// trackmill-batch: the program's own routines run without a display.
// Each sub-command lives in its own file and registers itself with
// BATCH_COMMAND; the dispatcher finds it by name.
#pragma once

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

// The sub-command registered under `name`, or null.
const batch_command* batch_find(const char* name);

#define BATCH_COMMAND(name, usage, summary, handler) \
    static const int batch_registered_##handler = batch_register({name, usage, summary, handler})
