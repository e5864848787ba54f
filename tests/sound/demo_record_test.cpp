// The demo record: the same side on every run, shaped like an LP side, with
// songs that auto-track can find and grooves between them that it must not.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <vector>
#include "platform/sound/demo_record.h"

namespace {

const std::vector<int16_t>& whole_side()
{
    static const std::vector<int16_t> side = [] {
        std::vector<int16_t> s(size_t(demo_total_frames()) * 2);
        demo_record* r = demo_record_open();
        uint32_t done = 0;
        while (uint32_t n = demo_record_render(r, s.data() + 2 * size_t(done), 4096))
            done += n;
        demo_record_close(r);
        return s;
    }();
    return side;
}

uint64_t fnv1a(const int16_t* s, size_t n)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i)
        for (int b = 0; b < 2; ++b) {
            h ^= uint8_t(uint16_t(s[i]) >> (8 * b));
            h *= 0x100000001b3ull;
        }
    return h;
}

// Levels as the recorder measures a 1024-byte signal-sampling buffer: the
// mean absolute value of every second frame, per channel.
struct level {
    double left, right;
};
std::vector<level> buffer_levels(uint32_t first, uint32_t end)
{
    const std::vector<int16_t>& s = whole_side();
    std::vector<level> out;
    for (uint32_t b = first; b + 256 <= end; b += 256) {
        long sl = 0, sr = 0;
        for (uint32_t k = b; k < b + 256; k += 2) {
            sl += std::abs(int(s[2 * k]));
            sr += std::abs(int(s[2 * k + 1]));
        }
        out.push_back({sl / 128.0, sr / 128.0});
    }
    return out;
}

TEST(DemoRecord, IsTheSameOnEveryRunWhateverThePiecesAskedFor)
{
    const std::vector<int16_t>& side = whole_side();
    // Pinned: a change here is a change of the record itself.
    EXPECT_EQ(fnv1a(side.data(), side.size()), 0xe7e36b903ded0e3cull) << std::hex << fnv1a(side.data(), side.size());

    // The first 40 s again in odd pieces, single frames among them.
    const uint32_t frames = 40 * DEMO_RATE;
    demo_record* r = demo_record_open();
    std::vector<int16_t> again(size_t(frames) * 2);
    uint32_t done = 0, piece = 1;
    while (done < frames) {
        done += demo_record_render(r, again.data() + 2 * size_t(done), std::min(piece, frames - done));
        piece = piece * 7 % 4999 + 1;
    }
    demo_record_close(r);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), side.begin()));

    // Skipping gives the frames that follow, ready to render.
    r = demo_record_open();
    EXPECT_EQ(demo_record_skip(r, 50 * DEMO_RATE), 50 * DEMO_RATE);
    std::vector<int16_t> after(2 * DEMO_RATE);
    EXPECT_EQ(demo_record_render(r, after.data(), DEMO_RATE), DEMO_RATE);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), side.begin() + 2 * 50 * size_t(DEMO_RATE)));
    // Past the end, nothing.
    EXPECT_EQ(demo_record_skip(r, 1ull << 40), demo_total_frames() - 51 * DEMO_RATE);
    EXPECT_EQ(demo_record_position(r), demo_total_frames());
    EXPECT_EQ(demo_record_render(r, after.data(), 10), 0u);
    demo_record_close(r);
}

TEST(DemoRecord, IsOneSideOfAnLp)
{
    double seconds = demo_total_frames() / double(DEMO_RATE);
    EXPECT_GE(seconds, 120.0);
    EXPECT_LE(seconds, 180.0);
    ASSERT_GE(demo_song_count(), 3);
    ASSERT_LE(demo_song_count(), 4);
    EXPECT_NEAR(demo_song_at(0).first_frame / double(DEMO_RATE), 3.0, 0.5) << "lead-in";
    for (int i = 0; i < demo_song_count(); ++i) {
        demo_song s = demo_song_at(i);
        double length = (s.end_frame - s.first_frame) / double(DEMO_RATE);
        EXPECT_GE(length, 20.0) << "song " << i;
        EXPECT_LE(length, 40.0) << "song " << i;
        if (i > 0) {
            EXPECT_NEAR((s.first_frame - demo_song_at(i - 1).end_frame) / double(DEMO_RATE), 5.0, 0.01) << "gap before " << i;
        }
    }
    EXPECT_LT(demo_song_at(demo_song_count() - 1).end_frame, demo_total_frames());
}

TEST(DemoRecord, GroovesStayBelowTheSignalThresholdSongsAboveThemAndClicksAreHeard)
{
    // Everything outside the songs: both channels never reach the default
    // threshold of 300 together, so auto-track never starts there.
    std::vector<std::pair<uint32_t, uint32_t>> grooves;
    uint32_t from = 0;
    for (int i = 0; i < demo_song_count(); ++i) {
        grooves.push_back({from, demo_song_at(i).first_frame});
        from = demo_song_at(i).end_frame;
    }
    grooves.push_back({from, demo_total_frames()});
    double groove_sum = 0;
    size_t groove_buffers = 0;
    for (auto [a, b] : grooves)
        for (level l : buffer_levels(a, b)) {
            EXPECT_FALSE(l.left >= 300 && l.right >= 300) << "a groove looks like signal at frame " << a;
            groove_sum += l.left + l.right;
            groove_buffers += 2;
        }
    double groove = groove_sum / groove_buffers;
    EXPECT_GT(groove, 30.0) << "the groove is audible";
    EXPECT_LT(groove, 200.0);

    // Inside a song no stretch longer than a second is quieter than the groove.
    for (int i = 0; i < demo_song_count(); ++i) {
        demo_song s = demo_song_at(i);
        int quiet_run = 0, longest = 0;
        double loudest = 0;
        for (level l : buffer_levels(s.first_frame, s.end_frame)) {
            quiet_run = (l.left < groove || l.right < groove) ? quiet_run + 1 : 0;
            longest = std::max(longest, quiet_run);
            loudest = std::max({loudest, l.left, l.right});
        }
        EXPECT_LT(longest * 256, int(DEMO_RATE)) << "song " << i;
        EXPECT_GT(loudest, 3000) << "song " << i;
    }

    const std::vector<int16_t>& s = whole_side();
    // A click is a jump between neighbouring samples far beyond what the
    // low-passed groove noise does.
    int clicks = 0;
    for (uint32_t k = 1; k < demo_song_at(0).first_frame; ++k)
        for (int c = 0; c < 2; ++c)
            if (std::abs(s[2 * k + c] - s[2 * k - 2 + c]) > 1500)
                ++clicks;
    EXPECT_GE(clicks, 2) << "in the lead-in";
    int zero_run = 0, longest = 0;
    for (int16_t v : s) {
        zero_run = v == 0 ? zero_run + 1 : 0;
        longest = std::max(longest, zero_run);
    }
    EXPECT_LT(longest, 20);
}

}  // namespace
