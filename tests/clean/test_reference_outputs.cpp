// The passes against references: plain models of the DeClicker, the
// DeNoiser and Fade In written from their rules alone, and the cleaned files
// of every pass pinned byte for byte. Each part keeps its own helpers in a
// namespace of its own.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include "tests/clean/clean_files.h"
#include "tests/support/display_dialog.h"

// The DeClicker against a plain, unhurried model of the pass written from
// its rules alone: per-sample histories shifted in full, a mean summed anew
// for every sample, the output image and the smoothed area as whole blocks
// of the cleaned file, the event list walked record by record. Tracks of
// music with clicks, slopes and full-scale samples, mono and stereo, across
// many input and output buffers, with every window from 1 to 45.
namespace declick_ref {

namespace {

// Tones with clicks, one-signed spikes, slopes (square edges) and
// full-scale samples strewn over them; `dense` puts a click every few frames.
samples16 material(int frames, int channels, uint64_t seed, bool dense)
{
    lcg g{seed};
    samples16 s(size_t(frames * channels));
    int next = g.in(20, 300), kind = 0, age = 100;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            s[size_t(i * channels + c)] =
                clip((7000 - 2000 * c) * std::sin(i * (0.05 + 0.01 * c)) + 2500 * std::sin(i * 0.007) + g.in(-300, 300));
        if (i == next) {
            kind = g.in(0, 4);
            age = 0;
            next = i + (dense ? g.in(6, 14) : g.in(30, 700));
        }
        const int16_t click[4] = {20000, 25000, -22000, -15000};
        for (int c = 0; c < channels; ++c) {
            int16_t& x = s[size_t(i * channels + c)];
            switch (kind) {
            case 0: if (age < 4) x = click[age]; break;
            case 1: if (age < 3) x = clip(x + 21000); break;
            case 2: if (age < 30) x = clip(x + (age < 15 ? 24000 : -24000)); break;
            case 3: if (age < 2) x = age ? 32767 : -32768; break;
            default: if (age < 2) x = int16_t(age ? -26000 : 26000); break;
            }
        }
        ++age;
    }
    return s;
}

struct record {
    int16_t peak = 0, end_value = 0, length = 0;
};

// The pass as its rules read. The input buffers and the output blocks are
// the 8,192-byte windows of the files, the first from the data's start on:
// in a canonical track from byte 44. Where the data does not start on the
// frame grid of a window, a frame cut by an input buffer's end is read
// whole with the next buffer (its call's first frame), and an output block
// that ends inside a frame is written out between the frame's samples.
struct model {
    int k, channels;
    uint16_t bias[2];
    uint32_t buffers_done;
    int16_t hist[2][47] = {};
    int16_t smoothed_left = 0, smoothed_right = 0;
    uint32_t residual_sum = 0;
    int32_t corrections = 0;
    std::vector<int16_t> image, smoothed;   // the current output block
    size_t block_start = 0, w = 0;          // block start in the output; position within the block
    std::vector<int16_t> out;               // the cleaned samples written so far
    uint32_t in_start = 44, out_start = 44;  // the data's file offsets
    record events[256];
    int current = 0, last = 0;
    int32_t slope_run = 0;

    size_t block_samples(size_t start) const { return start == 0 ? (8192 - out_start % 8192) / 2 : 8192 / 2; }

    int16_t mean(int c, int16_t x)
    {
        std::memmove(hist[c] + 1, hist[c], size_t(k + 1) * 2);
        hist[c][0] = x;
        int32_t sum = 0;
        for (int j = 0; j <= k + 1; ++j)
            sum += hist[c][j];
        return int16_t(sum / (k + 1));
    }
    void new_block()
    {
        image.assign(block_samples(block_start), 0);
        smoothed.assign(image.size(), 0);
        w = 0;
        current = last = 0;
        events[0] = record{};
    }
    void flush()
    {
        out.insert(out.end(), image.begin(), image.begin() + long(w));
        block_start += w;
        new_block();
    }
    // One sample is in the image: a full block goes out.
    void sample_done()
    {
        if (++w == image.size())
            flush();
    }
    bool step_on()
    {
        if (current + 1 >= 256)
            return false;
        ++current;
        return true;
    }
    // n x channels positions back from the one after the left sample at `wl`.
    void repair(const record& r, size_t wl)
    {
        const int n = r.length + 2;
        if (r.length > 80 || n <= 0)
            return;
        for (int j = 0; j < n * channels; ++j) {
            const long p = long(wl) + 1 - j;
            if (p >= 0 && size_t(p) < image.size())
                image[size_t(p)] = smoothed[size_t(p)];
        }
    }
    static int16_t clamp(int32_t v) { return int16_t(v < -32767 ? -32760 : v); }
    static int32_t mag(int16_t v) { return v < 0 ? -int32_t(v) : v; }

