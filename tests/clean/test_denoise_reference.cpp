// The DeNoiser against a plain model of the pass written from its rules:
// four-entry histories shifted one sample at a time, a trigger per channel,
// the flattening written back into the current output block only. The
// model walks the files byte by byte, so it also covers data that starts
// off a buffer's frame grid in the track (a LIST chunk before the data) or
// in the cleaned file (an 18-byte format chunk): a buffer that runs out
// inside a frame is refilled, or written out, between its two samples.
#include <algorithm>
#include <cmath>
#include "tests/clean/clean_files.h"

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
