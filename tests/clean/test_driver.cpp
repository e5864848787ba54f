// The processing driver: cleaned file names, tracks it refuses and how,
// the cleaned file's chunks, the preview left open, and failed writes.
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include "tests/clean/clean_files.h"
#include "clean/track_io.h"
#include "playback/playback.h"

namespace {

std::string cleaned(const char* name, int mode)
{
    char out[160];
    if (make_cleaned_name(name, mode, out, sizeof out) != 0)
        return "(too long)";
    return out;
}

// A smooth signal: no clicks, no zigzags, so every pass copies it unchanged.
samples16 smooth(int n, double rate)
{
    samples16 s;
    for (int i = 0; i < n; ++i)
        s.push_back(int16_t(5000 * std::sin(i * rate)));
    return s;
}

} // namespace

TEST(CleanedName, LetterReplacesTheFifthCharacterOfTheFileNamePart)
{
    EXPECT_EQ(cleaned("track3.wav", MODE_DECLICK), "tracd3.wav");
    EXPECT_EQ(cleaned("track3.wav", MODE_DENOISE), "tracn3.wav");
    EXPECT_EQ(cleaned("/rec/track3.wav", MODE_DECLICK), "/rec/tracd3.wav");
    EXPECT_EQ(cleaned("/rec/track3.wav", MODE_DENOISE), "/rec/tracn3.wav");
    EXPECT_EQ(cleaned("/rec/track3.wav", MODE_FADE_IN), "/rec/tracf3.wav");
    EXPECT_EQ(cleaned("/r/abcde", MODE_DECLICK), "/r/abcdd");
    EXPECT_EQ(cleaned("t.wa", MODE_DECLICK), "dt.wa");
    EXPECT_EQ(cleaned("/rec/t.wa", MODE_DENOISE), "/rec/nt.wa");
    // A fifth character on the last dot or after it goes in front: the extension stays.
    EXPECT_EQ(cleaned("side.wav", MODE_DECLICK), "dside.wav");
    EXPECT_EQ(cleaned("a.wav", MODE_DECLICK), "da.wav");
    EXPECT_EQ(cleaned("/rec/ab.c.wav", MODE_FADE_IN), "/rec/fab.c.wav");
    EXPECT_EQ(cleaned("/rec/track.wav", MODE_DENOISE), "/rec/tracn.wav");
    EXPECT_EQ(cleaned("/r.wav/abcdefg", MODE_DECLICK), "/r.wav/abcddfg");
    EXPECT_EQ(cleaned(std::string(158, 'a').c_str(), MODE_DECLICK), std::string(4, 'a') + "d" + std::string(153, 'a'));
    EXPECT_EQ(cleaned(std::string(160, 'a').c_str(), MODE_DECLICK), "(too long)");
    EXPECT_EQ(cleaned(("/" + std::string(156, 'a') + "/t").c_str(), MODE_DECLICK), "(too long)");
}

using DriverTest = CleanTest;

TEST_F(DriverTest, CleanedFileCopiesTheFormatChunkAndIsLeftOpenAsThePreview)
{
    track_layout t;
    t.channels = 2;
    t.fmt_size = 19;   // cb_size 1 and one extra byte: an odd chunk with its pad byte
    const samples16 in = smooth(2 * 5000, 0.007);
    parsed_wav out = clean(in, MODE_DENOISE, t);
    ASSERT_TRUE(out.ok);
    const parsed_wav orig = parse_wav(read_file(path("track3.wav")));
    EXPECT_EQ(out.fmt, orig.fmt);
    EXPECT_TRUE(out.pad_after_fmt);
    EXPECT_EQ(out.data_size, in.size() * 2);
    EXPECT_STREQ(app.cleaned_file_name, path("tracn3.wav").c_str());
    EXPECT_STREQ(app.capture_file_name, path("track3.wav").c_str());

    // The dialog opens the preview after a run that succeeded.
    EXPECT_EQ(app.track_in, nullptr);
    ASSERT_EQ(open_preview(app.cleaned_file_name), 0);
    ASSERT_NE(app.track_in, nullptr);
    EXPECT_EQ(app.playback_record.data_bytes, in.size() * 2);
    EXPECT_EQ(app.playback_record.channels, 2);
    EXPECT_EQ(app.playback_record.sample_rate, 44100);
    EXPECT_EQ(app.playback_record.input_buffer_bytes, 8192);
    EXPECT_EQ(0, std::memcmp(app.playback_record.source_format.bytes, orig.fmt.data(), 19));
    uint8_t first[4];
    std::memcpy(first, app.track_in_info.next, 4);
    EXPECT_EQ(0, std::memcmp(first, out.data.data(), 4)) << "the preview stands at its first sample";
}

