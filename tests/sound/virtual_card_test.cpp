// The virtual sound card: what its input delivers and in what order, the
// conversions, the turntable that keeps its place, pacing, the header rules
// shared with the real card, the output, fault injection and result texts.
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <thread>
#include "platform/sound/sound.h"
#include "platform/system/system.h"
#include "tests/sound/sound_test_util.h"

using namespace sound_test;

namespace {

// An input device with its buffers, driven the way the dialog drives it:
// every buffer that comes back is read and queued again at once.
struct input_rig {
    wave_in dev = nullptr;
    wave_format format = {};
    std::vector<std::vector<uint8_t>> memory;
    std::vector<wave_header> headers;
    std::vector<int> order;   // index of each header as it came back

    unsigned open(const wave_format& f, int count, uint32_t bytes)
    {
        format = f;
        inbox::the().clear();
        unsigned e = wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION);
        if (e)
            return e;
        memory.assign(count, std::vector<uint8_t>(bytes));
        headers.assign(count, wave_header{});
        for (int i = 0; i < count; ++i) {
            headers[i].data = memory[i].data();
            headers[i].buffer_length = bytes;
            if ((e = wave_in_prepare_header(dev, &headers[i], sizeof(wave_header))) ||
                (e = wave_in_add_buffer(dev, &headers[i], sizeof(wave_header))))
                return e;
        }
        return MMSYSERR_NOERROR;
    }

    int index_of(const wave_header* h) const { return int(h - headers.data()); }

    // At least `total` bytes of input, in arrival order.
    std::vector<uint8_t> collect(size_t total)
    {
        std::vector<uint8_t> got;
        callback_event e;
        while (got.size() < total) {
            if (!inbox::the().next(WIM_DATA, &e)) {
                ADD_FAILURE() << "input stopped after " << got.size() << " bytes";
                break;
            }
            EXPECT_TRUE(e.header->flags & WHDR_DONE);
            EXPECT_FALSE(e.header->flags & WHDR_INQUEUE);
            order.push_back(index_of(e.header));
            got.insert(got.end(), e.header->data, e.header->data + e.bytes);
            EXPECT_EQ(wave_in_add_buffer(dev, e.header, sizeof(wave_header)), MMSYSERR_NOERROR);
        }
        return got;
    }

    void close()
    {
        if (!dev)
            return;
        EXPECT_EQ(wave_in_reset(dev), MMSYSERR_NOERROR);
        for (wave_header& h : headers)
            EXPECT_EQ(wave_in_unprepare_header(dev, &h, sizeof h), MMSYSERR_NOERROR);
        EXPECT_EQ(wave_in_close(dev), MMSYSERR_NOERROR);
        dev = nullptr;
    }
    ~input_rig() { close(); }
};

// Pseudo-random 16-bit samples, with both extremes in them.
std::vector<int16_t> noise_samples(size_t n, uint32_t seed)
{
    std::vector<int16_t> s(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = int16_t(x >> 16);
    }
    if (n > 2) {
        s[1] = -32768;
        s[2] = 32767;
    }
    return s;
}

// A stereo record whose samples tell where they are: left holds the frame
// number's low 15 bits, right the bits above them.
std::vector<int16_t> position_samples(uint32_t frames)
{
    std::vector<int16_t> s(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        s[2 * i] = int16_t(i & 0x7FFF);
        s[2 * i + 1] = int16_t(i >> 15);
    }
    return s;
}
uint32_t position_at(const uint8_t* frame)
{
    uint32_t low = uint32_t(frame[0] | (frame[1] << 8));
    uint32_t high = uint32_t(frame[2] | (frame[3] << 8));
    return (high << 15) | low;
}

int16_t s16_at(const std::vector<uint8_t>& b, size_t sample) { return int16_t(b[2 * sample] | (b[2 * sample + 1] << 8)); }

struct VirtualCard : testing::Test {
    scratch_dir dir;

    void SetUp() override
    {
        sound_fail_clear();
        sound_virtual_devices(1, 1);
        sound_set_output_tap(nullptr, nullptr);
        sound_pace_fast();
        clock_set(0);
        inbox::the().clear();
    }
    void TearDown() override
    {
        sound_fail_clear();
        sound_set_output_tap(nullptr, nullptr);
        sound_pace_fast();
    }
    // Makes a WAV file of `samples` and plays it on the virtual card.
    void use_source(uint32_t rate, int channels, const std::vector<int16_t>& samples, const char* name = "source.wav")
    {
        std::string path = dir.file(name);
        write_file(path, wav_bytes(rate, channels, 16, samples_le(samples)));
        ASSERT_EQ(sound_use_virtual(path.c_str()), 0) << sound_source_error();
    }
    // `bytes` of input in `format`, from a fresh start of the record.
    std::vector<uint8_t> record(const wave_format& format, size_t bytes, uint32_t buffer_bytes = 4096)
    {
        input_rig rig;
        EXPECT_EQ(rig.open(format, 4, buffer_bytes), MMSYSERR_NOERROR);
        EXPECT_EQ(wave_in_start(rig.dev), MMSYSERR_NOERROR);
        std::vector<uint8_t> got = rig.collect(bytes);
        got.resize(bytes);
        return got;
    }
};

