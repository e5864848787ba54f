// The DeClicker against a plain, unhurried model of the pass written from
// its rules alone: per-sample histories shifted in full, a mean summed anew
// for every sample, the output image and the smoothed area as whole blocks
// of the cleaned file, the event list walked record by record. Tracks of
// music with clicks, slopes and full-scale samples, mono and stereo, across
// many input and output buffers, with every window from 1 to 45.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include "tests/clean/clean_files.h"

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
