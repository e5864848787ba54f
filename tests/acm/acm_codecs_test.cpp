// Every codec's output read back by decoders no one here wrote (sox for the
// WAV forms, mpg123 for MPEG frames) and compared with the input.
#include <gtest/gtest.h>
#include "platform/acm/g711.h"
#include <algorithm>
#include "tests/acm/codec_check.h"
#include "tests/acm/codec_signals.h"
#include "tests/support/music_signal.h"
#include "tests/support/sox_check.h"
#include "platform/window/window.h"

using namespace codec_check;

namespace {
bool mpg123_available() { return std::system("mpg123 --version >/dev/null 2>&1") == 0; }

// The companding as first written, segment by segment in a loop: the
// coders must give the same byte for every input.
uint8_t alaw_by_loop(int16_t sample)
{
    int pcm = sample >> 3;
    uint8_t mask = pcm >= 0 ? 0xD5 : 0x55;
    if (pcm < 0)
        pcm = -pcm - 1;
    int seg = 0;
    for (int bound = 0x1F; seg < 8 && pcm > bound; bound = (bound << 1) | 1)
        ++seg;
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    uint8_t aval = uint8_t(seg << 4);
    aval |= seg < 2 ? uint8_t((pcm >> 1) & 0x0F) : uint8_t((pcm >> seg) & 0x0F);
    return uint8_t(aval ^ mask);
}
uint8_t mulaw_by_loop(int16_t sample)
{
    int magnitude = ((sample < 0 ? ~sample : sample) >> 2) + 33;
    if (magnitude > 0x1FFF)
        magnitude = 0x1FFF;
    int segment = 1;
    for (int i = magnitude >> 6; i != 0; i >>= 1)
        ++segment;
    uint8_t code = uint8_t(((8 - segment) << 4) | (15 - ((magnitude >> segment) & 0x0F)));
    return sample >= 0 ? uint8_t(code | 0x80) : code;
}

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
    // Encoding never moves against the input, and stays within one step;
    // every input gives the byte the segment loops gave.
    int prev_a = -40000, prev_u = -40000;
    for (int x = -32768; x <= 32767; ++x) {
        ASSERT_EQ(linear_to_alaw(int16_t(x)), alaw_by_loop(int16_t(x))) << x;
        ASSERT_EQ(linear_to_mulaw(int16_t(x)), mulaw_by_loop(int16_t(x))) << x;
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
        // The ADPCM encoders are held to both decoder families below.
        {"ima-adpcm,44100,2", 42.5, nullptr},
        {"ima-adpcm,8000,1", 28.0, nullptr},
        {"adpcm,44100,2", 46.0, nullptr},
        {"adpcm,8000,1", 32.0, nullptr},
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

// The ADPCM files on both decoder families, sox's and ffmpeg's, against the
// input and against the two programs' own encoders on the same signal. Tag 2
// is exact: both must give the same samples, at least as good as ffmpeg's
// encoder. IMA's two families round a code differently: the worse of our two
// decodings is held to the best peer's worse one.
TEST(Codecs, AdpcmSoundsAsGoodInBothDecoderFamilies)
{
    SKIP_WITHOUT_SOX();
    ASSERT_TRUE(run("ffmpeg -version >/dev/null")) << "ffmpeg is not installed (scripts/install-deps installs it)";
    struct {
        const char* spelling;
        int kind;   // in codec_signals::kinds
        double floor_db;
    } cases[] = {
        {"adpcm,44100,2", 0, 45.0},     {"adpcm,16000,1", 1, 19.5},      {"adpcm,8000,1", 2, 15.0},
        {"adpcm,8000,1", 3, 20.0},      {"ima-adpcm,44100,2", 0, 42.0},  {"ima-adpcm,22050,2", 1, 19.5},
        {"ima-adpcm,16000,1", 1, 18.0}, {"ima-adpcm,22050,1", 2, 14.5},  {"ima-adpcm,8000,1", 3, 13.5},
    };
    scratch_dir dir;
    for (const auto& c : cases) {
        const codec_signals::kind& kind = codec_signals::kinds[c.kind];
        SCOPED_TRACE(std::string(c.spelling) + " " + kind.name);
        format_area f = format_of(c.spelling);
        const int ch = f.fmt.channels;
        const bool ima = f.fmt.format_tag == WAVE_FORMAT_IMA_ADPCM;
        auto signal = kind.make(f.fmt.samples_per_sec, ch, f.fmt.samples_per_sec, 1);
        write_wav(dir.file("ours.wav"), f, encode_all(f, signal));
        std::vector<int16_t> by_sox = sox_decode(dir, dir.file("ours.wav"));
        std::vector<int16_t> by_ffmpeg = ffmpeg_decode(dir, dir.file("ours.wav"));
        ASSERT_GE(by_sox.size(), signal.size());
        ASSERT_GE(by_ffmpeg.size(), signal.size());
        if (!ima) {
            EXPECT_TRUE(std::equal(by_sox.begin(), by_sox.end(), by_ffmpeg.begin())) << "the two decoders differ";
        }
        const double ours = std::min(snr_db(signal, by_sox, ch), snr_db(signal, by_ffmpeg, ch));
        EXPECT_GE(ours, c.floor_db);

        write_wav(dir.file("in.wav"), pcm_source_for(f), as_bytes(signal));
        double best_peer = -1e9;
        const char* peers[] = {ima ? "sox -D '%s' -e ima-adpcm '%s'" : nullptr,
                               ima ? "ffmpeg -v error -y -i '%s' -c:a adpcm_ima_wav '%s'"
                                   : "ffmpeg -v error -y -i '%s' -c:a adpcm_ms '%s'"};
        for (const char* peer : peers) {
            if (!peer)
                continue;
            char command[512];
            std::snprintf(command, sizeof command, peer, dir.file("in.wav").c_str(), dir.file("peer.wav").c_str());
            ASSERT_TRUE(run(command)) << command;
            double theirs = std::min(snr_db(signal, sox_decode(dir, dir.file("peer.wav")), ch),
                                     snr_db(signal, ffmpeg_decode(dir, dir.file("peer.wav")), ch));
            best_peer = std::max(best_peer, theirs);
        }
        EXPECT_GE(ours, best_peer) << "the best peer's worse decoding reaches " << best_peer << " dB";
    }
}

// A take that stops mid-block at a high level: the last block is padded with
// silence, but its codes are chosen for the sound before the padding, not
// for the leap down into it.
TEST(Codecs, APaddedLastBlockIsCodedForItsSound)
{
    SKIP_WITHOUT_SOX();
    scratch_dir dir;
    for (const char* spelling : {"adpcm,44100,1", "ima-adpcm,44100,1"}) {
        SCOPED_TRACE(spelling);
        format_area f = format_of(spelling);
        const uint32_t spb = f.bytes[18] | f.bytes[19] << 8;
        const uint32_t frames = spb + spb / 5;
        std::vector<int16_t> signal(frames);
        for (uint32_t i = 0; i < frames; ++i)
            signal[i] = int16_t(9000 + 6000 * std::sin(i * 0.07) + 2000 * std::sin(i * 0.31));
        write_wav(dir.file("ours.wav"), f, encode_all(f, signal));
        std::vector<int16_t> decoded = sox_decode(dir, dir.file("ours.wav"));
        ASSERT_GE(decoded.size(), signal.size());
        std::vector<int16_t> head(signal.begin(), signal.begin() + spb), tail(signal.begin() + spb, signal.end());
        std::vector<int16_t> head_out(decoded.begin(), decoded.begin() + spb),
            tail_out(decoded.begin() + spb, decoded.begin() + frames);
        EXPECT_GE(snr_db(tail, tail_out, 1), snr_db(head, head_out, 1) - 6);
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
