// A format chosen with Select... while an auto-track take is being written
// is for the takes after it: the running take's file keeps the format it was
// begun in, and its sizes are patched where its own header holds them.
#include <sys/stat.h>
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"

using namespace recording;

namespace {

struct FormatDuringTake : RecordingTest {
    std::string track(int n) { return dir.path + "/track" + std::to_string(n) + ".wav"; }

    // A take begun in `first`, Select... answering `second` while it runs,
    // the take left to end after its silence; then the next take in `second`.
    void take_with_format_change(const char* first, const char* second)
    {
        play_parts({{0.5, 0, 0}, {3.0, 5000, 5000}, {8.0, 0, 0}, {3.0, 5000, 5000}, {8.0, 0, 0}});
        open_dialog();
        select_format(first);
        headless_answer_save((dir.path + "/track.wav").c_str());
        click(CMD_CHANGE);
        type(IDC_INTRO_MAX, "0");
        click(CMD_SIGNAL_RECORD);
        ASSERT_TRUE(pump_until([] { return app.recording && app.data_bytes_written >= 8 * 2048; }));
        select_format(second);
        ASSERT_TRUE(pump_until([] { return !app.recording && app.signal_waiting; }));
        ASSERT_TRUE(pump_until([] { return app.recording; }));
        ASSERT_TRUE(pump_until([] { return !app.recording && app.signal_waiting; }));
        click(CMD_SIGNAL_RECORD);
        settle();
        EXPECT_TRUE(box_texts().empty());
    }
    // The file reads whole through the RIFF layer, in the format tag given,
    // with sizes that cover exactly the bytes behind its header.
    void expect_whole_file(const std::string& name, uint16_t tag, uint32_t header_bytes)
    {
        read_result r = read_wave(name);
        ASSERT_EQ(r.failed_at, "") << name;
        EXPECT_EQ(r.format[0] | r.format[1] << 8, tag) << name;
        struct stat st;
        ASSERT_EQ(stat(name.c_str(), &st), 0);
        EXPECT_EQ(r.data_size, uint32_t(st.st_size) - header_bytes) << name;
        EXPECT_EQ(r.data.size(), r.data_size) << name;
        bytes head = sound_test::read_file(name);
        ASSERT_GE(head.size(), header_bytes);
        EXPECT_EQ(le32(head, 4), uint32_t(st.st_size) - 8) << name;
    }
};

} // namespace

TEST_F(FormatDuringTake, APcmTakeKeepsItsHeaderWhenAdpcmIsChosen)
{
    take_with_format_change("pcm,44100,2,16", "ima-adpcm,44100,2");
    expect_whole_file(track(0), 0x0001, 44);
    expect_whole_file(track(1), 0x0011, 60);   // with its fact chunk
}

TEST_F(FormatDuringTake, AnAdpcmTakeKeepsItsDataChunkWhenPcmIsChosen)
{
    take_with_format_change("ima-adpcm,44100,2", "pcm,44100,2,16");
    expect_whole_file(track(0), 0x0011, 60);   // with its fact chunk
    expect_whole_file(track(1), 0x0001, 44);
}
