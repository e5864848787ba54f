// The clock that everything counted in seconds reads, as the virtual
// card's pace changes: fast mode drives it by the audio delivered, and a
// later choice of real time (the last of --fast and --speed=N wins) gives
// back a clock that moves, at the speed chosen.
#include <gtest/gtest.h>
#include <chrono>
#include <thread>
#include "platform/sound/sound.h"
#include "platform/system/system.h"

TEST(PaceClock, RealTimeAfterFastModeGivesBackAClockThatMovesAtTheSpeedChosen)
{
    ASSERT_EQ(sound_use_virtual("demo"), 0);
    ASSERT_EQ(sound_parse_option("--fast"), 1);
    EXPECT_TRUE(clock_is_virtual());
    ASSERT_EQ(sound_parse_option("--speed=4"), 1);
    EXPECT_FALSE(sound_pace_is_fast());
    EXPECT_FALSE(clock_is_virtual()) << "no device moves a virtual clock in real time";
    const uint32_t before = get_tick_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint32_t moved = get_tick_count() - before;
    EXPECT_GE(moved, 4u * 90u);
    EXPECT_LT(moved, 4u * 2000u);

    // Back to fast mode: the virtual clock again, as the tests and the batch tool use it.
    sound_pace_fast();
    EXPECT_TRUE(clock_is_virtual());
    sound_pace_real_time(1.0);
    sound_pace_fast();
}