TEST_F(DriverTest, DataSizeCountsTheSamplesWritten)
{
    // An odd data chunk (a stray byte after the last sample) and a chunk after
    // the data: neither reaches the cleaned samples, in any mode.
    track_layout t;
    t.extra_data_bytes = 1;
    t.chunk_after_data = chunk("LIST", bytes(300, 0x7F));
    const samples16 in = smooth(9000, 0.003);
    for (int mode : {MODE_DECLICK, MODE_DENOISE, MODE_FADE_IN}) {
        app.intro_max_seconds = 0;
        parsed_wav out = clean(in, mode, t);
        ASSERT_TRUE(out.ok) << "mode " << mode;
        EXPECT_EQ(out.data_size, in.size() * 2) << "mode " << mode;
        EXPECT_EQ(out.samples(), in) << "mode " << mode;
    }
}

TEST_F(DriverTest, FramesCutByBufferEndsAreReadWhole)
{
    // A chunk before the data puts the stereo frames 2 bytes off the 8,192
    // boundaries; an 18-byte format chunk does the same to the output.
    samples16 left, right;
    for (int i = 0; i < 12000; ++i) {
        left.push_back(int16_t(4000 * std::sin(i * 0.01)));
        right.push_back(int16_t(-3000 * std::sin(i * 0.013)));
    }
    const samples16 in = stereo(left, right);
    for (int fmt_size : {16, 18}) {
        track_layout t;
        t.channels = 2;
        t.fmt_size = fmt_size;
        t.chunk_before_data = chunk("LIST", bytes(fmt_size == 16 ? 22 : 24, 1));
        for (int mode : {MODE_DECLICK, MODE_DENOISE}) {
            parsed_wav out = clean(in, mode, t);
            EXPECT_EQ(out.samples(), in) << "mode " << mode << " format chunk " << fmt_size;
            EXPECT_EQ(app.correction_count, 0);
        }
    }
}

TEST_F(DriverTest, RestorationPassesGiveTheSameBytesWhereverFramesMeetBufferEnds)
{
    // Each pass on a plain track, then on the same samples with the data
    // moved 2 to 10 bytes on (a chunk before it, a longer format chunk), on
    // and off the buffers' frame grid (frames cut by a
    // buffer's end on the way in and, for Mono >>Stereo, on the way out),
    // and on tracks too short for the hum's window or empty.
    app.ac_sinus_freq = 60;
    app.filter_threshold = 5;
    app.intro_max_seconds = 1;
    for (const int channels : {1, 2}) {
        for (const int frames : {30000, 300, 1, 0}) {
            samples16 in;
            for (int i = 0; i < frames * channels; ++i)
                in.push_back(int16_t(6000 * std::sin(i * 0.01) + 900 * std::sin(i * 2 * M_PI * 60 / 44100)));
            for (const int mode : {MODE_DEHUM, MODE_MONO_STEREO, MODE_FADE_OUT, MODE_FILTER_EX}) {
                track_layout plain;
                plain.channels = channels;
                const parsed_wav want = clean(in, mode, plain);
                ASSERT_TRUE(want.ok);
                const size_t out_channels = mode == MODE_MONO_STEREO ? 2 : size_t(channels);
                EXPECT_EQ(want.samples().size(), size_t(frames) * out_channels) << "mode " << mode;
                for (const int junk : {2, 4, 6}) {
                    for (const int fmt_size : {16, 18}) {
                        track_layout t = plain;
                        t.fmt_size = fmt_size;
                        t.chunk_before_data = chunk("JUNK", bytes(size_t(junk), 1));
                        EXPECT_EQ(clean(in, mode, t).samples(), want.samples())
                            << "mode " << mode << ", " << channels << " ch, " << frames << " frames, JUNK " << junk
                            << ", format chunk " << fmt_size;
                    }
                }
            }
        }
    }
}

