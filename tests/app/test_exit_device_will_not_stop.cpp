// Exit during a recording whose device will not stop: the run ends all the
// same, and the audio already in the file keeps its place under true sizes.
#include <sys/stat.h>
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"

using namespace recording;

namespace {
struct ExitDuringRecording : RecordingTest {};
} // namespace

TEST_F(ExitDuringRecording, ADeviceThatWillNotStopStillLeavesACompleteFile)
{
    play(counting_samples(2.0));
    open_dialog();
    const std::string out = dir.file("take.wav");
    select_format("pcm,44100,2,16");
    type(IDC_FILE_BOX, out.c_str());
    click(CMD_RECORD);
    ASSERT_EQ(app.recording, 1);
    ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= 20 * 8192; }));
    const uint32_t written = app.data_bytes_written;
    sound_fail_call(SOUND_IN_STOP, MMSYSERR_ERROR);
    click(CMD_EXIT);
    dialog = nullptr;   // ended
    EXPECT_EQ(captions(), (std::vector<std::string>{"WaveIn Error", "Fatal Error"}));
    EXPECT_EQ(app.capture_file_handle, nullptr);
    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, written);
    EXPECT_EQ(r.data.size(), written);
    bytes head = sound_test::read_file(out);
    EXPECT_EQ(le32(head, 4), uint32_t(head.size()) - 8);
}