    // One call: frames from `at` on, of which `avail` are in the buffer;
    // `first` primes. Returns the frames done, 0 when the data ends first.
    int call(const samples16& s, size_t& at, int avail, int count, bool first)
    {
        int i = 0;
        if (first) {
            new_block();
            corrections = 0;
            for (int c = 0; c < 2; ++c)
                for (int j = 0; j < k; ++j)
                    hist[c][j] = int16_t(bias[c] >> 1);
            uint32_t sums[2] = {uint32_t(bias[0]) * uint32_t(k), uint32_t(bias[1]) * uint32_t(k)};
            const int primed = std::min(k / 2 + 1, count);
            for (; i < primed; ++i, at += size_t(channels)) {
                for (int c = 0; c < channels; ++c) {
                    const int16_t x = s[at + size_t(c)];
                    std::memmove(hist[c] + 1, hist[c], size_t(k + 1) * 2);
                    hist[c][0] = x;
                    image[w] = x;
                    sums[c] += uint32_t(int32_t(x));
                    sample_done();
                }
            }
            smoothed_left = int16_t(sums[0] / uint32_t(k));
            smoothed_right = int16_t(sums[1] / uint32_t(k));
            residual_sum = sums[0];
        }
        if (count == 0) {
            flush();
            return 0;
        }
        const size_t end = at + size_t(avail - i) * size_t(channels);
        events[current] = record{};
        slope_run = 0;
        for (; i < count; ++i) {
            if (at >= end)
                return 0;
            const uint32_t n = uint32_t(i) + 1;
            const size_t wl = w;
            {
                const int16_t x = s[at];
                image[w] = x;
                const int16_t m = mean(0, x);
                smoothed[w] = m;
                const int16_t d = clamp(int32_t(m) - smoothed_left);
                record& cur = events[current];
                if (mag(d) > 4500) {
                    ++slope_run;
                    if (cur.peak == 0)
                        cur.peak = m;
                    ++cur.length;
                } else if (cur.peak != 0 && slope_run != 0 && cur.end_value == 0) {
                    cur.end_value = m;
                    if (i > (cur.length >> 1))
                        repair(cur, wl);
                    if (current == last && step_on())
                        events[current] = record{};
                    slope_run = 0;
                }
                smoothed_left = m;
                const int16_t r = clamp(int32_t(x) - m);
                const uint32_t a = uint32_t(mag(r));
                residual_sum += a;
                const uint32_t thr = std::min(residual_sum / n, 16383u);
                if (events[current].length != 0)
                    ++events[current].length;
                if ((n >= 6 || buffers_done >= 1) && a > std::max(thr, 11500u)) {
                    record& e = events[last];
                    if (e.peak == 0) {
                        if (step_on()) {
                            events[current] = record{r, 0, int16_t(k >> 1)};
                            last = current;
                        }
                    } else if (int32_t(e.peak) * r > 0) {
                        record& c = events[current];
                        if (r >= 0 ? r > c.peak : r < c.peak)
                            c.peak = r;
                        if (c.peak == r)
                            --c.length;
                    } else {
                        e.end_value = r;
                        repair(e, wl);
                        ++corrections;
                        if (step_on()) {
                            events[current] = record{};
                            last = current;
                        }
                    }
                }
                ++at;
                sample_done();
            }
            if (channels == 2) {
                const int16_t x = s[at];
                image[w] = x;
                int16_t m = mean(1, x);
                const int16_t d = clamp(int32_t(m) - smoothed_right);
                if (mag(d) > 4500) {
                    if (i > (events[current].length >> 1))
                        m = int16_t(d < 0 ? smoothed_right - 4500 : smoothed_right + 4500);
                    ++slope_run;
                    ++events[current].length;
                }
                smoothed_right = m;
                smoothed[w] = m;
                ++at;
                sample_done();
            }
        }
        residual_sum /= uint32_t(i) + 1;
        return i;
    }