TEST_F(VirtualCard, SixteenBitSourceInItsOwnFormatComesBackByteForByteInQueueOrder)
{
    std::vector<int16_t> source = noise_samples(44100 * 2 * 2, 7);   // 2 s of stereo
    use_source(44100, 2, source);
    input_rig rig;
    ASSERT_EQ(rig.open(pcm(44100, 2, 16), 5, 4100), MMSYSERR_NOERROR);   // 1025 frames a buffer
    ASSERT_EQ(wave_in_start(rig.dev), MMSYSERR_NOERROR);
    std::vector<uint8_t> got = rig.collect(source.size() * 2 + 44100);

    std::vector<uint8_t> want = samples_le(source);
    ASSERT_GE(got.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "the record's bytes differ";
    // After the last groove: digital silence.
    EXPECT_TRUE(std::all_of(got.begin() + want.size(), got.end(), [](uint8_t b) { return b == 0; }));
    for (size_t i = 0; i < rig.order.size(); ++i)
        ASSERT_EQ(rig.order[i], int(i % 5)) << "buffer " << i << " came back out of queue order";
}

TEST_F(VirtualCard, BuffersHoldWholeFramesOnly)
{
    use_source(44100, 2, noise_samples(44100 * 2, 3));
    input_rig rig;
    ASSERT_EQ(rig.open(pcm(44100, 2, 16), 2, 4098), MMSYSERR_NOERROR);
    ASSERT_EQ(wave_in_start(rig.dev), MMSYSERR_NOERROR);
    callback_event e;
    ASSERT_TRUE(inbox::the().next(WIM_DATA, &e));
    EXPECT_EQ(e.bytes, 4096u);
}

TEST_F(VirtualCard, ConvertsChannelsAndSampleSizeExactly)
{
    std::vector<int16_t> mono = noise_samples(20000, 11);
    use_source(44100, 1, mono);
    std::vector<uint8_t> stereo = record(pcm(44100, 2, 16), 40000);
    for (size_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(s16_at(stereo, 2 * i), mono[i]) << i;
        ASSERT_EQ(s16_at(stereo, 2 * i + 1), mono[i]) << i;
    }

    use_source(44100, 1, mono);
    std::vector<uint8_t> eight = record(pcm(44100, 1, 8), 10000);
    for (size_t i = 0; i < 10000; ++i)
        ASSERT_EQ(eight[i], uint8_t((mono[i] >> 8) + 128)) << i;

    std::vector<int16_t> two = noise_samples(40000, 12);
    use_source(44100, 2, two);
    std::vector<uint8_t> down = record(pcm(44100, 1, 16), 20000);
    for (size_t i = 0; i < 10000; ++i)
        ASSERT_EQ(s16_at(down, i), int16_t((two[2 * i] + two[2 * i + 1]) >> 1)) << i;

    // 8-bit silence after the end sits at the middle value.
    use_source(44100, 1, std::vector<int16_t>(100, 0));
    std::vector<uint8_t> quiet = record(pcm(44100, 2, 8), 4000);
    EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](uint8_t b) { return b == 128; }));
}

// Amplitude of the `hz` component of `x` at `rate`, and what is left over.
void fit_sine(const std::vector<double>& x, double hz, double rate, double* amplitude, double* residual_rms)
{
    double sc = 0, cc = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        sc += x[n] * std::sin(2 * M_PI * hz * n / rate);
        cc += x[n] * std::cos(2 * M_PI * hz * n / rate);
    }
    double a = 2 * sc / x.size(), b = 2 * cc / x.size();
    *amplitude = std::hypot(a, b);
    double rest = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        double e = x[n] - a * std::sin(2 * M_PI * hz * n / rate) - b * std::cos(2 * M_PI * hz * n / rate);
        rest += e * e;
    }
    *residual_rms = std::sqrt(rest / x.size());
}

TEST_F(VirtualCard, ResamplesToTheRateAsked)
{
    std::vector<int16_t> tone(44100 * 2);
    for (size_t n = 0; n < tone.size(); ++n)
        tone[n] = int16_t(std::lround(10000 * std::sin(2 * M_PI * 1000.0 * n / 44100)));
    for (uint32_t rate : {8000u, 22050u, 48000u}) {
        use_source(44100, 1, tone);
        std::vector<uint8_t> got = record(pcm(rate, 1, 16), size_t(rate) * 2 * 3 / 2, 2000);
        // 0.2 s to 1.2 s: past the resampler's start, before the source ends.
        std::vector<double> x;
        for (uint32_t n = rate / 5; n < rate / 5 + rate; ++n)
            x.push_back(s16_at(got, n));
        double amplitude, residual;
        fit_sine(x, 1000.0, rate, &amplitude, &residual);
        EXPECT_NEAR(amplitude, 10000, 100) << rate << " Hz";
        EXPECT_LT(residual, 50) << rate << " Hz";
    }
}

