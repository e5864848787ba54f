// trackmill-batch: sub-command dispatch, --help and the exit status.
#include "tools/batch/batch.h"
#include "platform/system/system.h"
#include "platform/window/window_backend.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
std::vector<batch_command>& commands()
{
    static std::vector<batch_command> list;
    return list;
}

void print_help(FILE* out)
{
    std::fprintf(out,
                 "usage: trackmill-batch COMMAND [ARGS...]\n"
                 "Runs Trackmill's own routines without a display.\n\n"
                 "commands:\n");
    for (const batch_command& c : commands()) {
        if (std::strlen(c.usage) <= 40)
            std::fprintf(out, "  %-40s %s\n", c.usage, c.summary);
        else
            std::fprintf(out, "  %s\n  %-40s %s\n", c.usage, "", c.summary);
    }
    std::fprintf(out, "\nexit status: 0 done, 1 failed (message on stderr), 2 usage error\n");
}
} // namespace

int batch_register(const batch_command& command)
{
    commands().push_back(command);
    return int(commands().size());
}

const batch_command* batch_find(const char* name)
{
    for (const batch_command& c : commands())
        if (!std::strcmp(name, c.name))
            return &c;
    return nullptr;
}

int main(int argc, char** argv)
{
    // The headless window back end keeps a record of every drawing call for
    // tests to read; here no one reads it, and over a long side it would
    // grow with every buffer drawn.
    window_core_set_draw_log(false);
    // What the tool prints is read by scripts: English whatever the locale.
    set_ui_language(LANG_ENGLISH);
    if (argc < 2) {
        print_help(stderr);
        return BATCH_USAGE;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        print_help(stdout);
        return BATCH_DONE;
    }
    if (const batch_command* c = batch_find(argv[1]))
        return c->handler(argc - 1, argv + 1);
    std::fprintf(stderr, "trackmill-batch: unknown command '%s' (try --help)\n", argv[1]);
    return BATCH_USAGE;
}
