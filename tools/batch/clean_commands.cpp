// trackmill-batch declick, denoise, fadein, dehum, mono, fadeout and restore:
// one cleaning run on the named track, without a display. Prints the cleaned
// file's path and the result line.
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

// The options read as the dialog reads its boxes: a Threshold is kept
// within 1..45, an Intro Max within 0..55. A value that is no number is a
// usage error (-1): the box would quietly take its usual value instead.
int threshold_setting(const char* text)
{
    uint64_t v;
    return batch_number(text, &v) ? int(v < 1 ? 1 : v > 45 ? 45 : v) : -1;
}
int intro_setting(const char* text)
{
    uint64_t v;
    return batch_number(text, &v) ? int(v > 55 ? 55 : v) : -1;
}
// An AC sinus Freq as the dialog's box reads it: more than 2048 is 2048; no
// number is a usage error (-1). Whether it suits the track is the pass's to say.
int freq_setting(const char* text)
{
    uint64_t v;
    return batch_number(text, &v) ? int(v > 2048 ? 2048 : v) : -1;
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
    return batch_usage(command, why);
}

enum : unsigned { TAKES_THRESHOLD = 1, TAKES_BIAS = 2, TAKES_INTRO = 4, TAKES_FREQ = 8 };

int run_cleaning(int mode, unsigned takes, int argc, char** argv)
{
    const char* command = argv[0];
    const char* track = nullptr;
    bool overwrite = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* v;
        if ((takes & TAKES_THRESHOLD) && (v = batch_option_value(arg, "--threshold"))) {
            const int k = threshold_setting(v);
            if (k < 0)
                return usage(command, "--threshold takes a number, 1 to 45");
            app.filter_threshold = int16_t(k);
        } else if ((takes & TAKES_BIAS) && (v = batch_option_value(arg, "--bias"))) {
            if (bias_setting(v, app.bias_level) != 0)
                return usage(command, "--bias takes two levels of 0 to 65535: --bias=LEFT,RIGHT");
        } else if ((takes & TAKES_INTRO) && (v = batch_option_value(arg, "--intro"))) {
            const int seconds = intro_setting(v);
            if (seconds < 0)
                return usage(command, "--intro takes a number of seconds, 0 to 55");
            app.intro_max_seconds = seconds;
        } else if ((takes & TAKES_FREQ) && (v = batch_option_value(arg, "--freq"))) {
            const int hz = freq_setting(v);
            if (hz < 0)
                return usage(command, "--freq takes a number of hertz");
            app.ac_sinus_freq = int16_t(hz);
        } else if (!std::strcmp(arg, "--overwrite")) {
            overwrite = true;
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
    // The cleaned file is the track's name with the pass's letter; one that
    // is there already is kept unless told otherwise.
    char cleaned[sizeof app.cleaned_file_name];
    if (make_cleaned_name(track, mode, cleaned, sizeof cleaned) == 0 && std::strcmp(cleaned, track) != 0 &&
        !batch_may_write(command, cleaned, overwrite))
        return BATCH_FAILED;

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

int dehum_command(int argc, char** argv)
{
    return run_cleaning(MODE_DEHUM, TAKES_FREQ | TAKES_THRESHOLD, argc, argv);
}
int mono_command(int argc, char** argv)
{
    return run_cleaning(MODE_MONO_STEREO, 0, argc, argv);
}
int fadeout_command(int argc, char** argv)
{
    return run_cleaning(MODE_FADE_OUT, TAKES_INTRO, argc, argv);
}
int restore_command(int argc, char** argv)
{
    return run_cleaning(MODE_FILTER_EX, TAKES_THRESHOLD, argc, argv);
}

} // namespace

BATCH_COMMAND("declick", "declick TRACK.wav [--threshold=K] [--bias=L,R] [--overwrite]",
              "remove clicks into the track's \"d\" file", declick_command);
BATCH_COMMAND("denoise", "denoise TRACK.wav [--bias=L,R] [--overwrite]", "reduce noise into the track's \"n\" file",
              denoise_command);
BATCH_COMMAND("fadein", "fadein TRACK.wav [--intro=SECONDS] [--bias=L,R] [--overwrite]", "fade the start in into the track's \"f\" file",
              fadein_command);
BATCH_COMMAND("dehum", "dehum TRACK.wav [--freq=HZ] [--threshold=K] [--overwrite]",
              "remove mains hum and its harmonics into the track's \"a\" file", dehum_command);
BATCH_COMMAND("mono", "mono TRACK.wav [--overwrite]", "both channels' mean into both channels of the track's \"m\" file",
              mono_command);
BATCH_COMMAND("fadeout", "fadeout TRACK.wav [--intro=SECONDS] [--overwrite]", "fade the end out into the track's \"o\" file",
              fadeout_command);
BATCH_COMMAND("restore", "restore TRACK.wav [--threshold=K] [--overwrite]",
              "repair clicks and reduce hiss (FilterEx) into the track's \"x\" file", restore_command);