TEST_F(DriverTest, MalformedTracksFailBeforeASampleIsWritten)
{
    const bytes good = wav_bytes(smooth(3000, 0.005));
    bytes no_wave = good;
    std::memcpy(&no_wave[8], "AVI ", 4);
    bytes not_riff = good;
    std::memcpy(&not_riff[0], "RIFX", 4);
    bytes no_fmt = good;
    std::memcpy(&no_fmt[12], "fmx ", 4);
    bytes no_data = good;
    std::memcpy(&no_data[36], "datx", 4);
    struct { const char* what; bytes file; int code; } cases[] = {
        {"not RIFF", not_riff, -1},
        {"not WAVE", no_wave, -1},
        {"no fmt", no_fmt, -1},
        {"no data", no_data, -2},
        {"cut in the header", bytes(good.begin(), good.begin() + 30), -1},
        {"empty", bytes(), -1},
    };
    for (auto& c : cases) {
        write_file(path("track3.wav"), c.file);
        std::strcpy(app.result_text, "declick process complete 7 corrections");
        EXPECT_EQ(process_track(nullptr, path("track3.wav").c_str(), MODE_DECLICK), c.code) << c.what;
        EXPECT_FALSE(file_exists(path("tracd3.wav"))) << c.what << ": a failed run creates nothing";
        EXPECT_EQ(read_file(path("track3.wav")), c.file) << c.what;
        EXPECT_EQ(app.track_in, nullptr);
        EXPECT_EQ(std::string(app.result_text).rfind("cleaning failed", 0), 0u) << app.result_text;
    }
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(DriverTest, TracksOtherThan16BitPcmAreRefused)
{
    track_layout eight_bit;
    eight_bit.bits = 8;
    track_layout three_channels;
    three_channels.channels = 3;
    track_layout float_samples;
    float_samples.format_tag = 3;
    track_layout extensible;
    extensible.format_tag = 0xFFFE;
    extensible.fmt_size = 40;   // does not fit the 32-byte format copy
    for (const track_layout& t : {eight_bit, three_channels, float_samples, extensible}) {
        headless_clear_message_boxes();
        write_file(path("track3.wav"), wav_bytes(smooth(3000, 0.005), t));
        EXPECT_EQ(process_track(nullptr, path("track3.wav").c_str(), MODE_DENOISE), -1);
        auto boxes = headless_message_boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Only 16-bit PCM tracks with one or two channels can be cleaned");
        EXPECT_EQ(boxes[0].caption, "Trackmill");
        EXPECT_EQ(read_file(path("tracn3.wav")).size(), 0u);
    }
}

TEST_F(DriverTest, MissingTrackIsReportedAndCreatesNothing)
{
    EXPECT_EQ(process_track(nullptr, path("track3.wav").c_str(), MODE_DECLICK), -1);
    auto boxes = headless_message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "File not found/protected");
    EXPECT_EQ(boxes[0].caption, "Trackmill");
    EXPECT_FALSE(file_exists(path("tracd3.wav")));
    EXPECT_STREQ(app.result_text, "cleaning failed: the track cannot be opened");
}

TEST_F(DriverTest, TrackIsNeverCleanedIntoItself)
{
    const bytes track = wav_bytes(smooth(3000, 0.005));
    write_file(path("tracd3.wav"), track);
    EXPECT_EQ(process_track(nullptr, path("tracd3.wav").c_str(), MODE_DECLICK), -1);
    EXPECT_EQ(read_file(path("tracd3.wav")), track);
    ASSERT_EQ(headless_message_boxes().size(), 1u);
    // The cleaned name a symbolic or a hard link to the track: refused before
    // anything is created, in every mode.
    write_file(path("track3.wav"), track);
    for (int mode : {MODE_DECLICK, MODE_DENOISE, MODE_FADE_IN}) {
        char cleaned[256];
        ASSERT_EQ(make_cleaned_name(path("track3.wav").c_str(), mode, cleaned, sizeof cleaned), 0);
        for (bool hard : {false, true}) {
            SCOPED_TRACE(std::string(cleaned) + (hard ? " hard link" : " symbolic link"));
            std::remove(cleaned);
            ASSERT_EQ(hard ? link(path("track3.wav").c_str(), cleaned) : symlink("track3.wav", cleaned), 0);
            headless_clear_message_boxes();
            EXPECT_EQ(process_track(nullptr, path("track3.wav").c_str(), mode), -1);
            EXPECT_EQ(read_file(path("track3.wav")), track);
            ASSERT_EQ(headless_message_boxes().size(), 1u);
            EXPECT_EQ(headless_message_boxes()[0].text, "The cleaned file would overwrite the track itself");
        }
        std::remove(cleaned);
    }
}

TEST_F(DriverTest, FullDiskFailsTheRunInEveryMode)
{
    const samples16 in = smooth(40000, 0.011);
    const bytes earlier = wav_bytes(smooth(100, 0.02));
    for (int mode : {MODE_DECLICK, MODE_DENOISE, MODE_FADE_IN, MODE_DEHUM, MODE_MONO_STEREO, MODE_FADE_OUT}) {
        char cleaned[256];
        ASSERT_EQ(make_cleaned_name(path("track3.wav").c_str(), mode, cleaned, sizeof cleaned), 0);
        write_file(cleaned, earlier);
        riff_fail_writes_after(20000);
        int32_t result = 0;
        clean(in, mode, {}, &result);
        riff_fail_writes_after(-1);
        EXPECT_EQ(result, -6) << "mode " << mode;
        EXPECT_EQ(app.track_in, nullptr) << "no preview after a failed run";
        EXPECT_STREQ(app.result_text, "cleaning failed: the cleaned file cannot be written: the disk may be full");
        EXPECT_EQ(read_file(cleaned), earlier) << "the earlier cleaned file is kept";
        EXPECT_EQ(std::system(("test $(ls '" + dir + "' | wc -l) -eq 2").c_str()), 0) << "no file left beside it";
        std::remove(cleaned);
    }
}

TEST_F(DriverTest, WindowKeptWithinItsRange)
{
    samples16 in = smooth(5000, 0.009);
    for (int16_t k : {int16_t(0), int16_t(-3), int16_t(200)}) {
        app.filter_threshold = k;
        clean(in, MODE_DECLICK);
        EXPECT_STREQ(app.result_text, "declick process complete 0 corrections") << k;
    }
}
