// A preview that ends, or is stopped, while a capture mode runs: the Record
// button comes back only where Record may be pressed, so the one input ring
// is never opened a second time over Monitor or the signal sampling.
#include "tests/playback/playback_fixture.h"

using namespace playback_test;

namespace {

constexpr size_t BLOCK_FRAMES = 2048;
constexpr size_t FIRST_BLOCK_FRAMES = 2037;

} // namespace

TEST_F(PlaybackTest, APreviewEndingWhileMonitorOrSignalRecordRunsLeavesRecordDisabled)
{
    app.play_buffer_blocks = 4;
    clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 6, 2), 2);

    // Monitor started while the preview plays.
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    click(CMD_MONITOR);
    ASSERT_TRUE(app.monitoring);
    wave_out_restart(app.play_device);
    ASSERT_TRUE(pump_until([] { return !app.playback_running; }));
    EXPECT_TRUE(enabled(CMD_PLAY));
    EXPECT_FALSE(enabled(CMD_RECORD)) << "Monitor still runs";
    EXPECT_EQ(text(CMD_MONITOR), "Stop");
    click(CMD_MONITOR);
    EXPECT_FALSE(app.monitoring);
    EXPECT_TRUE(enabled(CMD_RECORD));

    // SignalRecord armed while the preview plays, and the preview stopped by
    // Close track.
    headless_answer_chooser("pcm,44100,2,16");
    click(CMD_SELECT);
    ASSERT_EQ(app.format_chosen, 1);
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(app.signal_waiting);
    click(CMD_DECLICKER);   // Close track
    EXPECT_FALSE(app.playback_running);
    EXPECT_FALSE(enabled(CMD_RECORD)) << "SignalRecord is armed";
    EXPECT_FALSE(enabled(CMD_MONITOR));
    click(CMD_SIGNAL_RECORD);
    EXPECT_FALSE(app.signal_waiting);
    EXPECT_TRUE(enabled(CMD_RECORD));
}

TEST_F(PlaybackTest, ARecordPressReachingTheDialogDuringMonitorOrSignalWaitOpensNoSecondRing)
{
    headless_answer_chooser("pcm,44100,2,16");
    click(CMD_SELECT);
    ASSERT_EQ(app.format_chosen, 1);
    click(CMD_MONITOR);
    ASSERT_TRUE(app.monitoring);
    const wave_in ring = app.capture_ring.device;
    send_message(dialog, WM_COMMAND, make_wparam(CMD_RECORD, 0), 0);
    EXPECT_FALSE(app.recording);
    EXPECT_EQ(app.capture_ring.device, ring);
    EXPECT_EQ(text(CMD_MONITOR), "Stop");
    EXPECT_NE(text(CMD_RECORD), "Stop");
    EXPECT_EQ(text(IDC_STATUS), "Monitoring VU Levels");
    EXPECT_FALSE(enabled(CMD_RECORD));
    click(CMD_MONITOR);

    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(app.signal_waiting);
    const wave_in sampling = app.capture_ring.device;
    send_message(dialog, WM_COMMAND, make_wparam(CMD_RECORD, 0), 0);
    EXPECT_FALSE(app.recording);
    EXPECT_TRUE(app.signal_waiting);
    EXPECT_EQ(app.capture_ring.device, sampling);
    click(CMD_SIGNAL_RECORD);
}

TEST_F(PlaybackTest, APauseThatMeetsTheEndOfThePreviewLeavesThePauseButtonReadingPause)
{
    const bytes cleaned = clean(tone(BLOCK_FRAMES * 3, 2), 2);   // one playback buffer
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    // The last buffer is heard and its event is on its way when Pause is pressed.
    wave_out_restart(app.play_device);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (played().size() < cleaned.size() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(played().size(), cleaned.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    click(CMD_PAUSE);
    ASSERT_TRUE(pump_until([] { return !app.playback_running; }));
    EXPECT_FALSE(app.playback_paused);
    EXPECT_EQ(text(CMD_PAUSE), "Pause");

    // The next Play is heard, and its Pause button pauses.
    clear_played();
    click(CMD_PLAY);
    EXPECT_EQ(text(CMD_PAUSE), "Pause");
    ASSERT_TRUE(pump_until([] { return !app.playback_running; }));
    EXPECT_EQ(played(), cleaned);
}
