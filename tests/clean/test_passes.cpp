// The cleaning passes sample by sample: the worked examples, the fade's
// arithmetic, and what happens where the 8,192-byte buffers meet.
#include <cmath>
#include <random>
#include "tests/clean/clean_files.h"
#include "clean/declicker.h"
#include "clean/denoiser.h"

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

TEST_F(FadeTest, GainRampsInSinglePrecisionAndStopsAtUnity)
{
    // 0.2 x 1 s x 122876 Hz: a step just under 0.75, so g = 1.5 on the
    // second frame (G = 1) and G = 3 first on the fifth.
    samples16 in = {32767, 32767, -32767, -32767, -32767, 1000, -1000};
    in.resize(60000, 32767);
    app.intro_max_seconds = 1;
    samples16 s = clean(in, MODE_FADE_IN, {.rate = 122876}).samples();
    ASSERT_EQ(s.size(), in.size());
    EXPECT_EQ((samples16(s.begin(), s.begin() + 7)), (samples16{0, 1, -2, -2, -3, 0, 0}));
    // Full scale never wraps: the gain rises to unity and stays there.
    for (size_t i = 8; i < s.size(); ++i)
        ASSERT_LE(s[i - 1], s[i]) << "frame " << i;
    EXPECT_EQ(s.back(), 32767);
    EXPECT_LT(s[40000], 32767);
    EXPECT_STREQ(app.result_text, "fade in complete");
}

TEST_F(FadeTest, NoIntroMeansNoRamp)
{
    samples16 in(5000, -12345);
    app.intro_max_seconds = 0;
    EXPECT_EQ(clean(in, MODE_FADE_IN).samples(), in);
}
