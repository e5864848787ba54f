// A recording that ends because a buffer did not go whole into its file ends
// with the last buffer that did: what the codec still holds belongs after
// the buffer that was lost, so it is not put behind the one before it.
#include "capture/wav_writer.h"
#include "tests/support/recording_session.h"

using namespace recording;

namespace {
struct EndAfterShortAppend : RecordingTest {};
} // namespace

TEST_F(EndAfterShortAppend, TheCodecsLastBlockIsNotAddedBehindARefusedBuffer)
{
    play(sine_samples(20.0, 8000, 441));
    open_dialog();
    select_format("ima-adpcm,44100,2");
    type(IDC_FILE_BOX, dir.file("take.wav").c_str());
    // Buffers of 12000 bytes make one or two blocks of 8164 source bytes, by
    // what the one before left over.
    type(IDC_BUFFER_SIZE, "12000");
    click(CMD_RECORD);
    ASSERT_EQ(app.recording, 1);
    const uint32_t source_block = app.conversion_source_block;
    ASSERT_EQ(source_block, 8164u);
    // Left over enough that the next buffer makes two blocks (4096 bytes).
    ASSERT_TRUE(pump_until([&] {
        return app.data_bytes_written >= 8 * 2048 && app.conversion_carry_bytes + 12000 >= 2 * source_block;
    }));
    // As if four gigabytes had been recorded: room for less than two blocks
    // but more than one.
    app.data_bytes_written = max_capture_data_bytes(&app.capture_file_format) - 3000;
    const uint32_t near_limit = app.data_bytes_written;
    ASSERT_TRUE(pump_until([] { return !app.recording; }));
    EXPECT_EQ(app.data_bytes_written, near_limit) << "nothing follows the refused buffer";
    EXPECT_EQ(box_texts(), std::vector<std::string>{"The file has reached the largest size a WAV file can hold.\n"
                                                    "The recording was stopped; what was recorded is kept."});
}
