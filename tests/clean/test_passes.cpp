// The cleaning passes sample by sample: the worked examples, the fade's
// arithmetic, and what happens where the 8,192-byte buffers meet.
#include <cmath>
#include <random>
#include "tests/clean/clean_files.h"
#include "clean/declicker.h"
#include "clean/denoiser.h"
#include "clean/fade_ramp.h"
#include "clean/hum_remove.h"

namespace {

samples16 silence(int n) { return samples16(size_t(n), 0); }

// The truncated mean of the 13 newest samples over 12: the window-11 mean
// once the history holds only samples of the track.
int16_t mean13(const samples16& x, int f)
{
    int32_t sum = 0;
    for (int j = f - 12; j <= f; ++j)
        sum += x[size_t(j)];
    return int16_t(sum / 12);
}

} // namespace

TEST(MovingMean, LineWithRunningSumsEqualsTheLiteralMeanForEveryWindow)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int channels = 1; channels <= 2; ++channels) {
        for (int k = 1; k <= 45; ++k) {
            int16_t literal[2][512];
            for (auto& table : literal)
                for (int16_t& v : table)
                    v = int16_t(any(rng));
            constexpr int N = 3000;
            std::vector<int16_t> frames(size_t((k + 2 + N) * channels));
            history_line line{frames.data(), channels, k, {}, 0};
            line_load(&line, literal[0], literal[1]);
            for (int n = 0; n < N; ++n) {
                const int f = k + 2 + n;
                for (int c = 0; c < channels; ++c) {
                    // Full-scale stretches make the 16-bit wrap of the mean happen too.
                    const int16_t x = n % 500 < 50 ? int16_t(32767 - n % 3) : int16_t(any(rng));
                    frames[size_t(f * channels + c)] = x;
                    if (n % 7 == 0) {
                        push_history(literal[c], x, k);
                        line_push(&line, f, c);
                    } else {
                        ASSERT_EQ(line_mean(&line, f, c), moving_mean(literal[c], x, k))
                            << channels << " channels, window " << k << " sample " << n;
                    }
                }
            }
            for (int c = 0; c < channels; ++c) {
                int16_t back[512];
                std::memcpy(back, literal[c], sizeof back);
                line_store(&line, k + 1 + N, c, back);
                ASSERT_EQ(0, std::memcmp(back, literal[c], sizeof back)) << "window " << k;
            }
        }
    }
}

TEST(MovingMean, MultiplicationTruncatesLikeTheDivisionForEverySum)
{
    for (int k = 1; k <= 45; ++k) {
        const int64_t multiplier = mean_multiplier(k);
        const int32_t most = (k + 2) * 32768;
        for (int32_t sum = -most; sum <= most; ++sum)
            ASSERT_EQ(mean_of_sum(sum, multiplier), int16_t(sum / (k + 1))) << "window " << k << " sum " << sum;
    }
}

TEST(SmoothLastThree, StopsAtTheChannelsFirstSampleInTheBlock)
{
    // Stereo block of four frames; correct channel 1 at frame f: frames
    // f, f-1, f-2 are rewritten but never before the block's first frame.
    for (int f = 0; f < 4; ++f) {
        int16_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        int16_t d[4] = {2000, -2000, 2000, 0};
        int16_t y[4] = {1000, -1000, 1000, 0};
        uint8_t* base = reinterpret_cast<uint8_t*>(block);
        smooth_last_three(base + 4 * f + 2, base, d, y, 2);
        EXPECT_EQ(y[0], -500);   // the histories change even where nothing is written
        int written = 0;
        for (int i = 0; i < 8; ++i)
            written += block[i] != i + 1;
        EXPECT_EQ(written, std::min(f, 3)) << "frame " << f;
        for (int i = 0; i < 8; i += 2)
            EXPECT_EQ(block[i], i + 1) << "channel 0 untouched";
    }
    // Three small steps: nothing changes.
    int16_t block[5] = {1, 2, 3, 4, 5}, d[4] = {100, -200, 200, 0}, y[4] = {5, 6, 7, 8};
    smooth_last_three(reinterpret_cast<uint8_t*>(block + 4), reinterpret_cast<uint8_t*>(block), d, y, 1);
    EXPECT_EQ(y[0], 5);
    EXPECT_EQ(d[0], 100);
    EXPECT_EQ(block[4], 5);
}

