// The FilterEx kernel on short made signals: clicks repaired, clean music
// left alone, hiss reduced, channels kept apart, and the streaming contract.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>
#include "clean/ar_click_repair.h"
#include "clean/filterex.h"

namespace {

using samples = std::vector<int16_t>;
constexpr int RATE = 44100;

struct restored {
    samples out;
    filterex_counts counts;
};

// The whole kernel, as a pass drives it, in buffers of `chunk` frames.
restored run(const samples& in, int channels, bool profile, int chunk = 4096, int threshold = FX_THRESHOLD_DEFAULT)
{
    filterex_state* fx = nullptr;
    EXPECT_EQ(filterex_start(&fx, channels, RATE, threshold), FX_OK);
    const int frames = int(in.size()) / channels;
    if (profile) {
        for (int at = 0; at < frames; at += chunk)
            EXPECT_EQ(filterex_profile_feed(fx, in.data() + at * channels, std::min(chunk, frames - at)), FX_OK);
        EXPECT_EQ(filterex_profile_end(fx), FX_OK);
    }
    restored r;
    samples buf(size_t(std::max(chunk, filterex_latency(fx)) * channels));
    for (int at = 0; at < frames; at += chunk) {
        const int n = std::min(chunk, frames - at);
        int got = -1;
        EXPECT_EQ(filterex_flow(fx, in.data() + at * channels, n, buf.data(), &got), FX_OK);
        EXPECT_LE(got, n);
        r.out.insert(r.out.end(), buf.begin(), buf.begin() + got * channels);
    }
    int got = -1;
    EXPECT_EQ(filterex_drain(fx, buf.data(), &got), FX_OK);
    EXPECT_LE(got, filterex_latency(fx));
    r.out.insert(r.out.end(), buf.begin(), buf.begin() + got * channels);
    r.counts = filterex_report(fx);
    filterex_free(fx);
    return r;
}

// Two partials with a slow vibrato: smooth, as a sustained note is.
std::vector<double> tone(int frames, double amplitude, int from = 0)
{
    std::vector<double> v(size_t(frames), 0.0);
    for (int i = from; i < frames; ++i) {
        const double t = double(i) / RATE;
        v[size_t(i)] = amplitude * (std::sin(2 * M_PI * 440 * t + 0.3 * std::sin(2 * M_PI * 5 * t)) +
                                    0.4 * std::sin(2 * M_PI * 1320 * t));
    }
    return v;
}

samples to16(const std::vector<double>& v)
{
    samples s;
    for (double x : v)
        s.push_back(int16_t(std::lround(std::clamp(x, -32768.0, 32767.0))));
    return s;
}

samples interleave(const samples& left, const samples& right)
{
    samples s;
    for (size_t i = 0; i < left.size(); ++i) {
        s.push_back(left[i]);
        s.push_back(right[i]);
    }
    return s;
}

double rms(const samples& x, size_t from, size_t to, int channels = 1, int channel = 0)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(x[i * size_t(channels) + size_t(channel)]) * x[i * size_t(channels) + size_t(channel)];
    return std::sqrt(sum / double(to - from));
}

// White hiss of the given RMS, the same numbers every run.
std::vector<double> hiss(int frames, double level, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, level);
    std::vector<double> v(static_cast<size_t>(frames));
    for (double& x : v)
        x = noise(rng);
    return v;
}

} // namespace

TEST(FilterEx, ClicksOnASmoothToneAreReplacedWithinAFewStepsOfTheOriginal)
{
    const samples clean = to16(tone(RATE, 6000));
    samples damaged = clean;
    // A sharp spike decaying over six samples, one of each sign, and a
    // burst of crackle: three short spikes close together.
    const int at[] = {9000, 21000, 33000, 33011, 33019};
    const double height[] = {9000, -12000, 4000, -5000, 3000};
    for (int c = 0; c < 5; ++c)
        for (int i = 0; i < 6; ++i)
            damaged[size_t(at[c] + i)] = int16_t(std::clamp(damaged[size_t(at[c] + i)] + height[c] * std::exp(-i / 1.5),
                                                            -32768.0, 32767.0));
    const restored r = run(damaged, 1, false);
    ASSERT_EQ(r.out.size(), clean.size());
    int worst = 0;
    for (size_t i = 0; i < clean.size(); ++i)
        worst = std::max(worst, std::abs(r.out[i] - clean[i]));
    EXPECT_LE(worst, 4);
    EXPECT_GE(r.counts.repaired_gaps, 3);
    EXPECT_FALSE(r.counts.denoising);
}

