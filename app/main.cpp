// The recorder's entry point: reads the command line, opens the window
// system and runs the start-up.
#include <cstdio>
#include <cstring>
#include "app/startup.h"
#include "platform/qt/qt_window.h"
#include "platform/sound/sound.h"
#include "platform/system/system.h"

namespace {

void print_usage(FILE* out)
{
    std::fprintf(out,
                 "usage: trackmill [--lang=en|pl] [--source=demo|FILE.wav] [--speed=N] [TRACK.wav]\n"
                 "  TRACK.wav          the track to clean: DeClicker, DeNoiser, Fade In and the\n"
                 "                     other processing buttons work on it (a WAV file dropped\n"
                 "                     on the window does the same)\n"
                 "  --lang=en|pl       language of the window and its messages\n"
                 "                     (default: Polish when the locale is pl, else English)\n"
                 "  --source=demo      record from a built-in demo LP side, played again and again,\n"
                 "                     instead of the sound card (without one it is used anyway)\n"
                 "  --source=FILE.wav  record from a 16-bit PCM WAV file instead of the sound card\n"
                 "  --speed=N          play the --source N times faster than real time\n");
}

void print_no_display()
{
    std::fprintf(stderr,
                 "trackmill: there is no display to open the window on.\n"
                 "  - On a desktop, start it from a terminal inside the desktop session.\n"
                 "  - Without one, run it under a virtual display:\n"
                 "        xvfb-run -a build/trackmill --source=demo\n"
                 "  - Or use the batch tool, which needs no display:\n"
                 "        build/trackmill-batch --help\n");
}

} // namespace

int main(int argc, char** argv)
{
    const char* track = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' && arg[0] != '\0') {
            if (track) {
                std::fprintf(stderr, "trackmill: one track at a time, not also '%s'\n", arg);
                print_usage(stderr);
                return 2;
            }
            track = arg;
            continue;
        }
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            print_usage(stdout);
            return 0;
        }
        if (!std::strncmp(arg, "--lang=", 7)) {
            if (!std::strcmp(arg + 7, "en")) {
                set_ui_language(LANG_ENGLISH);
            } else if (!std::strcmp(arg + 7, "pl")) {
                set_ui_language(LANG_POLISH);
            } else {
                std::fprintf(stderr, "trackmill: unknown language '%s' (en or pl)\n", arg + 7);
                return 2;
            }
            continue;
        }
        int taken = sound_parse_option(arg);
        if (taken < 0) {
            std::fprintf(stderr, "trackmill: %s: %s\n", arg, sound_source_error());
            return 2;
        }
        if (taken == 0) {
            std::fprintf(stderr, "trackmill: unknown option '%s'\n", arg);
            print_usage(stderr);
            return 2;
        }
    }
    if (qt_window_start(&argc, argv) != 0) {
        print_no_display();
        return 1;
    }
    return trackmill_startup(track);
}