using DenoiserTest = CleanTest;

TEST_F(DenoiserTest, TwelveAlternatingSamplesGiveTheWorkedResult)
{
    samples16 in;
    for (int i = 0; i < 12; ++i)
        in.push_back(i % 2 ? -1000 : 1000);
    parsed_wav out = clean(in, MODE_DENOISE);
    EXPECT_EQ(out.samples(), (samples16{1000, -1000, -500, 500, -875, -625, -875, -625, -875, -625, -500, -1000}));
    EXPECT_EQ(app.correction_count, 12);
    EXPECT_STREQ(app.result_text, "denoise process complete 12 corrections");
}

TEST_F(DenoiserTest, BothChannelsOfAStereoTrackAreCleaned)
{
    samples16 zig;
    for (int i = 0; i < 12; ++i)
        zig.push_back(i % 2 ? -1000 : 1000);
    samples16 smooth(12, 200);
    parsed_wav out = clean(stereo(smooth, zig), MODE_DENOISE, {.channels = 2});
    samples16 s = out.samples();
    EXPECT_EQ(channel_of(s, 0, 2), smooth);
    EXPECT_EQ(channel_of(s, 1, 2),
              (samples16{1000, -1000, -500, 500, -875, -625, -875, -625, -875, -625, -500, -1000}));
    EXPECT_EQ(app.correction_count, 12);
}

TEST_F(DenoiserTest, SmoothSignalIsCopiedUnchanged)
{
    samples16 in;
    for (int i = 0; i < 20000; ++i)
        in.push_back(int16_t(8000 * std::sin(i * 0.01)));
    parsed_wav out = clean(in, MODE_DENOISE);
    EXPECT_EQ(out.samples(), in);
    EXPECT_EQ(app.correction_count, 0);
}

TEST_F(DenoiserTest, ZigzagAtABufferBoundary)
{
    // The zigzag's trigger fires on the first frame of the second buffer:
    // that sample stays, only the histories change (and the refill has set
    // the sample history back to the bias level). The next firing, on the
    // third frame, rewrites two samples, not the block's first.
    const int b = FIRST_BUFFER_SAMPLES;
    samples16 in = silence(b + 100);
    for (int f = b - 4; f <= b + 2; ++f)
        in[size_t(f)] = (f - b) % 2 ? -1000 : 1000;
    samples16 s = clean(in, MODE_DENOISE).samples();
    ASSERT_EQ(s.size(), in.size());
    EXPECT_TRUE(std::equal(s.begin(), s.begin() + b, in.begin())) << "the first block is written as read";
    EXPECT_EQ(s[size_t(b)], 1000);
    EXPECT_EQ(s[size_t(b + 1)], -625);
    EXPECT_EQ(s[size_t(b + 2)], -500);
    EXPECT_EQ(app.correction_count, 6);
}

using DeclickerTest = CleanTest;

TEST_F(DeclickerTest, ClickAfterSilenceIsRepairedAndCountedOnce)
{
    const int c = 100;
    samples16 left = silence(c + 100);
    const int16_t click[4] = {20000, 25000, -22000, -15000};
    for (int j = 0; j < 4; ++j)
        left[size_t(c + j)] = click[j];
    samples16 s = clean(stereo(left, left), MODE_DECLICK, {.channels = 2}).samples();
    samples16 l = channel_of(s, 0, 2), r = channel_of(s, 1, 2);

    samples16 want_left = left, want_right = left;
    want_left[c] = want_right[c] = 1666;
    want_left[c + 1] = want_right[c + 1] = 3750;
    want_left[c + 2] = 1916;   // the right sample of the closing frame stays raw
    EXPECT_EQ(l, want_left);
    EXPECT_EQ(r, want_right);
    EXPECT_EQ(app.correction_count, 1);
    EXPECT_STREQ(app.result_text, "declick process complete 1 corrections");
}

TEST_F(DeclickerTest, TrackWithoutClicksComesOutUnchanged)
{
    samples16 in;
    for (int i = 0; i < 30000; ++i)
        in.push_back(int16_t(3000 * std::sin(i * 0.0627)));
    samples16 s = clean(stereo(in, in), MODE_DECLICK, {.channels = 2}).samples();
    EXPECT_EQ(s, stereo(in, in));
    EXPECT_STREQ(app.result_text, "declick process complete 0 corrections");
}