    samples16 run(const samples16& s)
    {
        const size_t frames = s.size() / size_t(channels);
        const size_t frame_bytes = size_t(2 * channels);
        // A frame belongs to the buffer that holds its last byte.
        auto frames_in = [&](size_t window, size_t from) {
            size_t j = from;
            while (j < frames && (in_start + frame_bytes * j + frame_bytes - 1) / 8192 == window)
                ++j;
            return int(j - from);
        };
        int32_t total = int32_t(frames);
        size_t at = 0, window = in_start / 8192;
        int avail = frames_in(window, 0);
        int r = call(s, at, avail, avail, true);
        ++buffers_done;
        total -= r;
        while (total > 0 && r == avail) {
            avail = frames_in(++window, at / size_t(channels));
            if (avail == 0)
                break;
            r = call(s, at, avail, 8192 / int(frame_bytes), false);
            total -= r;
            ++buffers_done;
        }
        call(s, at, 0, 0, false);
        return out;
    }
};

class DeclickReferenceTest : public CleanTest {};

TEST_F(DeclickReferenceTest, PassEqualsThePlainModelOnEveryWindowWhereverTheDataStarts)
{
    struct track_case {
        int channels;
        bool dense;
        int frames;
        int fmt_size = 16;
        int list_before = -1;   // body bytes of a LIST chunk before the data
    };
    // Canonical tracks, then data off the frame grid: an 18-byte format
    // chunk (in both files), and LIST chunks that start the data 6 bytes
    // before the first buffer's end, at it, and 4 bytes past it.
    const track_case tracks[] = {{2, false, 9000},        {1, false, 17000},       {2, true, 6000},
                                 {1, true, 9000},         {2, false, 9000, 18},    {1, false, 9000, 18},
                                 {2, true, 6000, 18},     {2, false, 9000, 16, 5}, {2, true, 6000, 16, 8133},
                                 {2, false, 9000, 16, 8139}, {2, false, 9000, 18, 8143}};
    int checked = 0;
    int64_t corrections = 0, repaired = 0;
    for (const track_case& t : tracks) {
        const bool canonical = t.fmt_size == 16 && t.list_before < 0;
        for (int k = 1; k <= 45; k += canonical ? (k < 13 ? 1 : 4) : 11) {
            const samples16 s = material(t.frames, t.channels, uint64_t(k * 7 + t.channels), t.dense);
            release();
            app_state_reset();
            app.filter_threshold = int16_t(k);
            app.bias_level[0] = 300;
            app.bias_level[1] = 280;
            track_layout layout;
            layout.channels = t.channels;
            layout.fmt_size = t.fmt_size;
            if (t.list_before >= 0)
                layout.chunk_before_data = chunk("LIST", bytes(size_t(t.list_before), 'x'));
            model m{k, t.channels, {300, 280}, app.buffers_done};
            const uint32_t fmt_bytes = uint32_t(t.fmt_size + (t.fmt_size & 1));
            m.in_start = 12 + 8 + fmt_bytes + uint32_t(layout.chunk_before_data.size()) + 8;
            m.out_start = 12 + 8 + fmt_bytes + 8;
            const samples16 expected = m.run(s);
            const parsed_wav w = clean(s, MODE_DECLICK, layout);
            ASSERT_TRUE(w.ok);
            const samples16 got = w.samples();
            ASSERT_EQ(got.size(), expected.size()) << "window " << k << ", " << t.channels << " channels, data at "
                                                   << m.in_start;
            size_t first = 0;
            while (first < got.size() && got[first] == expected[first])
                ++first;
            EXPECT_EQ(first, got.size()) << "window " << k << ", " << t.channels << " channels"
                                         << (t.dense ? ", dense clicks" : "") << ", data at " << m.in_start << "/"
                                         << m.out_start << ": first difference at sample "
                                         << first << " (" << (first < got.size() ? got[first] : 0) << " against "
                                         << (first < got.size() ? expected[first] : 0) << ")";
            char line[64];
            std::snprintf(line, sizeof line, "declick process complete %d corrections", int(m.corrections));
            EXPECT_STREQ(app.result_text, line) << "window " << k;
            ++checked;
            corrections += m.corrections;
            for (size_t j = 0; j < s.size() && j < got.size(); ++j)
                repaired += got[j] != s[j];
        }
    }
    EXPECT_GT(checked, 40);
    // The material is worth the comparison: clicks were closed and repaired.
    EXPECT_GT(corrections, 1000);
    EXPECT_GT(repaired, 10000);
}

} // namespace

} // namespace declick_ref

// ---------------------------------------------------------------------------