TEST(FilterEx, CleanMusicPassesUnchangedWithoutAProfileAndNearlySoWithOne)
{
    // Without a profile only click repair runs, and a clean tone has no
    // clicks: every sample comes back as it went in.
    const samples clean = to16(tone(RATE, 9000));
    const restored unprofiled = run(clean, 1, false);
    EXPECT_EQ(unprofiled.out, clean);
    EXPECT_EQ(unprofiled.counts.repaired_gaps, 0);

    // A quiet lead-in of hiss gives the profile; the tone that follows is
    // far above it and keeps its level within a tenth of a decibel.
    const std::vector<double> lead = hiss(2 * RATE, 2.0, 3);
    std::vector<double> music = tone(2 * RATE, 9000, RATE);
    for (size_t i = 0; i < music.size(); ++i)
        music[i] += lead[i];
    const samples in = to16(music);
    const restored r = run(in, 1, true);
    ASSERT_EQ(r.out.size(), in.size());
    EXPECT_TRUE(r.counts.denoising);
    EXPECT_EQ(r.counts.repaired_gaps, 0);
    const double ratio_db = 20 * std::log10(rms(r.out, RATE + 4096, 2 * RATE) / rms(in, RATE + 4096, 2 * RATE));
    EXPECT_NEAR(ratio_db, 0.0, 0.1);
}

TEST(FilterEx, HissIsReducedAgainstTheQuietestSecond)
{
    // A second of hiss alone, then a tone in the same hiss.
    const std::vector<double> noise = hiss(2 * RATE, 300.0, 9);
    const std::vector<double> music = tone(2 * RATE, 6000, RATE);
    std::vector<double> mixed(noise.size());
    for (size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = noise[i] + music[i];
    const samples in = to16(mixed), clean = to16(music);
    const restored r = run(in, 1, true);
    ASSERT_EQ(r.out.size(), in.size());
    // The hiss alone falls by more than 12 dB...
    EXPECT_LT(rms(r.out, 4096, RATE - 4096), rms(in, 4096, RATE - 4096) / 4);
    // ...and under the tone the output is nearer the clean tone than the
    // input was, by more than 3 dB.
    double before = 0, after = 0;
    for (size_t i = RATE + 4096; i < size_t(2 * RATE); ++i) {
        before += std::pow(double(in[i]) - clean[i], 2);
        after += std::pow(double(r.out[i]) - clean[i], 2);
    }
    EXPECT_LT(after, before / 2);
}

TEST(FilterEx, ATrackOfMusicAllThroughKeepsItsMusic)
{
    // Chords that change every half second over faint hiss, four seconds
    // with no quiet passage: the quietest second is music, and hiss
    // subtracted against it would take the music's own partials with it.
    // The hiss is left, and every second keeps its level within 0.1 dB.
    std::vector<double> music = hiss(4 * RATE, 20, 4);
    const double roots[] = {220, 247, 262, 196, 233, 175, 208, 185};
    for (int chord = 0; chord < 8; ++chord)
        for (int i = 0; i < RATE / 2; ++i) {
            const double t = double(i) / RATE, fade = std::min(1.0, std::min(t, 0.5 - t) / 0.01);
            double x = 0;
            for (const double ratio : {1.0, 1.25, 1.5, 2.0}) {
                const double f = roots[chord] * ratio;
                x += std::sin(2 * M_PI * f * t) + 0.3 * std::sin(4 * M_PI * f * t);
            }
            music[size_t(chord * RATE / 2 + i)] += 2500 * fade * x;
        }
    const samples in = to16(music);
    const restored r = run(in, 1, true);
    ASSERT_EQ(r.out.size(), in.size());
    EXPECT_FALSE(r.counts.denoising);
    EXPECT_TRUE(r.counts.no_quiet_passage);
    for (int second = 0; second < 4; ++second) {
        const size_t from = size_t(second * RATE), to = from + RATE;
        EXPECT_NEAR(20 * std::log10(rms(r.out, from, to) / rms(in, from, to)), 0.0, 0.1) << "second " << second;
    }
}

TEST(FilterEx, StereoChannelsAreRestoredEachOnItsOwn)
{
    // Left: a tone with a click, in hiss with a quiet lead-in. Right: a
    // different tone with other hiss and no click. Each comes out exactly
    // as it does alone in a one-channel run.
    std::vector<double> left = tone(2 * RATE, 5000, RATE / 2), right = tone(2 * RATE, 2500, RATE);
    const std::vector<double> hl = hiss(2 * RATE, 40, 1), hr = hiss(2 * RATE, 90, 2);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] += hl[i];
        right[i] += hr[i];
    }
    for (int i = 0; i < 5; ++i)
        left[size_t(60000 + i)] += 8000 * std::exp(-i / 1.5);
    const samples l = to16(left), r = to16(right);
    const restored both = run(interleave(l, r), 2, true, 1000);
    const restored alone_l = run(l, 1, true, 1000), alone_r = run(r, 1, true, 1000);
    ASSERT_EQ(both.out.size(), 2 * l.size());
    EXPECT_EQ(both.out, interleave(alone_l.out, alone_r.out));
    EXPECT_EQ(alone_r.counts.repaired_gaps, 0);
    EXPECT_GE(alone_l.counts.repaired_gaps, 1);
}

