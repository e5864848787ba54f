// The real sound path through PortAudio, on a private PulseAudio server
// with a null sink: a probe and a signal played into the sink come back from
// its monitor through the ring sample for sample, and the same for what the
// output device plays. A server that cannot start fails these tests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cmath>
#include <sstream>
#include "core/app_state.h"
#include "capture/capture_ring.h"
#include "platform/window/headless.h"
#include "tests/sound/pulse_server.h"

using namespace sound_test;

namespace {

constexpr uint32_t RATE = 44100;
constexpr uint32_t PROBE_FRAMES = 4096;

// Lead-in silence, a probe of loud noise to align on, a second of signal
// (two tones under noise) and silence after it; interleaved stereo.
std::vector<int16_t> probe_and_signal(std::vector<int16_t>* marked)
{
    std::vector<int16_t> s;
    s.insert(s.end(), size_t(RATE / 5) * 2, 0);
    std::vector<int16_t> m;
    uint32_t x = 0x1234567;
    auto next = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (uint32_t i = 0; i < PROBE_FRAMES * 2; ++i)
        m.push_back(int16_t(int32_t(next() % 24001) - 12000));
    for (uint32_t n = 0; n < RATE; ++n) {
        double t = double(n) / RATE;
        m.push_back(int16_t(8000 * std::sin(2 * M_PI * 440 * t) + int32_t(next() % 201) - 100));
        m.push_back(int16_t(6000 * std::sin(2 * M_PI * 1234.5 * t) + int32_t(next() % 201) - 100));
    }
    s.insert(s.end(), m.begin(), m.end());
    s.insert(s.end(), size_t(RATE / 5) * 2, 0);
    *marked = m;
    return s;
}

// Where `marked` starts in `got` (both interleaved stereo), matching its
// first 64 frames exactly; -1 when it is not there.
long find_marked(const std::vector<int16_t>& got, const std::vector<int16_t>& marked)
{
    const size_t key = 128;
    for (size_t at = 0; at + key <= got.size(); at += 2)
        if (std::equal(marked.begin(), marked.begin() + key, got.begin() + at))
            return long(at);
    return -1;
}

std::vector<int16_t> to_samples(const std::vector<uint8_t>& b)
{
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

// "" when the whole of `marked` came back unchanged, else what went wrong.
std::string returned_whole(const std::vector<int16_t>& got, const std::vector<int16_t>& marked, const char* path)
{
    long at = find_marked(got, marked);
    int peak = 0;
    for (int16_t v : got)
        peak = std::max(peak, std::abs(int(v)));
    std::ostringstream why;
    if (at < 0) {
        why << "the probe never came back through the " << path << " (" << got.size() / 2 << " frames, peak "
            << peak << ", overflows " << sound_input_overflows() << ")";
        return why.str();
    }
    if (size_t(at) + marked.size() > got.size())
        return std::string("the ") + path + " stopped before the signal ended";
    size_t wrong = 0, first_wrong = 0;
    for (size_t i = 0; i < marked.size(); ++i)
        if (got[at + i] != marked[i] && wrong++ == 0)
            first_wrong = i;
    if (wrong)
        why << wrong << " samples differ through the " << path << ", the first at frame " << first_wrong / 2 << " of "
            << marked.size() / 2 << " (overflows " << sound_input_overflows() << ")";
    return why.str();
}

// The sound server runs its streams in real time: on a machine too busy to
// feed them it fills a late stream with silence, which no code of ours can
// prevent. A path that is whole once in three tries is taken as whole; a
// fault of ours (a lost or doubled buffer) shows in every try.
constexpr int TRIES = 3;

struct RealCard : testing::Test {
    pulse_server server;

    void SetUp() override
    {
        app_state_reset();
        headless_reset();
        sound_fail_clear();
        std::string why;
        ASSERT_TRUE(server.start(&why)) << why;
        ASSERT_EQ(sound_use_portaudio(), 0);
        ASSERT_GE(wave_in_get_num_devs(), 1u) << "PortAudio does not see the private server";
        ASSERT_GE(wave_out_get_num_devs(), 1u);
    }
    void TearDown() override
    {
        if (app.capture_ring.device) {
            stop_sampling(&app.capture_ring);
            close_wave_in(&app.capture_ring);
        }
        sound_shutdown();
        EXPECT_TRUE(headless_message_boxes().empty()) << headless_message_boxes()[0].text;
    }
};

// Plays probe and signal into the sink and records its monitor through the
// ring; what went wrong, or "".
std::string record_through_ring(pulse_server& server)
{
    if (app.capture_ring.device) {   // left by a failed try
        stop_sampling(&app.capture_ring);
        close_wave_in(&app.capture_ring);
    }
    std::vector<int16_t> marked;
    std::vector<int16_t> played = probe_and_signal(&marked);
    std::string raw = server.file("played.raw");
    write_file(raw, samples_le(played));

    CaptureBufferRing& ring = app.capture_ring;
    set_capture_params(&ring, 2, 16, RATE, 4096, 8);
    if (open_wave_in(&ring, inbox::callback) != 0)
        return "the input ring did not open";
    inbox::the().clear();
    if (start_sampling(&ring) != 0)
        return "the input ring did not start";
    pid_t player = spawn_shell("exec pacat -p --raw --format=s16le --rate=44100 --channels=2 --latency-msec=200 -d vsink '" + raw + "'");
    if (player <= 0)
        return "pacat did not start";

    // Be the dialog: read each buffer and queue it again, until the player
    // is done and half a second more has come in.
    std::vector<uint8_t> recorded;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool player_done = false;
    size_t after_player = 0;
    while (std::chrono::steady_clock::now() < deadline && after_player < RATE * 2) {
        callback_event e;
        if (!inbox::the().next(WIM_DATA, &e, 200))
            continue;
        recorded.insert(recorded.end(), e.header->data, e.header->data + e.bytes);
        if (wave_in_add_buffer(ring.device, e.header, sizeof(wave_header)) != MMSYSERR_NOERROR)
            return "a buffer could not be queued again";
        if (!player_done && waitpid(player, nullptr, WNOHANG) == player)
            player_done = true;
        if (player_done)
            after_player += e.bytes;
    }
    if (!player_done)
        end_process(player);
    if (stop_sampling(&ring) != 0 || close_wave_in(&ring) != 0)
        return "the input ring did not stop and close";
    if (!player_done)
        return "pacat did not finish";
    return returned_whole(to_samples(recorded), marked, "input ring");
}

TEST_F(RealCard, TheRingRecordsWhatIsPlayedIntoTheCardSampleForSample)
{
    std::string why;
    for (int t = 0; t < TRIES && !(why = record_through_ring(server)).empty(); ++t)
        std::fprintf(stderr, "try %d: %s\n", t + 1, why.c_str());
    EXPECT_EQ(why, "");
}

// Plays probe and signal through the output device into the sink and
// records its monitor with parec; what went wrong, or "".
std::string play_through_output(pulse_server& server)
{
    std::vector<int16_t> marked;
    std::vector<uint8_t> bytes = samples_le(probe_and_signal(&marked));
    std::string raw = server.file("heard.raw");
    pid_t listener = spawn_shell("exec parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=200 -d vsink.monitor > '" + raw + "'");
    if (listener <= 0)
        return "parec did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    wave_format f = pcm(RATE, 2, 16);
    wave_out out = nullptr;
    inbox::the().clear();
    wave_header h[4] = {};
    auto give_up = [&](const std::string& why) {
        if (out) {
            wave_out_reset(out);
            for (wave_header& x : h)
                wave_out_unprepare_header(out, &x, sizeof x);
            wave_out_close(out);
        }
        end_process(listener);
        return why;
    };
    if (wave_out_open(&out, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        out = nullptr;
        return give_up("the output did not open");
    }
    // Four buffers, the last one shorter, as the preview's fill leaves it.
    uint32_t part = uint32_t(bytes.size() / 4 / 4 * 4);
    for (int i = 0; i < 4; ++i) {
        h[i].data = bytes.data() + i * part;
        h[i].buffer_length = i < 3 ? part : uint32_t(bytes.size()) - 3 * part;
        if (wave_out_prepare_header(out, &h[i], sizeof h[i]) != MMSYSERR_NOERROR ||
            wave_out_write(out, &h[i], sizeof h[i]) != MMSYSERR_NOERROR)
            return give_up("buffer " + std::to_string(i) + " was refused");
    }
    for (int i = 0; i < 4; ++i) {
        callback_event e;
        if (!inbox::the().next(WOM_DONE, &e, 5000))
            return give_up("buffer " + std::to_string(i) + " was never played");
        EXPECT_EQ(e.header, &h[i]);
    }
    mm_time t = {TIME_SAMPLES, 0};
    EXPECT_EQ(wave_out_get_position(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.value, bytes.size() / 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));   // what is still in the pipes
    for (wave_header& x : h)
        EXPECT_EQ(wave_out_unprepare_header(out, &x, sizeof x), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_out_close(out), MMSYSERR_NOERROR);
    end_process(listener);
    return returned_whole(to_samples(read_file(raw)), marked, "output");
}

TEST_F(RealCard, TheOutputPlaysIntoTheCardSampleForSample)
{
    std::string why;
    for (int t = 0; t < TRIES && !(why = play_through_output(server)).empty(); ++t)
        std::fprintf(stderr, "try %d: %s\n", t + 1, why.c_str());
    EXPECT_EQ(why, "");
}

TEST(RealCardAbsent, WithoutACardOrSoundServerThereIsNoInputDevice)
{
    struct stat st;
    if (stat("/proc/asound/card0", &st) == 0)
        GTEST_SKIP() << "this machine has a sound card";
    scratch_dir empty;   // a runtime directory where no sound server runs
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", empty.path.c_str(), 1);
    EXPECT_EQ(sound_use_portaudio(), 0);
    EXPECT_EQ(wave_in_get_num_devs(), 0u);
    wave_in dev = nullptr;
    wave_format f = pcm(44100, 2, 16);
    EXPECT_EQ(wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_NODRIVER));
    sound_shutdown();
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