// The DeNoiser against a plain model of the pass written from its rules:
// four-entry histories shifted one sample at a time, a trigger per channel,
// the flattening written back into the current output block only. The
// model walks the files byte by byte, so it also covers data that starts
// off a buffer's frame grid in the track (a LIST chunk before the data) or
// in the cleaned file (an 18-byte format chunk): a buffer that runs out
// inside a frame is refilled, or written out, between its two samples.
namespace denoise_ref {

namespace {

// Tones with stretches of zigzag of every size, noise bursts and full-scale
// steps, so that triggers fire with large and small steps on both channels.
samples16 material(int frames, int channels, uint64_t seed)
{
    lcg g{seed};
    samples16 s(size_t(frames * channels));
    int next = g.in(5, 60), kind = 0, age = 1000, size = 0;
    for (int i = 0; i < frames; ++i) {
        if (i == next) {
            kind = g.in(0, 3);
            size = g.in(20, 3000);
            age = 0;
            next = i + g.in(10, 200);
        }
        for (int c = 0; c < channels; ++c) {
            double v = (5000 + 1000 * c) * std::sin(i * (0.02 + 0.005 * c));
            if (age < 40) {
                switch (kind) {
                case 0: v += ((i + c) & 1) ? size : -size; break;
                case 1: v = g.in(-32768, 32767); break;
                case 2: v = ((i / 2) & 1) ? 32767 : -32768; break;
                default: v += g.in(-size, size); break;
                }
            }
            s[size_t(i * channels + c)] = int16_t(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
        }
        ++age;
    }
    return s;
}

struct channel {
    int16_t y[4] = {};
    int16_t d[4] = {};
    int16_t previous = 0;
    int8_t trigger = 0;
};

// The pass over `s`, whose data starts at byte `in_start` of the track and
// at byte `out_start` of the cleaned file. The cleaned samples.
samples16 denoise_model(const samples16& s, int channels, uint32_t in_start, uint32_t out_start, uint16_t bias[2],
                        int32_t* corrections)
{
    channel ch[2];
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < 3; ++j)
            ch[c].y[j] = int16_t(bias[c]);
    samples16 out(s.size());
    *corrections = 0;
    const size_t frame_bytes = size_t(2 * channels);
    const uint64_t data_end = in_start + s.size() * 2;
    uint64_t in_pos = in_start, in_end = std::min<uint64_t>(data_end, (in_start / 8192 + 1) * 8192);
    uint64_t out_pos = out_start, out_end = (out_start / 8192 + 1) * 8192, block_start = out_start;
    size_t k = 0;   // sample index
    for (size_t f = 0; f < s.size() / size_t(channels); ++f) {
        for (int c = 0; c < channels; ++c, ++k) {
            if (in_pos == in_end) {
                if (in_pos >= data_end)
                    return out;
                in_end = std::min<uint64_t>(data_end, in_pos + 8192);
                for (int b = 0; b < 2; ++b)
                    for (int j = 0; j < 3; ++j)
                        ch[b].y[j] = int16_t(bias[b]);
            }
            if (out_pos == out_end) {
                block_start = out_pos;
                out_end = out_pos + 8192;
            }
            channel& h = ch[c];
            const int16_t x = s[k];
            h.y[3] = h.y[2], h.y[2] = h.y[1], h.y[1] = h.y[0], h.y[0] = x;
            h.d[3] = h.d[2], h.d[2] = h.d[1], h.d[1] = h.d[0];
            h.d[0] = int16_t(x - h.previous);
            if (int32_t(h.d[0]) * h.d[1] < 0)
                h.trigger = int8_t(int32_t(h.d[1]) * h.d[2] < 0 ? h.trigger + 2 : h.trigger - 1);
            out[k] = x;
            if (h.trigger > 3) {
                if (std::abs(int32_t(h.d[0])) + std::abs(int32_t(h.d[1])) + std::abs(int32_t(h.d[2])) >= 503) {
                    uint64_t w = out_pos;
                    size_t wk = k;
                    for (int i = 0; i < 3; ++i) {
                        h.y[i] = int16_t(h.y[i] + (h.d[i] >> 2) - h.d[i]);
                        h.d[i] = int16_t(h.d[i] >> 2);
                        if (w - block_start < frame_bytes)
                            break;
                        out[wk] = h.y[i];
                        w -= frame_bytes;
                        wk -= size_t(channels);
                    }
                }
                *corrections += 3;
                h.trigger = 0;
            }
            h.previous = h.y[0];
            in_pos += 2;
            out_pos += 2;
        }
    }
    return out;
}

class DenoiseReferenceTest : public CleanTest {};

TEST_F(DenoiseReferenceTest, PassEqualsThePlainModelWhereverTheDataStarts)
{
    struct layout_case {
        int channels;
        int fmt_size;
        int list_before;   // body bytes of a LIST chunk before the data, or -1
    };
    const layout_case layouts[] = {{1, 16, -1}, {2, 16, -1}, {2, 18, -1}, {1, 18, -1},
                                   {2, 16, 5},  {2, 16, 8133}, {2, 18, 8139}, {2, 16, 8143}};
    int64_t total = 0;
    for (const layout_case& l : layouts) {
        for (uint64_t seed = 1; seed <= 3; ++seed) {
            const int frames = l.channels == 2 ? 14000 : 26000;
            const samples16 s = material(frames, l.channels, seed * 31 + uint64_t(l.fmt_size + l.list_before));
            release();
            app_state_reset();
            app.bias_level[0] = 300;
            app.bias_level[1] = uint16_t(120 + seed);
            track_layout t;
            t.channels = l.channels;
            t.fmt_size = l.fmt_size;
            if (l.list_before >= 0)
                t.chunk_before_data = chunk("LIST", bytes(size_t(l.list_before), 'x'));
            const uint32_t fmt_bytes = uint32_t(l.fmt_size + (l.fmt_size & 1));
            const uint32_t in_start = 12 + 8 + fmt_bytes + uint32_t(t.chunk_before_data.size()) + 8;
            const uint32_t out_start = 12 + 8 + fmt_bytes + 8;
            int32_t corrections = 0;
            const samples16 expected = denoise_model(s, l.channels, in_start, out_start, app.bias_level, &corrections);
            const parsed_wav w = clean(s, MODE_DENOISE, t);
            ASSERT_TRUE(w.ok);
            const samples16 got = w.samples();
            ASSERT_EQ(got.size(), expected.size());
            size_t first = 0;
            while (first < got.size() && got[first] == expected[first])
                ++first;
            EXPECT_EQ(first, got.size()) << l.channels << " channels, format chunk " << l.fmt_size << ", LIST "
                                         << l.list_before << ", seed " << seed << ": first difference at sample "
                                         << first << " (" << (first < got.size() ? got[first] : 0) << " against "
                                         << (first < got.size() ? expected[first] : 0) << ")";
            char line[64];
            std::snprintf(line, sizeof line, "denoise process complete %d corrections", int(corrections));
            EXPECT_STREQ(app.result_text, line);
            total += corrections;
        }
    }
    EXPECT_GT(total, 10000);   // the material keeps the triggers busy
}

} // namespace

} // namespace denoise_ref