TEST_F(DeclickerTest, ResidualTestWaitsForSixFramesOnlyInTheFirstBufferEver)
{
    // Window 5 primes 3 frames; a click on frames 3 and 4 (n = 4, 5) is seen
    // only once some pass has finished an input buffer.
    samples16 in = silence(400);
    in[3] = 20000;
    in[4] = -22000;
    app.filter_threshold = 5;
    clean(in, MODE_DECLICK);
    EXPECT_EQ(app.correction_count, 0);
    EXPECT_EQ(app.buffers_done, 1u);
    clean(in, MODE_DECLICK);
    EXPECT_EQ(app.correction_count, 1);
}

TEST_F(DeclickerTest, ClickAcrossABlockBoundaryIsNotRepaired)
{
    // The event opened in the first block is forgotten with its list when
    // the block is written; the same click in the third block is repaired.
    const int b = FIRST_BUFFER_SAMPLES;
    const int later = b + BUFFER_SAMPLES + 1000;
    const int16_t click[4] = {20000, 25000, -22000, -15000};
    samples16 in = silence(later + 200);
    for (int j = 0; j < 4; ++j) {
        in[size_t(b - 2 + j)] = click[j];
        in[size_t(later + j)] = click[j];
    }
    samples16 s = clean(in, MODE_DECLICK).samples();
    EXPECT_EQ(app.correction_count, 1);
    EXPECT_TRUE(std::equal(s.begin(), s.begin() + later, in.begin()));
    EXPECT_EQ(s[size_t(later)], 1666);
}

TEST_F(DeclickerTest, RepairNeverReachesIntoTheBlockWrittenBefore)
{
    // A click on the first frames of the second block: its repair would go
    // back 8 frames, but the frames of the first block are already out.
    const int b = FIRST_BUFFER_SAMPLES;
    samples16 in = silence(b + 200);
    for (int j = 1; j <= 6; ++j)
        in[size_t(b - j)] = int16_t(100 * j);
    const int16_t click[4] = {20000, 25000, -22000, -15000};
    for (int j = 0; j < 4; ++j)
        in[size_t(b + j)] = click[j];
    samples16 s = clean(in, MODE_DECLICK).samples();
    EXPECT_EQ(app.correction_count, 1);
    EXPECT_TRUE(std::equal(s.begin(), s.begin() + b, in.begin()));
    for (int f = b; f < b + 3; ++f)
        EXPECT_EQ(s[size_t(f)], mean13(in, f)) << "frame " << f;
    EXPECT_EQ(s[size_t(b + 3)], -15000);
}

TEST_F(DeclickerTest, EventListOfABlockNeverRunsPastItsRecords)
{
    // 300 clicks in one block: each opens and closes an event, two records
    // apiece, so the 256 records are used up after 128 clicks. From there
    // the last record stays open: the clicks are still counted, and
    // repaired while its length allows.
    samples16 in(4000, 0);
    for (int j = 0; j < 300; ++j) {
        in[size_t(100 + 13 * j)] = 20000;
        in[size_t(101 + 13 * j)] = -20000;
    }
    samples16 s = clean(in, MODE_DECLICK).samples();
    EXPECT_EQ(app.correction_count, 300);
    EXPECT_EQ(s[100], 1666);
    for (int j = 1; j < 128; ++j)
        ASSERT_EQ(s[size_t(101 + 13 * j)], 0) << "click " << j;
    EXPECT_EQ(s[size_t(101 + 13 * 299)], -20000) << "the open record's length is past 80 by then";
}

using FadeTest = CleanTest;

