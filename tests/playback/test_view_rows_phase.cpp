// The view of a preview whose sample data does not start on the frame grid
// of the 8,192-byte blocks (a stereo file with an 18-byte format chunk: the
// data at byte 46, so every block after the first begins with the second
// half of a frame): the rows still come from the left channel.
#include "tests/playback/playback_fixture.h"
#include "ui/displays.h"

using namespace playback_test;

TEST_F(PlaybackTest, RowsOfABlockThatBeginsInsideAFrameComeFromTheLeftSamples)
{
    std::vector<int16_t> rows(2 * (4 + 4) * 409, 0);
    app.play_buffer_blocks = 4;
    app.rows_per_block = 409;
    app.view_rows = rows.data();
    app.view_rows_count = int32_t(rows.size());
    app.playback_record = PlaybackRecord{};
    app.playback_record.bits_per_sample = 16;
    app.playback_record.channels = 2;
    app.playback_record.input_buffer_bytes = 8192;

    // The second block of the file: 8,146 bytes of data lie before it, so
    // it opens with the right sample of a frame cut by the block's start.
    bytes block;
    put16(block, uint16_t(int16_t(-20000)));
    while (block.size() + 4 <= 8192) {
        put16(block, uint16_t(int16_t(12000)));    // left
        put16(block, uint16_t(int16_t(-20000)));   // right
    }
    riff_info in{};
    in.buffer = block.data();
    in.next = block.data();
    in.end_read = block.data() + block.size();
    in.buffer_size = 8192;
    in.buffer_disk_offset = 8192;
    app.track_in_chunk.data_offset = 46;
    app.track_in_chunk.size = 100000;

    const int32_t written = compute_view_rows(&in, rows.data());
    const int16_t left[4] = {12000, 12000, 12000, 12000};
    const int16_t left_row = int16_t(level_to_view_row(left, 4));
    ASSERT_GT(written, 400);
    for (int32_t i = 0; i < written; ++i)
        ASSERT_EQ(rows[size_t(i)], left_row) << "row " << i;
    EXPECT_EQ(in.next, block.data()) << "the fill, not the rows, consumes the buffer";

    app.view_rows = nullptr;
    app.view_rows_count = 0;
}