// ---------------------------------------------------------------------------

// Fade In against the ramp as its arithmetic reads, frame by frame, on
// tracks whose data starts on and off the buffers' frame grid: a stereo
// frame cut by a buffer's end takes one gain for both its samples.
namespace fade_ref {

namespace {

// Frame f's gain: min(32767, floor((f + 1) x 32767 / F)), F = 0.2 x intro x rate.
samples16 fade_model(const samples16& s, int channels, uint32_t rate, int intro)
{
    samples16 out(s.size());
    const double span = 0.2 * intro * double(rate);
    for (size_t f = 0; f < s.size() / size_t(channels); ++f) {
        const int32_t gain = int32_t(std::min(32767.0, std::floor(double(f + 1) * 32767.0 / span)));
        for (int c = 0; c < channels; ++c) {
            const size_t k = f * size_t(channels) + size_t(c);
            out[k] = int16_t(int32_t(s[k]) * gain / 32767);
        }
    }
    return out;
}

class FadeReferenceTest : public CleanTest {};

TEST_F(FadeReferenceTest, RampEqualsItsArithmeticWhereverTheDataStarts)
{
    struct layout_case {
        int channels;
        int fmt_size;
        int list_before;
    };
    const layout_case layouts[] = {{2, 16, -1}, {1, 16, -1}, {2, 18, -1}, {2, 16, 5}, {2, 18, 8133}, {2, 16, 8143}};
    for (const layout_case& l : layouts) {
        // A ramp that reaches unity within the first buffers and passes the
        // rest unchanged, and one still rising at the end.
        for (const uint32_t rate : {22050u, 1000000u}) {
            const int intro = rate == 22050u ? 2 : 1;
            const int frames = 12000;
            samples16 s(size_t(frames * l.channels));
            for (size_t k = 0; k < s.size(); ++k)
                s[k] = int16_t(std::lround(30000 * std::sin(double(k) * 0.37)));
            release();
            app_state_reset();
            app.intro_max_seconds = intro;
            track_layout t;
            t.channels = l.channels;
            t.rate = rate;
            t.fmt_size = l.fmt_size;
            if (l.list_before >= 0)
                t.chunk_before_data = chunk("LIST", bytes(size_t(l.list_before), 'x'));
            const samples16 got = clean(s, MODE_FADE_IN, t).samples();
            const samples16 expected = fade_model(s, l.channels, t.rate, intro);
            ASSERT_EQ(got.size(), expected.size());
            size_t first = 0;
            while (first < got.size() && got[first] == expected[first])
                ++first;
            EXPECT_EQ(first, got.size()) << l.channels << " channels, format chunk " << l.fmt_size << ", LIST "
                                         << l.list_before << ", rate " << rate << ": first difference at sample "
                                         << first;
        }
    }
}

} // namespace

} // namespace fade_ref

// ---------------------------------------------------------------------------

// The cleaned files pinned byte for byte: every pass on generated tracks
// (music with clicks and zigzags, full-scale noise, silence, mono and stereo,
// odd data sizes, chunks that put frames across buffer boundaries, tracks
// of no frames and of fewer than the priming takes, windows from 1 to 45)
// gives the file, result line and wave-view drawing whose hash was taken
// from the passes as first written, before they were tuned for speed: the
// tuning changed nothing. TM_PRINT_PINNED=1 prints the table afresh.
namespace pinned {

namespace {

// Two tones and a little noise per channel, with the DeClicker's and the
// DeNoiser's material strewn over it: bipolar clicks, one-signed spikes,
// zigzags, steep square edges (slopes) and full-scale samples.
samples16 music(int frames, int channels, uint64_t seed)
{
    lcg g{seed};
    samples16 s(size_t(frames * channels));
    int next_event = g.in(50, 900);
    int kind = 0, age = 0;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            double v = (6000 - 1000 * c) * std::sin(i * (0.0627 - 0.011 * c)) + 3000 * std::sin(i * 0.0131) +
                       g.in(-400, 400);
            s[size_t(i * channels + c)] = clip(v);
        }
        if (i == next_event) {
            kind = g.in(0, 5);
            age = 0;
            next_event = i + g.in(40, 1400);
        }
        if (age < 40) {
            const int16_t click[4] = {20000, 25000, -22000, -15000};
            for (int c = 0; c < channels; ++c) {
                int16_t& x = s[size_t(i * channels + c)];
                switch (kind) {
                case 0: if (age < 4) x = click[age]; break;                          // a click
                case 1: if (age < 3) x = clip(x + 21000); break;                     // one-signed spike
                case 2: if (age < 14) x = clip(x + ((age & 1) ? 1600 : -1600)); break;   // zigzag
                case 3: x = clip(x + (age < 20 ? 26000 : -26000)); break;            // steep square edges
                case 4: if (age < 2) x = age ? 32767 : -32768; break;                // full scale both ways
                default: break;
                }
            }
            ++age;
        }
    }
    return s;
}