TEST_F(VirtualCard, TheRecordPlaysOnAcrossOpensWhereItStopped)
{
    use_source(44100, 2, position_samples(44100 * 3));
    std::vector<uint8_t> first = record(pcm(44100, 2, 16), 44100 * 4);
    EXPECT_EQ(position_at(&first[0]), 0u);
    // The rig took whole buffers beyond the second asked for; the next open
    // goes on after the last frame delivered.
    input_rig rig;
    ASSERT_EQ(rig.open(pcm(44100, 2, 16), 2, 4096), MMSYSERR_NOERROR);
    ASSERT_EQ(wave_in_start(rig.dev), MMSYSERR_NOERROR);
    std::vector<uint8_t> second = rig.collect(4096);
    uint32_t first_end = (44100 * 4 + 4095) / 4096 * 1024;   // frames in the buffers the first rig saw
    EXPECT_GE(position_at(&second[0]), 44100u);
    EXPECT_LE(position_at(&second[0]), first_end + 4 * 1024);
    for (size_t i = 1; i < 1024; ++i)
        ASSERT_EQ(position_at(&second[4 * i]), position_at(&second[0]) + i);
}

TEST_F(VirtualCard, FastModeMovesTheVirtualClockByTheAudioDelivered)
{
    use_source(44100, 2, noise_samples(1000, 1));
    ASSERT_TRUE(clock_is_virtual());
    clock_set(500);
    // 1000-frame buffers last 22.68 ms each: 441 of them are 10 s exactly.
    std::vector<uint8_t> got = record(pcm(44100, 2, 16), 441 * 4000, 4000);
    EXPECT_GE(get_tick_count(), 500u + 10000u);
    EXPECT_LE(get_tick_count(), 500u + 10000u + 4 * 23);   // plus the buffers still queued
}

TEST_F(VirtualCard, RealTimeInputFollowsTheWallClockAndItsSpeed)
{
    use_source(44100, 2, noise_samples(44100 * 2, 5));
    for (double speed : {1.0, 4.0}) {
        sound_pace_real_time(speed);
        ASSERT_EQ(sound_use_virtual(dir.file("source.wav").c_str()), 0);
        auto t0 = std::chrono::steady_clock::now();
        std::vector<uint8_t> got = record(pcm(44100, 2, 16), 3 * 4410 * 4, 4410 * 4);   // three 0.1 s buffers
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Never faster than the record turns; slower only on a busy machine.
        EXPECT_GE(seconds, 0.3 / speed - 0.02) << "speed " << speed;
        EXPECT_LT(seconds, 0.3 / speed + 2.0) << "speed " << speed;
    }
}

TEST_F(VirtualCard, InRealTimeTheRecordTurnsOnWhileNobodyListens)
{
    use_source(44100, 2, position_samples(44100 * 20));
    sound_pace_real_time(20.0);
    ASSERT_EQ(sound_use_virtual(dir.file("source.wav").c_str()), 0);
    auto dropped = std::chrono::steady_clock::now();
    record(pcm(44100, 2, 16), 4096);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // two seconds of record at 20 times
    input_rig rig;
    ASSERT_EQ(rig.open(pcm(44100, 2, 16), 2, 4096), MMSYSERR_NOERROR);
    auto restarted = std::chrono::steady_clock::now();
    ASSERT_EQ(wave_in_start(rig.dev), MMSYSERR_NOERROR);
    std::vector<uint8_t> got = rig.collect(4096);
    double due = std::chrono::duration<double>(restarted - dropped).count() * 20 * 44100;
    EXPECT_GE(position_at(&got[0]), uint32_t(due) - 44100);
    EXPECT_LE(position_at(&got[0]), uint32_t(due) + 2.0 * 20 * 44100);
}

