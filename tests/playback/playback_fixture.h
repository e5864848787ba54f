// The preview tests' fixture: the main dialog on the headless back end, the
// virtual sound card in fast mode with its output tapped, the view timer in
// manual mode, and tracks written into a private directory and cleaned with
// the dialog's DeClicker, so the preview is the one a user would get.
#pragma once
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>
#include "playback/playback.h"
#include "platform/sound/sound.h"
#include "platform/system/timer.h"
#include "tests/support/main_dialog_fixture.h"

namespace playback_test {

using bytes = std::vector<uint8_t>;

// Everything the virtual card plays, in order.
struct output_record {
    std::mutex lock;
    bytes played;
};
inline output_record& output()
{
    static output_record r;
    return r;
}
inline void tap(const uint8_t* b, uint32_t count, void*)
{
    std::lock_guard<std::mutex> held(output().lock);
    output().played.insert(output().played.end(), b, b + count);
}
inline bytes played()
{
    std::lock_guard<std::mutex> held(output().lock);
    return output().played;
}
inline void clear_played()
{
    std::lock_guard<std::mutex> held(output().lock);
    output().played.clear();
}

inline void put16(bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void put_id(bytes& b, const char* id)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(id[i]));
}

// A 16-bit PCM WAV file of interleaved samples, with a 16-byte format chunk.
inline bytes wav_file(const std::vector<int16_t>& s, int channels, uint32_t rate = 44100)
{
    bytes b;
    const uint32_t data = uint32_t(s.size() * 2);
    put_id(b, "RIFF");
    put32(b, 36 + data);
    put_id(b, "WAVE");
    put_id(b, "fmt ");
    put32(b, 16);
    put16(b, 1);
    put16(b, uint32_t(channels));
    put32(b, rate);
    put32(b, rate * uint32_t(channels) * 2);
    put16(b, uint32_t(channels) * 2);
    put16(b, 16);
    put_id(b, "data");
    put32(b, data);
    for (int16_t v : s)
        put16(b, uint16_t(v));
    return b;
}

// The body of a WAV file's data chunk.
inline bytes data_chunk(const bytes& file)
{
    size_t p = 12;
    while (p + 8 <= file.size()) {
        const uint32_t size = file[p + 4] | (file[p + 5] << 8) | (file[p + 6] << 16) | (uint32_t(file[p + 7]) << 24);
        if (!std::memcmp(&file[p], "data", 4))
            return bytes(file.begin() + long(p + 8), file.begin() + long(std::min<size_t>(p + 8 + size, file.size())));
        p += 8 + size + (size & 1);
    }
    return {};
}

// A quiet sine on every channel: its rows lie well inside the view.
inline std::vector<int16_t> tone(size_t frames, int channels, double amplitude = 6000)
{
    std::vector<int16_t> s;
    s.reserve(frames * size_t(channels));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s.push_back(int16_t(amplitude * std::sin(double(i) * 0.031 + c)));
    return s;
}

class PlaybackTest : public MainDialogTest {
protected:
    std::string dir;

    void SetUp() override
    {
        MainDialogTest::SetUp();
        char pattern[] = "/tmp/tm-playback-XXXXXX";
        dir = mkdtemp(pattern);
        ASSERT_EQ(sound_use_virtual("demo"), 0);
        sound_pace_fast();
        sound_set_output_tap(tap, nullptr);
        clear_played();
        timer_use_manual(true);
        open_dialog();
    }
    void TearDown() override
    {
        sound_fail_clear();
        // Exit as the user leaves, so the preview stops with the dialog.
        if (dialog)
            send_message(dialog, WM_CLOSE, 0, 0);
        MainDialogTest::TearDown();
        sound_set_output_tap(nullptr, nullptr);
        sound_virtual_devices(1, 1);
        timer_use_manual(false);
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Writes `samples` as track<digit>.wav and cleans it with DeClicker as
    // the user does; returns the cleaned file's sample bytes.
    bytes clean(const std::vector<int16_t>& samples, int channels, char digit = '4')
    {
        if (app.track_open)
            click(CMD_DECLICKER);   // Close track first
        const std::string track = path(std::string("track") + digit + ".wav");
        std::ofstream(track, std::ios::binary)
            .write(reinterpret_cast<const char*>(wav_file(samples, channels).data()), std::streamsize(samples.size() * 2 + 44));
        // The counter stands one past the track, as after its take.
        std::string next = path(std::string("track") + char(digit + 1) + ".wav");
        std::strcpy(app.track_name, next.c_str());
        app.track_digit_pos = int32_t(next.size() - 5);
        click(CMD_DECLICKER);
        EXPECT_NE(app.track_in, nullptr) << app.result_text;
        std::ifstream in(app.cleaned_file_name, std::ios::binary);
        return data_chunk(bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }

    // Handles the dialog's messages until `done` holds (at most 5 s).
    template <typename F>
    bool pump_until(F done)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            headless_pump();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > until)
                return false;
            headless_pump_for(2);
        }
    }
    bool play_to_end()
    {
        click(CMD_PLAY);
        return pump_until([] { return !app.playback_running; });
    }

    // With the device held paused, lets it play the one buffer written and
    // handles what follows (the next buffer written, the refill).
    bool play_one_buffer()
    {
        const size_t before = played().size();
        const int16_t queued = app.blocks_queued;
        wave_out_restart(app.play_device);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (played().size() == before && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        wave_out_pause(app.play_device);
        return pump_until([&] { return app.blocks_queued != queued || !app.playback_running; });
    }
};

} // namespace playback_test