samples16 noise(int frames, int channels, uint64_t seed)
{
    lcg g{seed};
    samples16 s(size_t(frames * channels));
    for (int16_t& x : s)
        x = int16_t(g.in(-32768, 32767));
    return s;
}

// A bipolar click every 8 frames: more events in one block than its list holds.
samples16 dense_clicks(int frames, int channels)
{
    samples16 s(size_t(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i * channels + c)] = int16_t(i % 8 == 3 ? 24000 : i % 8 == 4 ? -24000 : 100 * (i % 3));
    return s;
}

// A track that opens deep below zero, wrapping the start step's unsigned sums.
samples16 negative_start(int frames, int channels)
{
    samples16 s = music(frames, channels, 99);
    for (int i = 0; i < 400 && i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i * channels + c)] = int16_t(-30000 + 7 * i);
    return s;
}

bytes chunk_of(const char* id, int body_bytes)
{
    bytes body(static_cast<size_t>(body_bytes), 0);
    for (int i = 0; i < body_bytes; ++i)
        body[size_t(i)] = uint8_t('a' + i % 26);
    return chunk(id, body);
}

uint64_t fnv(uint64_t h, const void* p, size_t n)
{
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        h = (h ^ b[i]) * 1099511628211ULL;
    return h;
}

struct pinned_case {
    const char* name;
    std::function<samples16()> track;
    track_layout layout;
    int mode;
    int window;          // filter_threshold
    uint16_t bias[2];
    int intro;           // intro_max_seconds (fade)
    int runs;            // passes one after another on the same state
    uint64_t hash;
};

constexpr int F = 20000;   // frames: about ten input buffers of a stereo track

track_layout mono_layout() { track_layout t; t.channels = 1; return t; }
track_layout stereo_layout() { track_layout t; t.channels = 2; return t; }
track_layout with_before(track_layout t, int body) { t.chunk_before_data = chunk_of("LIST", body); return t; }
track_layout with_after(track_layout t, int body) { t.chunk_after_data = chunk_of("LIST", body); return t; }
track_layout with_extra(track_layout t, int extra) { t.extra_data_bytes = extra; return t; }
track_layout with_fmt(track_layout t, int size) { t.fmt_size = size; return t; }