TEST_F(FadeTest, BothRampsLastAFifthOfIntroMaxAtAnyRateAndChannelCount)
{
    // Full scale in, so each sample shows its frame's gain: Fade In's frame
    // k gets floor((k + 1) x 32767 / F), Fade Out's the same with the frames
    // after it, F = 0.2 x 1 s x rate frames (1,600 at 8 kHz: 20 on the
    // first frame, 16383 halfway, unity from frame 1,599 on).
    for (const uint32_t rate : {8000u, 44100u}) {
        for (const int channels : {1, 2}) {
            const double span = 0.2 * rate;
            const size_t frames = size_t(span) + 300;
            samples16 in(frames * size_t(channels));
            for (size_t i = 0; i < in.size(); ++i)
                in[i] = i % 2 ? int16_t(32767) : int16_t(-32767);
            app.intro_max_seconds = 1;
            track_layout t;
            t.channels = channels;
            t.rate = rate;
            const samples16 faded_in = clean(in, MODE_FADE_IN, t).samples();
            const samples16 faded_out = clean(in, MODE_FADE_OUT, t).samples();
            ASSERT_EQ(faded_in.size(), in.size());
            ASSERT_EQ(faded_out.size(), in.size());
            for (size_t k = 0; k < frames; ++k) {
                const int32_t rise = int32_t(std::min(32767.0, std::floor(double(k + 1) * 32767.0 / span)));
                const int32_t fall = int32_t(std::min(32767.0, std::floor(double(frames - 1 - k) * 32767.0 / span)));
                for (int c = 0; c < channels; ++c) {
                    const size_t i = k * size_t(channels) + size_t(c);
                    const int32_t sign = in[i] < 0 ? -1 : 1;
                    ASSERT_EQ(faded_in[i], sign * rise) << rate << " Hz, " << channels << " ch, frame " << k;
                    ASSERT_EQ(faded_out[i], sign * fall) << rate << " Hz, " << channels << " ch, frame " << k;
                }
            }
            if (rate == 8000) {
                EXPECT_EQ(faded_in[0], -20);
                EXPECT_EQ(std::abs(faded_in[799 * size_t(channels)]), 16383);
                EXPECT_EQ(std::abs(faded_in[1598 * size_t(channels)]), 32746);
                EXPECT_EQ(std::abs(faded_in[1599 * size_t(channels)]), 32767);
            }
            EXPECT_EQ(faded_out.back(), 0) << "the last frame is silent";
            EXPECT_STREQ(app.result_text, "fadeout process complete 0.2 s");
        }
    }
    // A sample under a small gain truncates toward zero: -1000 x 20 / 32767.
    app.intro_max_seconds = 1;
    track_layout t;
    t.rate = 8000;
    EXPECT_EQ(clean(samples16(2000, -1000), MODE_FADE_IN, t).samples()[0], 0);
    EXPECT_STREQ(app.result_text, "fade in complete");
}

TEST_F(FadeTest, NoIntroMeansNoRamp)
{
    samples16 in(5000, -12345);
    app.intro_max_seconds = 0;
    EXPECT_EQ(clean(in, MODE_FADE_IN).samples(), in);
    EXPECT_EQ(clean(in, MODE_FADE_OUT).samples(), in);
}

TEST(FadeRamp, RunsOfAnyLengthGiveEachFrameItsOwnGain)
{
    // The copy of the frames at unity must start and stop exactly where the
    // frame-by-frame gain reaches and leaves 32767, whatever the run's
    // length and with a ramp of a fraction of a frame (4410.2 frames).
    const uint64_t frames = 10000;
    samples16 in(frames * 2);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = int16_t(i % 2 ? 32767 - int(i % 7) : -32768 + int(i % 5));
    for (const int direction : {FADE_IN, FADE_OUT}) {
        fade_ramp want;
        fade_ramp_start(&want, direction, 2, 22051, 1, frames);
        for (const uint32_t run : {1u, 777u, uint32_t(frames)}) {
            fade_ramp ramp;
            fade_ramp_start(&ramp, direction, 2, 22051, 1, frames);
            samples16 out(in.size());
            for (uint64_t f = 0; f < frames; f += run) {
                const uint32_t n = uint32_t(std::min<uint64_t>(run, frames - f));
                fade_ramp_flow(&ramp, reinterpret_cast<const uint8_t*>(&in[f * 2]),
                               reinterpret_cast<uint8_t*>(&out[f * 2]), n);
            }
            for (uint64_t k = 0; k < frames; ++k)
                for (int c = 0; c < 2; ++c)
                    ASSERT_EQ(out[k * 2 + c], fade_sample(in[k * 2 + c], fade_gain(&want, k)))
                        << (direction == FADE_IN ? "in" : "out") << ", runs of " << run << ", frame " << k;
        }
    }
}

