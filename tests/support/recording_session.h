// The main dialog recording from the virtual card in fast mode: sources of
// known levels written as WAV files, pumping the dialog until something has
// happened, and a tear-down that leaves no device or file open.
#pragma once
#include <sys/resource.h>
#include <chrono>
#include <csignal>
#include <cmath>
#include <functional>
#include <string>
#include <vector>
#include "app/capture_modes.h"
#include "capture/capture_control.h"
#include "capture/capture_ring.h"
#include "capture/compression.h"
#include "platform/acm/acm.h"
#include "platform/file/file.h"
#include "platform/system/system.h"
#include "tests/sound/sound_test_util.h"
#include "tests/support/main_dialog_fixture.h"

// A file system that takes no file past `bytes` while it lives: appends
// beyond it fail, writes over what is there do not.
struct file_size_limit {
    rlimit old_limit{};
    bool set = false;
    explicit file_size_limit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_limit);
        rlimit small = old_limit;
        small.rlim_cur = bytes;
        set = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    void lift()
    {
        if (set)
            setrlimit(RLIMIT_FSIZE, &old_limit);
        set = false;
    }
    ~file_size_limit() { lift(); }
};

namespace recording {

constexpr uint32_t RATE = 44100;
constexpr uint32_t FRAME_BYTES = 4;   // 16-bit stereo

// One stretch of a source: `seconds` of a square wave of ±left and ±right
// (so each channel's measured level is exactly that value).
struct stretch {
    double seconds;
    int16_t left;
    int16_t right;
};

inline std::vector<int16_t> square_samples(const std::vector<stretch>& parts)
{
    std::vector<int16_t> s;
    for (const stretch& p : parts) {
        uint32_t frames = uint32_t(p.seconds * RATE + 0.5);
        for (uint32_t k = 0; k < frames; ++k) {
            int sign = (k & 1) ? -1 : 1;
            s.push_back(int16_t(sign * p.left));
            s.push_back(int16_t(sign * p.right));
        }
    }
    return s;
}

// Samples that differ from frame to frame, so that a recording can be
// compared byte for byte with its source.
inline std::vector<int16_t> counting_samples(double seconds)
{
    std::vector<int16_t> s(size_t(seconds * RATE) * 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(uint32_t(i * 2654435761u) >> 17);
    return s;
}

inline std::vector<int16_t> sine_samples(double seconds, double amplitude, double hz)
{
    std::vector<int16_t> s(size_t(seconds * RATE) * 2);
    for (size_t k = 0; k < s.size() / 2; ++k)
        s[2 * k] = s[2 * k + 1] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * double(k) / RATE)));
    return s;
}

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return at + 4 <= b.size() ? uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24) : 0;
}

// Thrown by the dialog's wrapper to leave the dispatch of posted messages
// right after the message that made a test's condition true.
struct condition_met {};

struct RecordingTest : MainDialogTest {
    sound_test::scratch_dir dir;
    std::function<void()> after_message;   // runs after every message the dialog handles

    static RecordingTest*& current()
    {
        static RecordingTest* test = nullptr;
        return test;
    }
    // The main dialog's procedure, with the test looking on after each message.
    static msg_result watched_proc(window w, unsigned message, wparam wp, lparam lp)
    {
        msg_result r = main_dialog_proc(w, message, wp, lp);
        RecordingTest* t = current();
        if (t && t->after_message)
            t->after_message();
        return r;
    }

    void open_dialog(ui_lang lang = LANG_ENGLISH)
    {
        set_ui_language(lang);
        dialog = headless_open_dialog(main_dialog_template_for(lang), watched_proc, 0);
        ASSERT_NE(dialog, nullptr);
    }
    void SetUp() override
    {
        MainDialogTest::SetUp();
        current() = this;
        clear_faults();
        sound_virtual_devices(1, 1);
        sound_pace_fast();
        ASSERT_EQ(sound_use_virtual("demo"), 0);
    }
    void TearDown() override
    {
        after_message = nullptr;
        clear_faults();
        if (app.recording)
            end_capture();
        if (app.capture_ring.device) {
            stop_sampling(&app.capture_ring);
            close_wave_in(&app.capture_ring);
        }
        release_conversion();
        if (app.capture_file_handle) {
            plain_close(app.capture_file_handle);
            app.capture_file_handle = nullptr;
        }
        window_core_clear_posted();
        MainDialogTest::TearDown();
        current() = nullptr;
    }
    static void clear_faults()
    {
        sound_fail_clear();
        acm_fail_clear();
        plain_fail_writes_after(-1);
        disk_free_fail(0);
        capture_ring_fail_alloc_after(-1);
        sound_virtual_stall_input(false);
    }

    // The virtual card plays `samples` (44.1 kHz stereo) from its start.
    void play(const std::vector<int16_t>& samples, const char* name = "source.wav")
    {
        std::string path = dir.file(name);
        sound_test::write_file(path, sound_test::wav_bytes(RATE, 2, 16, sound_test::samples_le(samples)));
        ASSERT_EQ(sound_use_virtual(path.c_str()), 0);
    }
    void play_parts(const std::vector<stretch>& parts) { play(square_samples(parts)); }

    // Handles what the devices post, one message at a time, until `done`
    // holds; false after `wall_ms` of real time. Stops right after the
    // message that made it true, however fast the card delivers: what was
    // posted after it waits for the next pump.
    template <class Done>
    bool pump_until(Done done, int wall_ms = 60000)
    {
        if (done())
            return true;
        bool met = false;
        after_message = [&] {
            if (!met && done()) {
                met = true;
                throw condition_met{};
            }
        };
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wall_ms);
        while (!met && std::chrono::steady_clock::now() < until) {
            try {
                if (window_core_wait_posted(20))
                    window_core_dispatch_posted();
            } catch (const condition_met&) {
            }
        }
        after_message = nullptr;
        return met;
    }
    // Handles posted messages for `ms` of the virtual clock.
    bool pump_virtual_ms(uint32_t ms)
    {
        const uint32_t start = get_tick_count();
        return pump_until([&] { return get_tick_count() - start >= ms; });
    }
    // Handles what is posted within `ms` of real time (a stopped device's last buffers).
    void settle(int ms = 50)
    {
        pump_until([] { return false; }, ms);
    }

    // The format chooser's next answer is `spelling`, chosen with Select....
    void select_format(const char* spelling)
    {
        headless_answer_chooser(spelling);
        click(CMD_SELECT);
        ASSERT_EQ(app.format_chosen, 1) << spelling;
    }
    std::vector<std::string> captions()
    {
        std::vector<std::string> c;
        for (const message_box_record& r : headless_message_boxes())
            c.push_back(r.caption);
        return c;
    }
    int bar_lines()
    {
        int n = 0;
        for (const draw_call& c : headless_draw_calls())
            n += c.op == DRAW_LINE;
        return n;
    }
};

} // namespace recording
