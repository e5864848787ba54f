// trackmill-batch declick, denoise and fadein: one cleaning run on the named
// track, without a display. Prints the cleaned file's path and the result line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "core/app_state.h"
#include "app/number_boxes.h"
#include "clean/process_track.h"
#include "clean/track_io.h"
#include "playback/playback.h"
#include "platform/sound/sound.h"
#include "platform/window/headless.h"
#include "tools/batch/batch.h"

namespace {

// The value of "--name=value", or null when `arg` is another argument.
const char* option_value(const char* arg, const char* name)
{
    const size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

// The options read as the dialog reads its boxes: a Threshold that is no
// number is 11 and is kept within 1..45; an Intro Max that is no number is
// 9 and is kept within 0..55.
int16_t threshold_setting(const char* text)
{
    uint64_t v;
    return parse_box_number(text, &v) ? int16_t(v < 1 ? 1 : v > 45 ? 45 : v) : int16_t(11);
}
int32_t intro_setting(const char* text)
{
    uint64_t v;
    return parse_box_number(text, &v) ? int32_t(v > 55 ? 55 : v) : 9;
}
// "LEFT,RIGHT", two levels of 0..65535. 0, or -1 when the text is not that.
int bias_setting(const char* text, uint16_t levels[2])
{
    const char* comma = std::strchr(text, ',');
    if (!comma)
        return -1;
    const std::string left(text, size_t(comma - text));
    uint64_t l, r;
    if (!parse_box_number(left.c_str(), &l) || !parse_box_number(comma + 1, &r) || l > 65535 || r > 65535)
        return -1;
    levels[0] = uint16_t(l);
    levels[1] = uint16_t(r);
    return 0;
}

int usage(const char* command, const char* why)
{
    std::fprintf(stderr, "trackmill-batch %s: %s (try --help)\n", command, why);
    return BATCH_USAGE;
}

enum : unsigned { TAKES_THRESHOLD = 1, TAKES_BIAS = 2, TAKES_INTRO = 4 };

int run_cleaning(int mode, unsigned takes, int argc, char** argv)
{
    const char* command = argv[0];
    const char* track = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* v;
        if ((takes & TAKES_THRESHOLD) && (v = option_value(arg, "--threshold"))) {
            app.filter_threshold = threshold_setting(v);
        } else if ((takes & TAKES_BIAS) && (v = option_value(arg, "--bias"))) {
            if (bias_setting(v, app.bias_level) != 0)
                return usage(command, "--bias takes two levels of 0 to 65535: --bias=LEFT,RIGHT");
        } else if ((takes & TAKES_INTRO) && (v = option_value(arg, "--intro"))) {
            app.intro_max_seconds = intro_setting(v);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return usage(command, (std::string("unknown option ") + arg).c_str());
        } else if (!track) {
            track = arg;
        } else {
            return usage(command, "one track at a time");
        }
    }
    if (!track)
        return usage(command, "which track?");

    window_set_backend(headless_backend());
    // A successful run opens the preview's output device: the virtual card
    // here, so that no sound card is touched, and closed again below.
    sound_use_virtual("demo");
    std::string boxes;
    headless_on_message_box([&boxes](const message_box_record& box) { boxes += box.text + "\n"; });
    // The file named is the file cleaned: no track counter here.
    int32_t result = process_track(nullptr, track, mode);
    if (result == 0)
        result = open_preview(app.cleaned_file_name);
    headless_on_message_box(nullptr);
    close_preview();
    const wave_out devices[2] = {app.play_device,
                                 app.playback_record.device != app.play_device ? app.playback_record.device : nullptr};
    for (wave_out device : devices) {
        if (device) {
            wave_out_reset(device);
            wave_out_close(device);
        }
    }
    app.play_device = app.playback_record.device = nullptr;
    if (result != 0) {
        std::fprintf(stderr, "%s%s\n", boxes.c_str(), app.result_text);
        return BATCH_FAILED;
    }
    std::printf("%s\n%s\n", app.cleaned_file_name, app.result_text);
    return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
}

int declick_command(int argc, char** argv)
{
    return run_cleaning(MODE_DECLICK, TAKES_THRESHOLD | TAKES_BIAS, argc, argv);
}
int denoise_command(int argc, char** argv)
{
    return run_cleaning(MODE_DENOISE, TAKES_BIAS, argc, argv);
}
int fadein_command(int argc, char** argv)
{
    return run_cleaning(MODE_FADE_IN, TAKES_INTRO | TAKES_BIAS, argc, argv);
}

} // namespace

BATCH_COMMAND("declick", "declick TRACK.wav [--threshold=K] [--bias=L,R]",
              "remove clicks into the track's \"d\" file", declick_command);
BATCH_COMMAND("denoise", "denoise TRACK.wav [--bias=L,R]", "reduce noise into the track's \"n\" file",
              denoise_command);
BATCH_COMMAND("fadein", "fadein TRACK.wav [--intro=SECONDS] [--bias=L,R]", "fade the start in into the track's \"f\" file",
              fadein_command);