using MonoStereoTest = CleanTest;

TEST_F(MonoStereoTest, EachFrameBecomesItsRoundedMeanInBothChannels)
{
    // Halves go away from zero; full scale stays in range.
    const samples16 left = {3, -3, 1, -1, 32767, -32768, 32767, 0};
    const samples16 right = {4, -4, -2, 2, 32767, -32768, -32768, 0};
    const samples16 mean = {4, -4, -1, 1, 32767, -32768, -1, 0};
    track_layout t;
    t.channels = 2;
    EXPECT_EQ(clean(stereo(left, right), MODE_MONO_STEREO, t).samples(), stereo(mean, mean));
    EXPECT_STREQ(app.result_text, "mono process complete the mean into both channels");

    // A one-channel track becomes a two-channel file with the channel in both.
    t.channels = 1;
    t.rate = 22050;
    const parsed_wav out = clean(left, MODE_MONO_STEREO, t);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.samples(), stereo(left, left));
    EXPECT_EQ(out.fmt[2], 2) << "channels";
    EXPECT_EQ(get32(&out.fmt[8]), 22050u * 4) << "bytes a second";
    EXPECT_EQ(out.fmt[12], 4) << "block alignment";
    EXPECT_EQ(app.playback_record.channels, 2) << "the preview plays two channels";
}

using HumTest = CleanTest;

namespace {
// Hum at 50 Hz with its third and ninth harmonics on both channels; the left
// channel also carries music(t).
samples16 hummed(int frames, double (*music)(double))
{
    samples16 s;
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const double hum = 3000 * std::sin(2 * M_PI * 50 * t) + 1500 * std::sin(2 * M_PI * 150 * t + 1) +
                           400 * std::sin(2 * M_PI * 450 * t + 2);
        s.push_back(clip(hum + (music ? music(t) : 0)));
        s.push_back(clip(hum));
    }
    return s;
}
// A steady tone 25 Hz from the nearest harmonic.
double tone_475(double t)
{
    return 8000 * std::sin(2 * M_PI * 475 * t);
}
} // namespace

TEST_F(HumTest, PureHumIsRemovedAndMusicBesideItKept)
{
    // A steady tone beside the harmonics; and, at the narrowest
    // notches, a note 1 Hz from the third harmonic that sounds for one second
    // of eight: while it sounds it spreads into the harmonic's own frequency,
    // and the hum must be measured in the quiet around it, not from the note.
    const struct {
        int seconds;
        int16_t threshold;
        double (*music)(double);
        int tolerance;
        const char* line;
    } cases[] = {
        {3, 11, tone_475, 8,
         "dehum process complete 20 notches 1.10 Hz wide"},
        {8, 1,
         [](double t) {
             const double envelope = t > 3 && t < 4 ? 0.5 - 0.5 * std::cos(2 * M_PI * (t - 3)) : 0;
             return 6000 * envelope * std::sin(2 * M_PI * 151 * t);
         },
         4, "dehum process complete 20 notches 0.10 Hz wide"},
    };
    for (const auto& c : cases) {
        const int frames = c.seconds * 44100;
        const samples16 in = hummed(frames, c.music);
        app.ac_sinus_freq = 50;
        app.filter_threshold = c.threshold;
        track_layout t;
        t.channels = 2;
        const samples16 out = clean(in, MODE_DEHUM, t).samples();
        ASSERT_EQ(out.size(), in.size());
        EXPECT_STREQ(app.result_text, c.line);
        int worst_hum = 0, worst_music = 0;
        for (int i = 0; i < frames; ++i) {
            worst_hum = std::max(worst_hum, std::abs(int(out[size_t(2 * i + 1)])));
            const int want = int(clip(c.music(i / 44100.0)));
            worst_music = std::max(worst_music, std::abs(int(out[size_t(2 * i)]) - want));
        }
        EXPECT_LE(worst_hum, 2) << "from 4,900 peak to the rounding, threshold " << c.threshold;
        EXPECT_LE(worst_music, c.tolerance) << "the music beside the notches keeps its shape, threshold "
                                            << c.threshold;
    }
}

