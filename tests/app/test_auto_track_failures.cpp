// Auto-track when the device will not stop at the end of a take: the take
// is finished once, under one name, and auto-track arms again.
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"
#include <unistd.h>

using namespace recording;

namespace {

struct AutoTrackFailure : RecordingTest {
    std::string track(int n) { return dir.path + "/track" + std::to_string(n) + ".wav"; }
};

} // namespace

TEST_F(AutoTrackFailure, ATakeWhoseDeviceWillNotStopAtOnceEndsOnceAndArmsAgain)
{
    play_parts({{0.5, 0, 0}, {2.0, 5000, 5000}, {60.0, 0, 0}});
    open_dialog();
    select_format("pcm,44100,2,16");
    headless_answer_save((dir.path + "/track.wav").c_str());
    click(CMD_CHANGE);
    type(IDC_INTRO_MAX, "0");
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([] { return app.recording && app.track_phase == 1; }));
    sound_fail_call(SOUND_IN_STOP, MMSYSERR_ERROR);
    ASSERT_TRUE(pump_until([] { return !headless_message_boxes().empty(); }));
    // The take is over once the device has stopped, and auto-track waits
    // for the next one.
    ASSERT_TRUE(pump_until([] { return !app.recording && app.signal_waiting; }, 5000))
        << "recording " << app.recording << " waiting " << app.signal_waiting;
    settle();
    EXPECT_EQ(app.track_name, track(1)) << "the counter moves on once";
    EXPECT_EQ(text(IDC_FILE_BOX), track(1));
    EXPECT_EQ(text(IDC_STATUS), "SignalWait VU Levels");
    read_result r = read_wave(track(0));
    EXPECT_EQ(r.failed_at, "");
    EXPECT_GT(r.data_size, 0u);
    EXPECT_NE(access(track(1).c_str(), F_OK), 0) << "no take has begun under the next name";
    EXPECT_EQ(captions(), (std::vector<std::string>{"WaveIn Error", "Fatal Error"}));
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
}

TEST_F(AutoTrackFailure, SignalRecordDuringATakeWhoseDeviceWillNotStopLeavesTheTakeRunning)
{
    play_parts({{0.5, 0, 0}, {30.0, 5000, 5000}});
    open_dialog();
    select_format("pcm,44100,2,16");
    headless_answer_save((dir.path + "/track.wav").c_str());
    click(CMD_CHANGE);
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([] { return app.recording && app.data_bytes_written >= 10 * 8192; }));
    sound_fail_call(SOUND_IN_STOP, MMSYSERR_ERROR);
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(app.recording, 1) << "the device still runs";
    EXPECT_EQ(app.track_name, track(0));
    EXPECT_NE(text(IDC_STATUS), "Idle");
    EXPECT_FALSE(enabled(CMD_RECORD));
    const uint32_t before = app.data_bytes_written;
    ASSERT_TRUE(pump_until([&] { return app.data_bytes_written > before; })) << "the take goes on";

    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.track_name, track(1));
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(read_wave(track(0)).data_size, app.data_bytes_written);
}
