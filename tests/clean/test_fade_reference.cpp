// Fade In against the ramp as its arithmetic reads, frame by frame, on
// tracks whose data starts on and off the buffers' frame grid: a stereo
// frame cut by a buffer's end takes one gain for both its samples.
#include <algorithm>
#include <cmath>
#include "tests/clean/clean_files.h"

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
        for (const uint32_t rate : {22050u, 384000u}) {
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