TEST_F(HumTest, TheSameOutputWhateverTheRunsItIsFedIn)
{
    // The removal fed in runs of `run` frames; `periodic` false makes it
    // synthesise the hum afresh for every run of output, as it does at a
    // rate that holds no whole number of hum periods.
    auto remove = [](const samples16& in, uint32_t run, bool periodic) {
        hum_remove h;
        EXPECT_EQ(hum_remove_start(&h, 2, 44100, 50, 3), HUM_OK);
        EXPECT_TRUE(h.periodic) << "44,100 frames a second hold 50 periods of 882";
        h.periodic = periodic;
        std::vector<int16_t> out(size_t(HUM_MAX_FLOW + h.delay_frames) * 2);
        samples16 got;
        auto take = [&](uint32_t n) { got.insert(got.end(), out.begin(), out.begin() + long(n) * 2); };
        const uint32_t frames = uint32_t(in.size() / 2);
        for (uint32_t f = 0; f < frames; f += run) {
            const uint32_t n = std::min(run, frames - f);
            take(hum_remove_flow(&h, reinterpret_cast<const uint8_t*>(&in[size_t(f) * 2]), n,
                                 reinterpret_cast<uint8_t*>(out.data())));
        }
        while (const uint32_t n = hum_remove_drain(&h, reinterpret_cast<uint8_t*>(out.data()), 1000))
            take(n);
        hum_remove_stop(&h);
        return got;
    };
    // Runs of 1 frame, of an odd size and of the most a flow takes give the
    // same bytes: a track longer than the window (4.8 s at Threshold 3),
    // whose amplitudes are worked out every few periods, and tracks shorter
    // than it.
    for (const int frames : {6 * 44100, 44100, 300}) {
        const samples16 in = hummed(frames, tone_475);
        samples16 first;
        for (const uint32_t run : {1u, 777u, uint32_t(HUM_MAX_FLOW)}) {
            const samples16 got = remove(in, run, true);
            ASSERT_EQ(got.size(), in.size()) << "run " << run;
            if (first.empty())
                first = got;
            EXPECT_EQ(got, first) << frames << " frames in runs of " << run;
        }
        // The hum from the two ends' periods and the hum synthesised afresh
        // are the same within a step.
        const samples16 afresh = remove(in, 777, false);
        ASSERT_EQ(afresh.size(), first.size());
        int worst = 0;
        for (size_t i = 0; i < first.size(); ++i)
            worst = std::max(worst, std::abs(int(afresh[i]) - int(first[i])));
        EXPECT_LE(worst, 1) << frames << " frames";
    }
}

TEST_F(HumTest, ASettingTheTrackCannotTakeIsRefusedWithABoxAndNothingWritten)
{
    track_layout t;
    t.rate = 8000;
    for (const int16_t freq : {int16_t(19), int16_t(2001), int16_t(0)}) {
        headless_clear_message_boxes();
        app.ac_sinus_freq = freq;
        int32_t result = 0;
        clean(samples16(1000, 5), MODE_DEHUM, t, &result);
        EXPECT_EQ(result, -8) << freq;
        EXPECT_FALSE(file_exists(path("traca3.wav"))) << freq;
        ASSERT_EQ(headless_message_boxes().size(), 1u) << freq;
        EXPECT_EQ(headless_message_boxes()[0].text.rfind("AC sinus Freq", 0), 0u);
        EXPECT_STREQ(app.result_text, "cleaning failed: the AC sinus frequency does not suit the track");
    }
    app.ac_sinus_freq = 2000;   // a quarter of 8 kHz: allowed
    EXPECT_TRUE(clean(samples16(1000, 5), MODE_DEHUM, t).ok);

    // FilterEx works from 4 kHz up: a slower track is refused the same way,
    // before the cleaned file is begun.
    t.rate = 3000;
    headless_clear_message_boxes();
    int32_t result = 0;
    clean(samples16(1000, 5), MODE_FILTER_EX, t, &result);
    EXPECT_EQ(result, -8);
    EXPECT_FALSE(file_exists(path("tracx3.wav")));
    ASSERT_EQ(headless_message_boxes().size(), 1u);
    EXPECT_EQ(headless_message_boxes()[0].text.rfind("FilterEx cannot work at the track's rate (3000 Hz)", 0), 0u);
    EXPECT_STREQ(app.result_text, "cleaning failed: FilterEx cannot work at the track's rate");
}