TEST(FilterEx, OutputIsTheSameForAnyBufferSizeAndAsLongAsTheInput)
{
    std::vector<double> music = tone(RATE, 7000, 3000);
    const std::vector<double> noise = hiss(RATE, 50, 4);
    for (size_t i = 0; i < music.size(); ++i)
        music[i] += noise[i];
    music[20000] += 9000;
    const samples in = interleave(to16(music), to16(tone(RATE, 3000)));
    const restored whole = run(in, 2, true, RATE);
    ASSERT_EQ(whole.out.size(), in.size());
    EXPECT_EQ(run(in, 2, true, 1).out, whole.out);
    EXPECT_EQ(run(in, 2, true, 777).out, whole.out);
    // Tracks shorter than the delay, and an empty one, come out whole too.
    for (int frames : {0, 1, 100, 5000}) {
        const samples part(in.begin(), in.begin() + 2 * frames);
        EXPECT_EQ(run(part, 2, true, 64).out.size(), part.size()) << frames << " frames";
    }
}

TEST(FilterEx, BadCallsAreRefusedAndChangeNothing)
{
    filterex_state* fx = reinterpret_cast<filterex_state*>(1);
    EXPECT_EQ(filterex_start(&fx, 3, RATE, 11), FX_BAD_ARGUMENT);
    EXPECT_EQ(fx, nullptr);
    EXPECT_EQ(filterex_start(&fx, 1, 0, 11), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_start(&fx, 1, RATE, 0), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_start(&fx, 1, RATE, 46), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_start(nullptr, 1, RATE, 11), FX_BAD_ARGUMENT);

    ASSERT_EQ(filterex_start(&fx, 2, RATE, 45), FX_OK);
    samples in(200, 100), out(2 * size_t(filterex_latency(fx)));
    int got = 0;
    EXPECT_EQ(filterex_flow(fx, in.data(), -1, out.data(), &got), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_flow(fx, nullptr, 10, out.data(), &got), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_flow(fx, in.data(), 100, out.data(), &got), FX_OK);
    // The profile comes before the restoration, not during it.
    EXPECT_EQ(filterex_profile_feed(fx, in.data(), 100), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_drain(fx, out.data(), &got), FX_OK);
    EXPECT_EQ(got, 100);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(filterex_drain(fx, out.data(), &got), FX_BAD_ARGUMENT);
    EXPECT_EQ(filterex_flow(fx, in.data(), 100, out.data(), &got), FX_BAD_ARGUMENT);
    filterex_free(fx);
    filterex_free(nullptr);
}

TEST(FilterEx, GapsAreFilledFromTheModelNotWithAStraightLine)
{
    // The least-squares fill of 4 to 60 missing samples of a two-partial
    // tone lands within a few steps, ten times nearer than a straight line
    // across the gap.
    ar_scratch s;
    ASSERT_TRUE(ar_scratch_init(&s, 1024));
    const int length = AR_HISTORY + 1024 + AR_LOOKAHEAD;
    const samples whole = to16(tone(length + 9000, 6000));
    std::vector<float> clean(whole.begin() + 9000, whole.end());
    ASSERT_TRUE(ar_fit(&s, clean.data(), length));
    for (int gap : {4, 10, 30, 60}) {
        std::vector<float> x = clean;
        for (int i = 500; i < 500 + gap; ++i)
            x[size_t(i)] = 0.0f;
        ASSERT_TRUE(ar_interpolate(&s, x.data(), 500, gap));
        float worst = 0, line = 0;
        for (int i = 500; i < 500 + gap; ++i) {
            worst = std::max(worst, std::fabs(x[size_t(i)] - clean[size_t(i)]));
            const float f = float(i - 499) / float(gap + 1);
            line = std::max(line, std::fabs(clean[499] + f * (clean[size_t(500 + gap)] - clean[499]) - clean[size_t(i)]));
        }
        EXPECT_LT(worst, 6.0f) << gap << " samples";
        EXPECT_GT(line, 10 * worst) << gap << " samples";
    }
    // Digital silence has nothing to model.
    std::vector<float> silent(size_t(length), 0.0f);
    EXPECT_FALSE(ar_fit(&s, silent.data(), length));
}

