// Every codec's output read back by decoders no one here wrote (sox for the
// WAV forms, mpg123 for MPEG frames) and compared with the input.
#include <gtest/gtest.h>
#include "platform/acm/g711.h"
#include "tests/acm/codec_check.h"
#include "tests/support/music_signal.h"
#include "tests/support/sox_check.h"
#include "platform/window/window.h"

using namespace codec_check;

namespace {
bool mpg123_available() { return std::system("mpg123 --version >/dev/null 2>&1") == 0; }

std::vector<uint8_t> as_bytes(const std::vector<int16_t>& samples)
{
    const auto* p = reinterpret_cast<const uint8_t*>(samples.data());
    return std::vector<uint8_t>(p, p + samples.size() * 2);
}
} // namespace

TEST(G711, TablesAreTheStandardOnes)
{
    SKIP_WITHOUT_SOX();
    // Fixed points of the standard: silence, the two extremes, and -1.
    EXPECT_EQ(linear_to_alaw(0), 0xD5);
    EXPECT_EQ(linear_to_alaw(-1), 0x55);
    EXPECT_EQ(linear_to_alaw(32767), 0xAA);
    EXPECT_EQ(linear_to_alaw(-32768), 0x2A);
    EXPECT_EQ(linear_to_mulaw(0), 0xFF);
    EXPECT_EQ(linear_to_mulaw(-1), 0x7F);
    EXPECT_EQ(linear_to_mulaw(32767), 0x80);
    EXPECT_EQ(linear_to_mulaw(-32768), 0x00);
    EXPECT_EQ(alaw_to_linear(0xD5), 8);
    EXPECT_EQ(alaw_to_linear(0xAA), 32256);
    EXPECT_EQ(mulaw_to_linear(0x80), 32124);
    EXPECT_EQ(mulaw_to_linear(0x00), -32124);

    // Every code decodes as sox decodes it, and encodes back to itself
    // (mu-law's two zeros both come back as the positive one).
    scratch_dir dir;
    for (uint16_t tag : {WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW}) {
        format_area f = format_of(tag == WAVE_FORMAT_ALAW ? "alaw,8000,1" : "mulaw,8000,1");
        std::vector<uint8_t> codes(256);
        for (int c = 0; c < 256; ++c)
            codes[c] = uint8_t(c);
        write_wav(dir.file("codes.wav"), f, codes);
        std::vector<int16_t> decoded = sox_decode(dir, dir.file("codes.wav"));
        ASSERT_EQ(decoded.size(), 256u);
        for (int c = 0; c < 256; ++c) {
            int16_t ours = tag == WAVE_FORMAT_ALAW ? alaw_to_linear(uint8_t(c)) : mulaw_to_linear(uint8_t(c));
            ASSERT_EQ(ours, decoded[c]) << "tag " << tag << " code " << c;
            uint8_t back = tag == WAVE_FORMAT_ALAW ? linear_to_alaw(ours) : linear_to_mulaw(ours);
            EXPECT_EQ(back, c == 0x7F && tag == WAVE_FORMAT_MULAW ? 0xFF : c) << c;
        }
    }
    // Encoding never moves against the input, and stays within one step.
    int prev_a = -40000, prev_u = -40000;
    for (int x = -32768; x <= 32767; ++x) {
        int a = alaw_to_linear(linear_to_alaw(int16_t(x)));
        int u = mulaw_to_linear(linear_to_mulaw(int16_t(x)));
        ASSERT_GE(a, prev_a) << x;
        ASSERT_GE(u, prev_u) << x;
        ASSERT_LE(std::abs(a - x), 1024) << x;
        ASSERT_LE(std::abs(u - x), 1024) << x;
        prev_a = a;
        prev_u = u;
    }
}