TEST_F(VirtualCard, InputWithNoBufferQueuedIsLostAndCounted)
{
    use_source(44100, 2, noise_samples(44100, 5));
    sound_pace_real_time(1.0);
    ASSERT_EQ(sound_use_virtual(dir.file("source.wav").c_str()), 0);
    EXPECT_EQ(sound_input_overflows(), 0u);
    wave_in dev = nullptr;
    wave_format f = pcm(44100, 2, 16);
    ASSERT_EQ(wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    ASSERT_EQ(wave_in_start(dev), MMSYSERR_NOERROR);
    for (int i = 0; i < 100 && sound_input_overflows() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sound_input_overflows(), 1u) << "one stretch of lost input counts once";
    EXPECT_EQ(wave_in_reset(dev), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_close(dev), MMSYSERR_NOERROR);
}

TEST_F(VirtualCard, ResetReturnsEveryQueuedBufferThePartlyFilledOneWithItsBytes)
{
    use_source(44100, 2, noise_samples(44100 * 4, 5));
    sound_pace_real_time(1.0);
    ASSERT_EQ(sound_use_virtual(dir.file("source.wav").c_str()), 0);
    input_rig rig;
    ASSERT_EQ(rig.open(pcm(44100, 2, 16), 3, 4 * 44100 * 2), MMSYSERR_NOERROR);   // 2 s each
    ASSERT_EQ(wave_in_start(rig.dev), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));

    // Stop hands back only the buffer being filled; the empty ones stay queued.
    ASSERT_EQ(wave_in_stop(rig.dev), MMSYSERR_NOERROR);
    std::vector<callback_event> stopped = inbox::the().take_all();
    ASSERT_EQ(stopped.size(), 2u);   // WIM_OPEN, then the partial buffer
    EXPECT_EQ(stopped[1].message, unsigned(WIM_DATA));
    EXPECT_EQ(rig.index_of(stopped[1].header), 0);
    EXPECT_GT(stopped[1].bytes, 0u);
    EXPECT_LT(stopped[1].bytes, 4u * 44100 * 2);
    EXPECT_EQ(stopped[1].bytes % 4, 0u);
    EXPECT_TRUE(rig.headers[1].flags & WHDR_INQUEUE);

    // Reset hands back the rest, in queue order, with nothing in them.
    ASSERT_EQ(wave_in_reset(rig.dev), MMSYSERR_NOERROR);
    std::vector<callback_event> reset = inbox::the().take_all();
    ASSERT_EQ(reset.size(), 2u);
    EXPECT_EQ(rig.index_of(reset[0].header), 1);
    EXPECT_EQ(rig.index_of(reset[1].header), 2);
    for (const callback_event& e : reset) {
        EXPECT_EQ(e.bytes, 0u);
        EXPECT_EQ(e.header->flags & (WHDR_DONE | WHDR_INQUEUE), uint32_t(WHDR_DONE));
    }
}