std::vector<pinned_case> cases()
{
    const track_layout m = mono_layout(), s = stereo_layout();
    auto music2 = [] { return music(F, 2, 1); };
    auto music1 = [] { return music(2 * F, 1, 2); };
    auto noise2 = [] { return noise(F, 2, 3); };
    auto noise1 = [] { return noise(2 * F, 1, 4); };
    auto quiet2 = [] { return samples16(size_t(2 * F), 0); };
    auto quiet1 = [] { return samples16(size_t(F), 0); };
    auto low2 = [] { return negative_start(F, 2); };
    auto low1 = [] { return negative_start(F, 1); };
    auto dense2 = [] { return dense_clicks(F, 2); };
    auto dense1 = [] { return dense_clicks(F, 1); };
    auto tiny2 = [] { return music(3, 2, 5); };
    auto empty = [] { return samples16(); };
    // Frames straddle buffers: the data starts 58 bytes in (a 5-byte LIST,
    // padded) or 46 bytes in (an 18-byte format chunk); a LIST of 8,133,
    // 8,139 or 8,143 bytes puts the data's start 6 bytes before the first
    // buffer's end, right at it, or 4 bytes past it.
    return {
        {"declick music stereo k1", music2, s, 1, 1, {300, 300}, 10, 1, 0x700a2db0bc68d3eeULL},
        {"declick music stereo k11", music2, s, 1, 11, {300, 300}, 10, 1, 0xe191222607ca4cf9ULL},
        {"declick music stereo k45", music2, s, 1, 45, {300, 300}, 10, 1, 0x52778ddd9e2c8835ULL},
        {"declick music mono k1", music1, m, 1, 1, {300, 300}, 10, 1, 0x24f96898ab80624fULL},
        {"declick music mono k11", music1, m, 1, 11, {300, 300}, 10, 1, 0x66f42f57f6d5d542ULL},
        {"declick music mono k45", music1, m, 1, 45, {300, 300}, 10, 1, 0x10896b73befc6f28ULL},
        {"declick noise stereo k1", noise2, s, 1, 1, {300, 300}, 10, 1, 0xc7cf9ab2801dda3fULL},
        {"declick noise stereo k11", noise2, s, 1, 11, {300, 300}, 10, 1, 0xf240c398a4baafb5ULL},
        {"declick noise stereo k45", noise2, s, 1, 45, {300, 300}, 10, 1, 0xfe7bc6431a8998a2ULL},
        {"declick noise mono k7", noise1, m, 1, 7, {300, 300}, 10, 1, 0x11bdf8531607b963ULL},
        {"declick silence stereo k11", quiet2, s, 1, 11, {300, 300}, 10, 1, 0xebb8c4eb861de7a8ULL},
        {"declick silence mono k45", quiet1, m, 1, 45, {300, 300}, 10, 1, 0xba456c82ff840438ULL},
        {"declick negative start stereo k11", low2, s, 1, 11, {300, 300}, 10, 1, 0x8254e50c117a09eeULL},
        {"declick negative start mono k2", low1, m, 1, 2, {300, 300}, 10, 1, 0x32b38c41be4b1ef2ULL},
        {"declick dense clicks stereo k11", dense2, s, 1, 11, {300, 300}, 10, 1, 0xe7b30478dbd6ec86ULL},
        {"declick dense clicks mono k1", dense1, m, 1, 1, {300, 300}, 10, 1, 0x0b8aedba2ff360d0ULL},
        {"declick odd size stereo k11", music2, with_extra(s, 3), 1, 11, {300, 300}, 10, 1, 0xe191222607ca4cf9ULL},
        {"declick odd size mono k11", music1, with_extra(m, 1), 1, 11, {300, 300}, 10, 1, 0x66f42f57f6d5d542ULL},
        {"declick list before stereo k11", music2, with_before(s, 5), 1, 11, {300, 300}, 10, 1, 0x00506842b9cef091ULL},
        {"declick list before stereo k45", noise2, with_before(s, 5), 1, 45, {300, 300}, 10, 1, 0xe6ebe9b3c760791fULL},
        {"declick list before mono k1", music1, with_before(m, 5), 1, 1, {300, 300}, 10, 1, 0xf3a8531a17509bfdULL},
        {"declick list after stereo k11", music2, with_after(s, 9), 1, 11, {300, 300}, 10, 1, 0xe191222607ca4cf9ULL},
        {"declick fmt 18 stereo k45", music2, with_fmt(s, 18), 1, 45, {300, 300}, 10, 1, 0xdf042286033af4c7ULL},
        {"declick bias 0 stereo k11", music2, s, 1, 11, {0, 0}, 10, 1, 0xe191222607ca4cf9ULL},
        {"declick bias high stereo k11", music2, s, 1, 11, {65535, 1}, 10, 1, 0xca2e8bd886adc13eULL},
        {"declick window 0 stereo", music2, s, 1, 0, {300, 300}, 10, 1, 0x700a2db0bc68d3eeULL},
        {"declick window 99 stereo", music2, s, 1, 99, {300, 300}, 10, 1, 0x52778ddd9e2c8835ULL},
        {"declick twice stereo k11", music2, s, 1, 11, {300, 300}, 10, 2, 0x07007463e89a9bedULL},
        {"declick twice mono k45", noise1, m, 1, 45, {300, 300}, 10, 2, 0xc28ea57bcf546e6bULL},
        {"denoise music stereo", music2, s, 2, 11, {300, 300}, 10, 1, 0x27ed298d30cd5cbcULL},
        {"denoise music mono", music1, m, 2, 11, {300, 300}, 10, 1, 0x8dff19f0b7351342ULL},
        {"denoise noise stereo", noise2, s, 2, 11, {300, 300}, 10, 1, 0xb98b146d27b69745ULL},
        {"denoise noise mono", noise1, m, 2, 11, {300, 300}, 10, 1, 0x1c7313ff32902db8ULL},
        {"denoise silence stereo", quiet2, s, 2, 11, {300, 300}, 10, 1, 0xb40bd301466064b3ULL},
        {"denoise odd size stereo", noise2, with_extra(s, 3), 2, 11, {300, 300}, 10, 1, 0xb98b146d27b69745ULL},
        {"denoise list before stereo", music2, with_before(s, 5), 2, 11, {300, 300}, 10, 1, 0xd4a6a1b7060e5f34ULL},
        {"denoise list before mono", noise1, with_before(m, 5), 2, 11, {300, 300}, 10, 1, 0x7b628b19b71a5ee8ULL},
        {"denoise fmt 18 mono", music1, with_fmt(m, 18), 2, 11, {300, 300}, 10, 1, 0x6f6e52e8d521ac97ULL},
        {"denoise bias high stereo", music2, s, 2, 11, {65535, 7}, 10, 1, 0x82a91479ec1df931ULL},
        {"denoise twice stereo", music2, s, 2, 11, {300, 300}, 10, 2, 0xbd2004e076e5a92bULL},
        {"declick tiny stereo k45", tiny2, s, 1, 45, {300, 300}, 10, 1, 0x082cabb4570e23e8ULL},
        {"declick empty stereo k11", empty, s, 1, 11, {300, 300}, 10, 1, 0x5bdf29dbb46ff0a0ULL},
        {"declick data near buffer end stereo",
         music2, with_before(s, 8133), 1, 11, {300, 300}, 10, 1, 0x14dfe7185428ce23ULL},
        {"declick data at buffer end stereo",
         music2, with_before(s, 8139), 1, 45, {300, 300}, 10, 1, 0x70a8103da0f08b22ULL},
        {"declick data past buffer end mono",
         music1, with_before(m, 8143), 1, 3, {300, 300}, 10, 1, 0x567d90be7f9cb337ULL},
        {"denoise tiny stereo", tiny2, s, 2, 11, {300, 300}, 10, 1, 0x610a7203d5b2217aULL},
        {"denoise data near buffer end stereo",
         noise2, with_before(s, 8133), 2, 11, {300, 300}, 10, 1, 0x7915333041b6dd9bULL},
        {"denoise data past buffer end mono",
         noise1, with_before(m, 8143), 2, 11, {300, 300}, 10, 1, 0x3535f29897d1ba39ULL},
        {"fadein music stereo 0.1 s", music2, s, 3, 11, {300, 300}, 0, 1, 0xbf028fa6feeb4d58ULL},
        {"fadein music mono 1 s", music1, with_before(m, 5), 3, 11, {300, 300}, 1, 1, 0x212f6b75aef3815bULL},
        {"fadein noise stereo 1 s", noise2, with_before(s, 5), 3, 11, {300, 300}, 1, 1, 0x3541352081f6f85aULL},
        {"dehum music stereo k3", music2, s, 4, 3, {300, 300}, 10, 1, 0xefb7b00c28af6b2dULL},
        {"dehum music mono k45", music1, with_before(m, 5), 4, 45, {300, 300}, 10, 1, 0xbae83ec447adc66dULL},
        {"mono music stereo", music2, with_before(s, 5), 5, 11, {300, 300}, 10, 1, 0xe8878f6167984e3dULL},
        {"mono noise mono", noise1, m, 5, 11, {300, 300}, 10, 1, 0xb4bd557f4429d89bULL},
        {"fadeout noise stereo 1 s", noise2, with_fmt(s, 18), 6, 11, {300, 300}, 1, 1, 0x88ba990c51986313ULL},
    };
}

