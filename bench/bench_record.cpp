// Recording through the main dialog, headless, on the virtual card in fast
// mode: ten minutes of 44.1 kHz stereo by the Record button into PCM and
// into IMA ADPCM (ring, level-free write path, conversion, file), and the
// demo side split by auto-track (every second buffer measured). Wall time,
// multiple of real time and peak memory.
#include <sys/resource.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include "core/app_state.h"
#include "core/ids.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "capture/capture_control.h"
#include "platform/sound/demo_record.h"
#include "platform/sound/sound.h"
#include "platform/system/system.h"
#include "platform/window/headless.h"
#include "res/dialogs.h"

namespace {

std::function<void()> after_message;

msg_result watched_proc(window w, unsigned message, wparam wp, lparam lp)
{
    msg_result r = main_dialog_proc(w, message, wp, lp);
    if (after_message)
        after_message();
    return r;
}

void run_until(const std::function<bool()>& done)
{
    while (!done())
        if (window_core_wait_posted(50))
            window_core_dispatch_posted();
}

long peak_kib()
{
    rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

window open_dialog(const char* spelling)
{
    app_state_reset();
    headless_reset();
    window dialog = headless_open_dialog(main_dialog_template(), watched_proc, 0);
    headless_answer_chooser(spelling);
    headless_click(dialog, CMD_SELECT);
    return dialog;
}

void close_dialog(window dialog)
{
    headless_click(dialog, CMD_EXIT);
    window_core_clear_posted();
    headless_close_dialog(dialog);
    release_resources();
}

int record(const std::string& dir, const char* spelling, double seconds)
{
    sound_use_virtual("demo");
    window dialog = open_dialog(spelling);
    if (!app.format_chosen) {
        std::fprintf(stderr, "bench_record: no format %s\n", spelling);
        return 1;
    }
    std::string out = dir + "/record.wav";
    headless_type(dialog, IDC_FILE_BOX, out.c_str());
    const uint32_t stop_ms = uint32_t(seconds * 1000);
    after_message = [&] {
        if (app.recording && get_tick_count() - app.record_start_tick >= stop_ms)
            headless_click(dialog, CMD_RECORD);
    };
    auto t0 = std::chrono::steady_clock::now();
    headless_click(dialog, CMD_RECORD);
    if (!app.recording) {
        std::fprintf(stderr, "bench_record: the recording did not start\n");
        return 1;
    }
    run_until([] { return !app.recording; });
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    after_message = nullptr;
    uint32_t data = app.data_bytes_written;
    close_dialog(dialog);
    std::remove(out.c_str());
    std::printf("Record %-18s %5.0f s of audio, %9u bytes in %6.2f s = %6.0f x real time; peak memory %ld KiB\n",
                spelling, seconds, unsigned(data), wall, seconds / wall, peak_kib());
    return 0;
}

int split(const std::string& dir)
{
    sound_use_virtual("demo", false);   // one side, not the next pass
    window dialog = open_dialog("pcm,44100,2,16");
    headless_answer_save((dir + "/track.wav").c_str());
    headless_click(dialog, CMD_CHANGE);
    const uint32_t side_ms = uint32_t(uint64_t(demo_total_frames()) * 1000 / DEMO_RATE) + 15000;
    int takes = 0, was = 0;
    bool over = false;
    clock_set(0);
    after_message = [&] {
        takes += app.recording && !was;
        was = app.recording;
        if (!over && get_tick_count() >= side_ms && app.signal_waiting) {
            over = true;
            headless_click(dialog, CMD_SIGNAL_RECORD);
        }
    };
    auto t0 = std::chrono::steady_clock::now();
    headless_click(dialog, CMD_SIGNAL_RECORD);
    run_until([&] { return over; });
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    after_message = nullptr;
    close_dialog(dialog);
    std::system(("rm -f '" + dir + "'/track*.wav").c_str());
    std::printf("Split of the demo side  %5.0f s of audio, %d takes in %6.2f s = %6.0f x real time "
                "(the demo record's synthesis included); peak memory %ld KiB\n",
                side_ms / 1000.0, takes, wall, side_ms / 1000.0 / wall, peak_kib());
    return 0;
}

} // namespace

int main()
{
    window_set_backend(headless_backend());
    sound_pace_fast();
    char pattern[] = "/tmp/trackmill-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) {
        std::fprintf(stderr, "bench_record: no scratch directory\n");
        return 1;
    }
    const std::string dir = made;
    int failed = 0;
    failed |= record(dir, "pcm,44100,2,16", 600);
    failed |= record(dir, "ima-adpcm,44100,2", 600);
    failed |= split(dir);
    rmdir(dir.c_str());
    return failed;
}