TEST_F(VirtualCard, HeaderRulesAndHandles)
{
    use_source(44100, 2, noise_samples(1000, 5));
    wave_in dev = nullptr;
    wave_format f = pcm(44100, 2, 16);
    ASSERT_EQ(wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    std::vector<uint8_t> memory(4096);
    wave_header h = {};
    h.data = memory.data();
    h.buffer_length = 4096;

    EXPECT_EQ(wave_in_add_buffer(dev, &h, sizeof h), unsigned(WAVERR_UNPREPARED));
    EXPECT_EQ(wave_in_prepare_header(dev, &h, sizeof h), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_prepare_header(dev, &h, sizeof h), MMSYSERR_NOERROR) << "preparing twice is harmless";
    EXPECT_EQ(wave_in_add_buffer(dev, &h, sizeof h), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_add_buffer(dev, &h, sizeof h), unsigned(WAVERR_STILLPLAYING));
    EXPECT_EQ(wave_in_unprepare_header(dev, &h, sizeof h), unsigned(WAVERR_STILLPLAYING));
    EXPECT_EQ(wave_in_close(dev), unsigned(WAVERR_STILLPLAYING));
    EXPECT_EQ(wave_in_add_buffer(dev, nullptr, sizeof h), unsigned(MMSYSERR_INVALPARAM));
    EXPECT_EQ(wave_in_add_buffer(dev, &h, 8), unsigned(MMSYSERR_INVALPARAM));

    EXPECT_EQ(wave_in_reset(dev), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_unprepare_header(dev, &h, sizeof h), MMSYSERR_NOERROR);
    EXPECT_FALSE(h.flags & WHDR_PREPARED);
    EXPECT_EQ(wave_in_close(dev), MMSYSERR_NOERROR);

    // A closed device is no device.
    EXPECT_EQ(wave_in_start(dev), unsigned(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(wave_in_close(dev), unsigned(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(wave_in_stop(nullptr), unsigned(MMSYSERR_INVALHANDLE));
    std::vector<callback_event> events = inbox::the().take_all();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front().message, unsigned(WIM_OPEN));
    EXPECT_EQ(events.back().message, unsigned(WIM_CLOSE));
}

TEST_F(VirtualCard, RefusesWhatIsNotPlainPcmAndOnlyOneInputAtATime)
{
    use_source(44100, 2, noise_samples(1000, 5));
    wave_in dev = nullptr;
    auto try_open = [&](wave_format f) { return wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION); };
    wave_format adpcm = pcm(44100, 2, 16);
    adpcm.format_tag = WAVE_FORMAT_IMA_ADPCM;
    EXPECT_EQ(try_open(adpcm), unsigned(WAVERR_BADFORMAT));
    wave_format four_bits = pcm(44100, 2, 4);   // a codec's 4 bits give a block alignment of 0
    four_bits.block_align = 2 * (4 / 8);
    EXPECT_EQ(try_open(four_bits), unsigned(WAVERR_BADFORMAT));
    EXPECT_EQ(try_open(pcm(44100, 3, 16)), unsigned(WAVERR_BADFORMAT));
    EXPECT_EQ(try_open(pcm(0, 2, 16)), unsigned(WAVERR_BADFORMAT));
    wave_format wrong_rate = pcm(44100, 2, 16);
    wrong_rate.avg_bytes_per_sec = 1234;
    EXPECT_EQ(try_open(wrong_rate), unsigned(WAVERR_BADFORMAT));
    EXPECT_EQ(dev, nullptr);

    wave_format good = pcm(22050, 1, 8);
    EXPECT_EQ(wave_in_open(nullptr, WAVE_MAPPER, &good, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_open(&dev, 7, &good, inbox::callback, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(wave_in_open(&dev, WAVE_MAPPER, &good, nullptr, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_INVALPARAM));
    ASSERT_EQ(try_open(good), MMSYSERR_NOERROR);
    wave_in second = nullptr;
    EXPECT_EQ(wave_in_open(&second, WAVE_MAPPER, &good, inbox::callback, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_ALLOCATED));
    EXPECT_EQ(sound_use_virtual("demo"), -1) << "the source stays while a device is open";
    EXPECT_EQ(wave_in_close(dev), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_open(&second, WAVE_MAPPER, &good, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_in_close(second), MMSYSERR_NOERROR);
}

TEST_F(VirtualCard, DeviceCountsAndCapabilities)
{
    use_source(44100, 2, noise_samples(1000, 5));
    EXPECT_EQ(wave_in_get_num_devs(), 1u);
    wave_in_caps caps;
    ASSERT_EQ(wave_in_get_dev_caps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_GT(std::strlen(caps.name), 0u);
    EXPECT_EQ(caps.channels, 2);
    EXPECT_EQ(wave_in_get_dev_caps(1, &caps, sizeof caps), unsigned(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(wave_in_get_dev_caps(0, &caps, 20), unsigned(MMSYSERR_INVALPARAM));

    sound_virtual_devices(0, 1);
    EXPECT_EQ(wave_in_get_num_devs(), 0u);
    wave_in dev = nullptr;
    wave_format f = pcm(44100, 2, 16);
    EXPECT_EQ(wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_NODRIVER));
    EXPECT_EQ(wave_out_get_num_devs(), 1u);
}

TEST_F(VirtualCard, AnyCallCanBeMadeToFailOnceWithAChosenCode)
{
    use_source(44100, 2, noise_samples(44100, 5));
    wave_format f = pcm(44100, 2, 16);
    std::vector<uint8_t> memory(4096);

    // The third add fails, the ones around it work.
    wave_in dev = nullptr;
    ASSERT_EQ(wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    sound_fail_call(SOUND_IN_ADD_BUFFER, MMSYSERR_NOMEM, 2);
    wave_header h[4] = {};
    unsigned results[4];
    for (int i = 0; i < 4; ++i) {
        h[i].data = memory.data();
        h[i].buffer_length = 1024;
        wave_in_prepare_header(dev, &h[i], sizeof h[i]);
        results[i] = wave_in_add_buffer(dev, &h[i], sizeof h[i]);
    }
    EXPECT_EQ(results[0], MMSYSERR_NOERROR);
    EXPECT_EQ(results[1], MMSYSERR_NOERROR);
    EXPECT_EQ(results[2], unsigned(MMSYSERR_NOMEM));
    EXPECT_EQ(results[3], MMSYSERR_NOERROR);
    EXPECT_FALSE(h[2].flags & WHDR_INQUEUE) << "a failed call does nothing";
    wave_in_reset(dev);

    // Every other input call, once each.
    const sound_call input_calls[] = {SOUND_IN_PREPARE, SOUND_IN_START, SOUND_IN_STOP, SOUND_IN_RESET,
                                      SOUND_IN_UNPREPARE, SOUND_IN_CLOSE};
    for (sound_call c : input_calls) {
        sound_fail_call(c, 40 + c);
        unsigned e = 0;
        switch (c) {
        case SOUND_IN_PREPARE: e = wave_in_prepare_header(dev, &h[0], sizeof h[0]); break;
        case SOUND_IN_START: e = wave_in_start(dev); break;
        case SOUND_IN_STOP: e = wave_in_stop(dev); break;
        case SOUND_IN_RESET: e = wave_in_reset(dev); break;
        case SOUND_IN_UNPREPARE: e = wave_in_unprepare_header(dev, &h[0], sizeof h[0]); break;
        case SOUND_IN_CLOSE: e = wave_in_close(dev); break;
        default: break;
        }
        EXPECT_EQ(e, unsigned(40 + c)) << "call " << c;
    }
    wave_in_reset(dev);
    for (wave_header& x : h)
        wave_in_unprepare_header(dev, &x, sizeof x);
    EXPECT_EQ(wave_in_close(dev), MMSYSERR_NOERROR);

    sound_fail_call(SOUND_IN_OPEN, MMSYSERR_ALLOCATED);
    EXPECT_EQ(wave_in_open(&dev, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_ALLOCATED));
    sound_fail_call(SOUND_IN_CAPS, MMSYSERR_NODRIVER);
    wave_in_caps caps;
    EXPECT_EQ(wave_in_get_dev_caps(0, &caps, sizeof caps), unsigned(MMSYSERR_NODRIVER));
    EXPECT_EQ(wave_in_get_dev_caps(0, &caps, sizeof caps), MMSYSERR_NOERROR);

    // Output calls.
    wave_out out = nullptr;
    sound_fail_call(SOUND_OUT_OPEN, MMSYSERR_NOMEM);
    EXPECT_EQ(wave_out_open(&out, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), unsigned(MMSYSERR_NOMEM));
    ASSERT_EQ(wave_out_open(&out, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    mm_time t = {TIME_SAMPLES, 0};
    const sound_call output_calls[] = {SOUND_OUT_PREPARE, SOUND_OUT_WRITE, SOUND_OUT_PAUSE, SOUND_OUT_RESTART,
                                       SOUND_OUT_RESET, SOUND_OUT_POSITION, SOUND_OUT_UNPREPARE, SOUND_OUT_CLOSE};
    for (sound_call c : output_calls) {
        sound_fail_call(c, 60 + c);
        unsigned e = 0;
        switch (c) {
        case SOUND_OUT_PREPARE: e = wave_out_prepare_header(out, &h[0], sizeof h[0]); break;
        case SOUND_OUT_WRITE: e = wave_out_write(out, &h[0], sizeof h[0]); break;
        case SOUND_OUT_PAUSE: e = wave_out_pause(out); break;
        case SOUND_OUT_RESTART: e = wave_out_restart(out); break;
        case SOUND_OUT_RESET: e = wave_out_reset(out); break;
        case SOUND_OUT_POSITION: e = wave_out_get_position(out, &t, sizeof t); break;
        case SOUND_OUT_UNPREPARE: e = wave_out_unprepare_header(out, &h[0], sizeof h[0]); break;
        case SOUND_OUT_CLOSE: e = wave_out_close(out); break;
        default: break;
        }
        EXPECT_EQ(e, unsigned(60 + c)) << "call " << c;
    }
    EXPECT_EQ(wave_out_close(out), MMSYSERR_NOERROR);
}

// Opens an input and an output, sets both running and leaves the program
// with exit(0), as the program leaves a Monitor ring that still runs.
void exit_with_devices_running()
{
    // Never closed, on purpose; held where the exit's leak check sees them
    // as the program holds its running ring.
    static input_rig* rig = new input_rig;
    rig->open(pcm(44100, 2, 16), 4, 1024);
    wave_in_start(rig->dev);
    wave_out out = nullptr;
    wave_format f = pcm(44100, 2, 16);
    wave_out_open(&out, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION);
    static auto* bytes = new std::vector<uint8_t>(44100 * 4);
    static auto* h = new wave_header{};
    h->data = bytes->data();
    h->buffer_length = uint32_t(bytes->size());
    wave_out_prepare_header(out, h, sizeof *h);
    wave_out_write(out, h, sizeof *h);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::exit(0);
}

TEST_F(VirtualCard, AProgramThatEndsWithItsDevicesRunningEndsCleanly)
{
    use_source(44100, 2, noise_samples(44100, 5));
    sound_pace_real_time(1.0);
    ASSERT_EQ(sound_use_virtual(dir.file("source.wav").c_str()), 0);
    EXPECT_EXIT(exit_with_devices_running(), testing::ExitedWithCode(0), "");
}

// --- output ---------------------------------------------------------------------

struct tap_record {
    std::mutex lock;
    std::vector<uint8_t> bytes;
    static void tap(const uint8_t* b, uint32_t n, void* user)
    {
        auto* self = static_cast<tap_record*>(user);
        std::lock_guard<std::mutex> held(self->lock);
        self->bytes.insert(self->bytes.end(), b, b + n);
    }
};

TEST_F(VirtualCard, OutputPlaysBuffersInOrderAndKeepsThePosition)
{
    use_source(44100, 2, noise_samples(1000, 5));
    tap_record played;
    sound_set_output_tap(tap_record::tap, &played);
    clock_set(0);
    wave_format f = pcm(22050, 2, 16);
    wave_out out = nullptr;
    ASSERT_EQ(wave_out_open(&out, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);

    std::vector<int16_t> samples = noise_samples(22050 * 2, 9);   // 1 s
    std::vector<uint8_t> bytes = samples_le(samples);
    wave_header h[3] = {};
    uint32_t part = uint32_t(bytes.size() / 3);
    for (int i = 0; i < 3; ++i) {
        h[i].data = bytes.data() + i * part;
        h[i].buffer_length = part;
        ASSERT_EQ(wave_out_prepare_header(out, &h[i], sizeof h[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(wave_out_write(out, &h[i], sizeof h[i]), MMSYSERR_NOERROR);
    }
    for (int i = 0; i < 3; ++i) {
        callback_event e;
        ASSERT_TRUE(inbox::the().next(WOM_DONE, &e));
        EXPECT_EQ(e.header, &h[i]);
        EXPECT_EQ(e.header->flags & (WHDR_DONE | WHDR_INQUEUE), uint32_t(WHDR_DONE));
    }
    EXPECT_EQ(played.bytes, bytes);
    EXPECT_EQ(get_tick_count(), 1000u);

    mm_time t = {TIME_SAMPLES, 0};
    ASSERT_EQ(wave_out_get_position(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.value, 22050u);
    t = {TIME_MS, 0};
    wave_out_get_position(out, &t, sizeof t);
    EXPECT_EQ(t.value, 1000u);
    t = {0x40, 0};   // a unit the device does not keep
    wave_out_get_position(out, &t, sizeof t);
    EXPECT_EQ(t.type, uint32_t(TIME_BYTES));
    EXPECT_EQ(t.value, uint32_t(bytes.size()));

    // Reset: position back to 0.
    EXPECT_EQ(wave_out_reset(out), MMSYSERR_NOERROR);
    t = {TIME_SAMPLES, 0};
    wave_out_get_position(out, &t, sizeof t);
    EXPECT_EQ(t.value, 0u);
    for (wave_header& x : h)
        EXPECT_EQ(wave_out_unprepare_header(out, &x, sizeof x), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_out_close(out), MMSYSERR_NOERROR);
}

TEST_F(VirtualCard, PausedOutputHoldsItsBuffersAndPositionUntilRestartOrReset)
{
    use_source(44100, 2, noise_samples(1000, 5));
    sound_pace_real_time(4.0);
    ASSERT_EQ(sound_use_virtual(dir.file("source.wav").c_str()), 0);
    wave_format f = pcm(44100, 2, 16);
    wave_out out = nullptr;
    ASSERT_EQ(wave_out_open(&out, WAVE_MAPPER, &f, inbox::callback, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    std::vector<uint8_t> bytes(44100 * 4);   // 1 s, played in a quarter of one
    wave_header h = {};
    h.data = bytes.data();
    h.buffer_length = uint32_t(bytes.size());
    ASSERT_EQ(wave_out_prepare_header(out, &h, sizeof h), MMSYSERR_NOERROR);
    ASSERT_EQ(wave_out_write(out, &h, sizeof h), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(wave_out_pause(out), MMSYSERR_NOERROR);
    mm_time a = {TIME_SAMPLES, 0}, b = {TIME_SAMPLES, 0};
    wave_out_get_position(out, &a, sizeof a);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    wave_out_get_position(out, &b, sizeof b);
    EXPECT_GT(a.value, 0u);
    EXPECT_LT(a.value, 44100u);
    EXPECT_EQ(a.value, b.value) << "a paused device does not move";
    EXPECT_EQ(inbox::the().count(WOM_DONE), 0u);
    EXPECT_EQ(wave_out_close(out), unsigned(WAVERR_STILLPLAYING));

    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(wave_out_restart(out), MMSYSERR_NOERROR);
    callback_event e;
    ASSERT_TRUE(inbox::the().next(WOM_DONE, &e, 2000));
    double rest = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(rest, (1.0 - a.value / 44100.0) / 4 - 0.03) << "the rest plays at its pace";

    // A reset while paused returns the buffer and stays paused.
    ASSERT_EQ(wave_out_pause(out), MMSYSERR_NOERROR);
    ASSERT_EQ(wave_out_write(out, &h, sizeof h), MMSYSERR_NOERROR);
    ASSERT_EQ(wave_out_reset(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(inbox::the().next(WOM_DONE, &e, 0));
    ASSERT_EQ(wave_out_write(out, &h, sizeof h), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mm_time c = {TIME_SAMPLES, 0};
    wave_out_get_position(out, &c, sizeof c);
    EXPECT_EQ(c.value, 0u);
    ASSERT_EQ(wave_out_reset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_out_unprepare_header(out, &h, sizeof h), MMSYSERR_NOERROR);
    EXPECT_EQ(wave_out_close(out), MMSYSERR_NOERROR);
}

// --- texts and choices ------------------------------------------------------------

TEST(SoundTexts, EveryResultHasItsOwnTextCutToTheRoomGiven)
{
    const unsigned codes[] = {MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_NOTENABLED, MMSYSERR_ALLOCATED,
                              MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_NOTSUPPORTED,
                              MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM, WAVERR_BADFORMAT, WAVERR_STILLPLAYING,
                              WAVERR_UNPREPARED};
    std::vector<std::string> seen;
    for (unsigned c : codes) {
        char text[256];
        ASSERT_EQ(wave_in_get_error_text(c, text, sizeof text), MMSYSERR_NOERROR);
        EXPECT_GT(std::strlen(text), 10u);
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end()) << text;
        seen.push_back(text);
    }
    char text[256];
    wave_out_get_error_text(4242, text, sizeof text);
    EXPECT_NE(std::string(text).find("4242"), std::string::npos);
    char small[12];
    wave_in_get_error_text(WAVERR_BADFORMAT, small, sizeof small);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
    EXPECT_EQ(wave_in_get_error_text(WAVERR_BADFORMAT, nullptr, 10), unsigned(MMSYSERR_INVALPARAM));
}

TEST_F(VirtualCard, ASourceThatCannotPlayIsRefusedWithItsReasonAndTheOldOneStays)
{
    use_source(44100, 2, position_samples(10000));
    struct bad {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    };
    std::vector<uint8_t> eight = wav_bytes(44100, 1, 8, std::vector<uint8_t>(100, 128));
    std::vector<uint8_t> three = wav_bytes(44100, 3, 16, std::vector<uint8_t>(120, 0));
    std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
    std::vector<uint8_t> cut = wav_bytes(44100, 2, 16, std::vector<uint8_t>(400, 0));
    cut.resize(30);   // ends inside the format chunk
    for (const bad& b : {bad{"eight.wav", eight, "16-bit"}, bad{"three.wav", three, "16-bit"},
                         bad{"text.wav", text, "not a WAV"}, bad{"cut.wav", cut, "format"}}) {
        std::string path = dir.file(b.name);
        write_file(path, b.bytes);
        EXPECT_EQ(sound_use_virtual(path.c_str()), -1) << b.name;
        std::string why = sound_source_error();
        EXPECT_NE(why.find(b.name), std::string::npos) << why;
        EXPECT_NE(why.find(b.reason), std::string::npos) << why;
    }
    EXPECT_EQ(sound_use_virtual(dir.file("missing.wav").c_str()), -1);
    EXPECT_NE(std::string(sound_source_error()).find("No such file"), std::string::npos);
    EXPECT_EQ(sound_use_virtual(""), -1);

    EXPECT_TRUE(sound_is_virtual());
    std::vector<uint8_t> got = record(pcm(44100, 2, 16), 4096);
    EXPECT_EQ(position_at(&got[4 * 100]), 100u) << "the earlier source still plays";
}

TEST_F(VirtualCard, ReadsWavFilesWithOtherChunksAndCutShort)
{
    // A LIST chunk of odd size (with its pad byte) before the format, and a
    // data size that runs past the end of the file.
    std::vector<int16_t> s = position_samples(3000);
    std::vector<uint8_t> data = samples_le(s);
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    std::vector<uint8_t> canonical = wav_bytes(44100, 2, 16, data);
    b.insert(b.end(), canonical.begin() + 12, canonical.end());
    size_t data_size_at = 24 + 24 + 4;   // RIFF header and LIST, "fmt ", "data"
    b[data_size_at + 2] = 0x10;   // claims about a megabyte more than there is
    std::string path = dir.file("odd.wav");
    write_file(path, b);
    ASSERT_EQ(sound_use_virtual(path.c_str()), 0) << sound_source_error();
    std::vector<uint8_t> got = record(pcm(44100, 2, 16), 16000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + data.size(), got.end(), [](uint8_t x) { return x == 0; }));
}

TEST_F(VirtualCard, CommandLineOptions)
{
    EXPECT_EQ(sound_parse_option("--source=demo"), 1);
    EXPECT_TRUE(sound_is_virtual());
    EXPECT_EQ(sound_parse_option("--speed=2.5"), 1);
    EXPECT_FALSE(sound_pace_is_fast());
    EXPECT_EQ(sound_parse_option("--fast"), 1);
    EXPECT_TRUE(sound_pace_is_fast());
    EXPECT_EQ(sound_parse_option("--speed=0"), -1);
    EXPECT_EQ(sound_parse_option("--speed=fast"), -1);
    EXPECT_NE(std::string(sound_source_error()).find("--speed"), std::string::npos);
    EXPECT_EQ(sound_parse_option("--source=/nonexistent/x.wav"), -1);
    EXPECT_EQ(sound_parse_option("--lang=pl"), 0);
}

}  // namespace

// The clock that everything counted in seconds reads, as the virtual
// card's pace changes: fast mode drives it by the audio delivered, and a
// later choice of real time (the last of --fast and --speed=N wins) gives
// back a clock that moves, at the speed chosen.
TEST(PaceClock, RealTimeAfterFastModeGivesBackAClockThatMovesAtTheSpeedChosen)
{
    ASSERT_EQ(sound_use_virtual("demo"), 0);
    ASSERT_EQ(sound_parse_option("--fast"), 1);
    EXPECT_TRUE(clock_is_virtual());
    ASSERT_EQ(sound_parse_option("--speed=4"), 1);
    EXPECT_FALSE(sound_pace_is_fast());
    EXPECT_FALSE(clock_is_virtual()) << "no device moves a virtual clock in real time";
    const uint32_t before = get_tick_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint32_t moved = get_tick_count() - before;
    EXPECT_GE(moved, 4u * 90u);
    EXPECT_LT(moved, 4u * 2000u);

    // Back to fast mode: the virtual clock again, as the tests and the batch tool use it.
    sound_pace_fast();
    EXPECT_TRUE(clock_is_virtual());
    sound_pace_real_time(1.0);
    sound_pace_fast();
}