TEST(FilterEx, DrumHitsAndTheTrackEndsAreNotTakenForClicks)
{
    // Bursts of decaying noise over a tone, as a snare or a cymbal is: the
    // model cannot predict them, but they are the music and pass unchanged.
    std::vector<double> music = tone(RATE, 3000);
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0, 1);
    for (int start : {3000, 15000, 27000})
        for (int i = 0; i < 8000; ++i)
            music[size_t(start + i)] += 6000 * std::exp(-i / 600.0) * noise(rng);
    // A track that starts and stops mid-waveform.
    const samples in = to16(music);
    const restored r = run(in, 1, false);
    EXPECT_EQ(r.counts.repaired_gaps, 0);
    EXPECT_EQ(r.out, in);
    // A click in the last few hundredths of a second is still repaired.
    const samples clean = to16(tone(RATE / 2, 6000));
    samples damaged = clean;
    damaged[size_t(RATE / 2 - 200)] += 7000;
    const restored end = run(damaged, 1, false);
    ASSERT_EQ(end.out.size(), clean.size());
    EXPECT_EQ(end.counts.repaired_gaps, 1);
    EXPECT_LE(std::abs(end.out[size_t(RATE / 2 - 200)] - clean[size_t(RATE / 2 - 200)]), 4);
}

TEST(FilterEx, TheProfileIsTheQuietestSecondThatIsNotDigitalSilence)
{
    // A second of digital silence, a second of faint hiss, a second of
    // hiss 24 dB louder. The faint second is the noise: it falls to the
    // gain floor, while the loud one stands far above it and mostly stays.
    std::vector<double> track(size_t(3 * RATE), 0.0);
    const std::vector<double> faint = hiss(RATE, 20, 5), loud = hiss(RATE, 320, 6);
    for (int i = 0; i < RATE; ++i) {
        track[size_t(RATE + i)] = faint[size_t(i)];
        track[size_t(2 * RATE + i)] = loud[size_t(i)];
    }
    const samples in = to16(track);
    const restored r = run(in, 1, true);
    EXPECT_TRUE(r.counts.denoising);
    EXPECT_LT(rms(r.out, RATE + 4096, 2 * RATE - 4096), 0.25 * rms(in, RATE + 4096, 2 * RATE - 4096));
    EXPECT_GT(rms(r.out, 2 * RATE + 4096, 3 * RATE - 4096), 0.7 * rms(in, 2 * RATE + 4096, 3 * RATE - 4096));
    EXPECT_EQ(std::count(r.out.begin(), r.out.begin() + RATE - 4096, 0), RATE - 4096);
    // A track of nothing but digital silence has no profile: nothing to do.
    const samples quiet(size_t(2 * RATE), 0);
    const restored q = run(quiet, 1, true);
    EXPECT_FALSE(q.counts.denoising);
    EXPECT_EQ(q.out, quiet);
}

TEST(FilterEx, FullScaleMusicIsClippedNeverWrapped)
{
    // A tone driven into the rails after a second of hiss: the hiss
    // reduction rings past full scale at the flattened peaks, and those
    // samples must stop at the rails rather than wrap round to the other
    // sign.
    std::vector<double> track = hiss(2 * RATE, 50, 8);
    const std::vector<double> loud = tone(2 * RATE, 40000, RATE);
    for (size_t i = 0; i < track.size(); ++i)
        track[i] += loud[i];
    const samples in = to16(track);
    const restored r = run(in, 1, true);
    ASSERT_EQ(r.out.size(), in.size());
    int railed = 0, wrapped = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        if (std::abs(in[i]) < 32000)
            continue;
        ++railed;
        wrapped += (in[i] > 0) != (r.out[i] > 0) || std::abs(r.out[i]) < 16000;
    }
    EXPECT_GT(railed, 1000);
    EXPECT_EQ(wrapped, 0);
}

TEST(FilterEx, AHigherThresholdWorksHarderOnClicksAndHiss)
{
    // Clicks of many sizes on a tone in hiss after a hiss-only second.
    std::vector<double> track = hiss(3 * RATE, 60, 10);
    const std::vector<double> music = tone(3 * RATE, 4000, RATE);
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> where(RATE + 100, 3 * RATE - 200);
    std::uniform_real_distribution<double> size(150, 3000);
    for (size_t i = 0; i < track.size(); ++i)
        track[i] += music[i];
    for (int c = 0; c < 60; ++c)
        track[size_t(where(rng))] += size(rng) * (c % 2 ? 1 : -1);
    const samples in = to16(track);
    const restored gentle = run(in, 1, true, 4096, FX_THRESHOLD_MIN);
    const restored usual = run(in, 1, true, 4096, FX_THRESHOLD_DEFAULT);
    const restored hard = run(in, 1, true, 4096, FX_THRESHOLD_MAX);
    EXPECT_LT(gentle.counts.repaired_gaps, usual.counts.repaired_gaps);
    EXPECT_LT(usual.counts.repaired_gaps, hard.counts.repaired_gaps);
    EXPECT_GT(rms(gentle.out, 4096, RATE - 4096), rms(hard.out, 4096, RATE - 4096));
}