class PinnedOutputTest : public CleanTest {
protected:
    window dialog = nullptr;

    void close_dialog()
    {
        if (dialog) {
            display_test::delete_display_objects();
            headless_close_dialog(dialog);
        }
        dialog = nullptr;
        app.main_dialog = nullptr;
    }
    void start_fresh()
    {
        close_dialog();
        release();
        app_state_reset();
        headless_reset();
        dialog = headless_open_dialog(&display_test::dialog, display_test::proc, 0);
    }
    void TearDown() override
    {
        close_dialog();
        CleanTest::TearDown();
    }

    // The hash of what a case leaves: every cleaned file, result line,
    // correction count and wave-view line of each of its runs.
    uint64_t run_case(const pinned_case& c)
    {
        start_fresh();
        write_file(path("track3.wav"), wav_bytes(c.track(), c.layout));
        const std::string out = std::string("trac") + mode_letter(c.mode) + "3.wav";
        uint64_t h = 14695981039346656037ULL;
        for (int run = 0; run < c.runs; ++run) {
            app.filter_threshold = int16_t(c.window);
            app.bias_level[0] = c.bias[0];
            app.bias_level[1] = c.bias[1];
            app.intro_max_seconds = c.intro;
            headless_clear_draw_calls();
            const int32_t r = process_track(nullptr, path("track3.wav").c_str(), c.mode);
            EXPECT_EQ(r, 0) << c.name;
            if (app.track_in)
                riff_close(app.track_in);
            app.track_in = nullptr;
            const bytes file = read_file(path(out.c_str()));
            EXPECT_TRUE(parse_wav(file).ok) << c.name;
            h = fnv(h, file.data(), file.size());
            h = fnv(h, app.result_text, std::strlen(app.result_text));
            h = fnv(h, &app.correction_count, sizeof app.correction_count);
            for (const draw_call& d : headless_draw_calls())
                if (d.op == DRAW_POLYLINE)
                    h = fnv(h, d.points.data(), d.points.size() * sizeof(point));
        }
        return h;
    }
};

} // namespace

TEST_F(PinnedOutputTest, EveryPassGivesThePinnedBytesResultLinesAndDrawings)
{
    const bool print = std::getenv("TM_PRINT_PINNED") != nullptr;
    for (const pinned_case& c : cases()) {
        const uint64_t h = run_case(c);
        if (print)
            std::printf("%-36s 0x%016llxULL\n", c.name, static_cast<unsigned long long>(h));
        else
            EXPECT_EQ(h, c.hash) << c.name << std::hex << ": 0x" << h;
    }
}

} // namespace pinned