// Our files decoded by sox, against the input; and no worse than sox's own
// encoder on the same signal where sox has one that works for the layout.
TEST(Codecs, SoxReadsEveryWavFormAndTheSoundMatches)
{
    SKIP_WITHOUT_SOX();
    struct {
        const char* spelling;
        double floor_db;          // SNR on the test signal
        const char* sox_encoder;  // null: no comparison
    } cases[] = {
        // sox writes IMA ADPCM in 256-byte blocks at every rate; the standard
        // blocks at 22 kHz and up are larger, so compare where they agree.
        {"ima-adpcm,44100,2", 42.7, nullptr},
        {"ima-adpcm,11025,1", 32.2, "-e ima-adpcm"},
        {"ima-adpcm,8000,1", 28.8, "-e ima-adpcm"},
        {"adpcm,44100,2", 47.0, "-e ms-adpcm"},
        {"adpcm,8000,1", 32.8, "-e ms-adpcm"},
        {"alaw,44100,2", 37.2, "-e a-law"},
        {"mulaw,44100,2", 37.0, "-e u-law"},
        {"gsm,8000,1", 14.5, "-e gsm-full-rate"},
    };
    scratch_dir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spelling);
        format_area f = format_of(c.spelling);
        auto signal = music_signal(f.fmt.samples_per_sec, f.fmt.channels, f.fmt.samples_per_sec * 2);
        write_wav(dir.file("ours.wav"), f, encode_all(f, signal));
        std::vector<int16_t> decoded = sox_decode(dir, dir.file("ours.wav"));
        // Nothing of the input is missing; the tail is at most one padded block.
        ASSERT_GE(decoded.size(), signal.size());
        double ours = snr_db(signal, decoded, f.fmt.channels);
        EXPECT_GE(ours, c.floor_db);
        if (!c.sox_encoder)
            continue;
        write_wav(dir.file("in.wav"), pcm_source_for(f), as_bytes(signal));
        ASSERT_TRUE(run("sox -D '" + dir.file("in.wav") + "' " + c.sox_encoder + " '" + dir.file("sox.wav") + "'"));
        double theirs = snr_db(signal, sox_decode(dir, dir.file("sox.wav")), f.fmt.channels);
        EXPECT_GE(ours, theirs - 0.05) << "sox's encoder reaches " << theirs << " dB";
    }
}

TEST(Codecs, Mpg123DecodesMpegFramesWithNothingLost)
{
    if (!mpg123_available())
        GTEST_SKIP() << "mpg123 is not installed (scripts/install-deps installs it)";
    scratch_dir dir;
    struct {
        const char* spelling;
        double floor_db;
    } cases[] = {{"mp3,44100,2,128", 24.0}, {"mp3,44100,2,320", 45.0}, {"mp3,22050,1,64", 24.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spelling);
        format_area f = format_of(c.spelling);
        const int ch = f.fmt.channels;
        auto signal = music_signal(f.fmt.samples_per_sec, ch, f.fmt.samples_per_sec * 2);
        std::vector<uint8_t> frames = encode_all(f, signal);
        // The bit rate holds: bytes per second as the format says, within a frame.
        double seconds = double(signal.size() / ch) / f.fmt.samples_per_sec;
        EXPECT_NEAR(frames.size() / seconds, f.fmt.avg_bytes_per_sec, f.fmt.avg_bytes_per_sec * 0.05);
        std::vector<int16_t> decoded = mpg123_decode(dir, frames);
        int lag = -1;
        double snr = snr_db(signal, decoded, ch, 2000, &lag);
        EXPECT_GE(snr, c.floor_db);
        EXPECT_EQ(lag, 1105) << "encoder plus decoder delay, as the format's extra bytes say";
        EXPECT_EQ(f.bytes[28] | f.bytes[29] << 8, lag);
        // The END conversion gave out what LAME held: the last input frame is there.
        EXPECT_GE(decoded.size() / ch, signal.size() / ch + size_t(lag));
    }
}

// Every format the chooser offers makes a file an independent decoder reads,
// of the right length and recognisably the input.
TEST(Codecs, EveryOfferedFormatDecodes)
{
    SKIP_WITHOUT_SOX();
    const bool have_mpg123 = mpg123_available();
    const format_choice* list = nullptr;
    int count = acm_format_choices(&list);
    scratch_dir dir;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(list[i].spelling);
        format_area f = format_of(list[i].spelling);
        if (f.fmt.format_tag == WAVE_FORMAT_PCM && f.fmt.bits_per_sample == 8)
            continue;   // the recording never makes it
        const int ch = f.fmt.channels;
        auto signal = music_signal(f.fmt.samples_per_sec, ch, f.fmt.samples_per_sec / 5, uint32_t(i));
        std::vector<uint8_t> data = encode_all(f, signal);
        ASSERT_FALSE(data.empty());
        std::vector<int16_t> decoded;
        int max_lag = 0;
        if (f.fmt.format_tag == WAVE_FORMAT_MPEGLAYER3) {
            if (!have_mpg123)
                continue;
            decoded = mpg123_decode(dir, data);
            max_lag = 1200;
        } else {
            write_wav(dir.file("f.wav"), f, data);
            decoded = sox_decode(dir, dir.file("f.wav"));
            ASSERT_LE(decoded.size(), signal.size() + size_t(ch) * 2048) << "more than one padded block";
        }
        ASSERT_GE(decoded.size(), signal.size());
        EXPECT_GT(snr_db(signal, decoded, ch, max_lag), f.fmt.format_tag == WAVE_FORMAT_GSM610 ? 6.0 : 12.0);
    }
}
