// The view of the preview: rows made from a block's left samples, the copy
// into the point table with its checks, and the timer routine choosing the
// rows of the part being heard from the device's position.
#include "tests/playback/playback_fixture.h"
#include "ui/displays.h"

using namespace playback_test;

namespace {

class ViewRowsTest : public PlaybackTest {
protected:
    std::vector<int16_t> rows_memory;
    std::vector<point> points_memory;

    // A view of n blocks per buffer and q rows per block, without a Play.
    void make_view(int16_t n, int32_t q)
    {
        app.play_buffer_blocks = n;
        app.rows_per_block = q;
        rows_memory.assign(size_t(2 * (n + 4) * q), 0);
        app.view_rows = rows_memory.data();
        app.view_rows_count = int32_t(rows_memory.size());
        points_memory.assign(64, point{0, 0});
        for (size_t i = 0; i < points_memory.size(); ++i)
            points_memory[i].x = app.wave_view_rect.left + int32_t(i);
        app.view_points = points_memory.data();
        app.view_points_count = int32_t(points_memory.size());
        app.view_cursor = 0;
    }
    void TearDown() override
    {
        // The memory belongs to the test, not to the release.
        app.view_rows = nullptr;
        app.view_rows_count = 0;
        app.view_points = nullptr;
        app.view_points_count = 0;
        PlaybackTest::TearDown();
    }
    int16_t* half(int h) { return app.view_rows + h * app.play_buffer_blocks * app.rows_per_block; }
    std::vector<draw_call> polylines()
    {
        std::vector<draw_call> found;
        for (const draw_call& c : headless_draw_calls())
            if (c.op == DRAW_POLYLINE)
                found.push_back(c);
        return found;
    }
};

// The read buffer state over `data`, as the fill hands it on.
riff_info buffer_over(bytes& data)
{
    riff_info in{};
    in.buffer = data.data();
    in.next = data.data();
    in.end_read = data.data() + data.size();
    in.buffer_size = int32_t(data.size());
    app.track_in_chunk.data_offset = 0;
    app.track_in_chunk.size = uint32_t(data.size());
    return in;
}

bytes sample_bytes(const std::vector<int16_t>& s)
{
    bytes b;
    for (int16_t v : s)
        put16(b, uint16_t(v));
    return b;
}

} // namespace

TEST_F(ViewRowsTest, EachFiveFramesGiveOneRowFromTheMeanOfTheirLastFourLeftSamples)
{
    make_view(4, 409);
    app.playback_record = PlaybackRecord{};
    app.playback_record.bits_per_sample = 16;
    app.playback_record.channels = 2;
    app.playback_record.input_buffer_bytes = 8192;
    // 12 stereo frames: two whole groups of five, then two frames that give no row.
    std::vector<int16_t> s;
    const int16_t left[12] = {-32000, 100, 200, 300, 400, 32000, -1000, -2000, -3000, -4000, 7, 7};
    for (int16_t l : left) {
        s.push_back(l);
        s.push_back(int16_t(-l));   // the right channel is never looked at
    }
    bytes data = sample_bytes(s);
    riff_info in = buffer_over(data);
    app.view_cursor = 17;
    int16_t* rows = half(0);
    rows[2] = 555;

    EXPECT_EQ(compute_view_rows(&in, rows), 2);
    const int16_t first[4] = {400, 300, 200, 100};
    const int16_t second[4] = {-4000, -3000, -2000, -1000};
    EXPECT_EQ(rows[0], int16_t(level_to_view_row(first, 4)));
    EXPECT_EQ(rows[1], int16_t(level_to_view_row(second, 4)));
    EXPECT_EQ(rows[2], 555) << "an unfinished group writes nothing";
    EXPECT_EQ(app.view_cursor, 0);
    EXPECT_EQ(in.next, data.data()) << "the fill, not the rows, consumes the buffer";

    // Mono: every sample is a left sample.
    app.playback_record.channels = 1;
    std::vector<int16_t> mono(left, left + 10);
    bytes mono_data = sample_bytes(mono);
    riff_info mono_in = buffer_over(mono_data);
    EXPECT_EQ(compute_view_rows(&mono_in, rows), 2);
    EXPECT_EQ(rows[0], int16_t(level_to_view_row(first, 4)));
}

TEST_F(ViewRowsTest, ABlockGivesAtMostItsFramesWorthOfRowsAndNoneOutsideTheRowMemory)
{
    make_view(2, 409);
    app.playback_record = PlaybackRecord{};
    app.playback_record.bits_per_sample = 16;
    app.playback_record.channels = 2;
    app.playback_record.input_buffer_bytes = 8192;
    // More than one block of data in the buffer: only 2,048 frames count.
    bytes data = sample_bytes(tone(3000, 2));
    riff_info in = buffer_over(data);
    EXPECT_EQ(compute_view_rows(&in, half(0)), 409);
    // The last block's worth of rows would run past the memory.
    EXPECT_EQ(compute_view_rows(&in, app.view_rows + app.view_rows_count - 100), 0);
}

TEST_F(ViewRowsTest, TheCopyStopsAtARowOutsideTheViewOrAtTheEndOfTheRows)
{
    make_view(2, 4);
    const int16_t top = int16_t(app.wave_view_rect.top);
    const int16_t bottom = int16_t(app.wave_view_rect.bottom);
    int16_t* rows = half(0);
    rows[0] = top;
    rows[1] = bottom;
    rows[2] = int16_t(top + 5);
    rows[3] = int16_t(top + 6);
    EXPECT_EQ(copy_view_rows(app.view_points, rows, 4), 0);
    EXPECT_EQ(app.view_points[0].y, top);
    EXPECT_EQ(app.view_points[1].y, bottom);
    EXPECT_EQ(app.view_points[3].y, top + 6);

    rows[2] = int16_t(top - 1);
    EXPECT_EQ(copy_view_rows(app.view_points, rows, 4), -1);
    rows[2] = int16_t(bottom + 1);
    EXPECT_EQ(copy_view_rows(app.view_points, rows, 4), -1);

    std::fill(rows_memory.begin(), rows_memory.end(), int16_t(top + 1));
    EXPECT_EQ(copy_view_rows(app.view_points, app.view_rows + app.view_rows_count - 2, 4), -2);
    EXPECT_EQ(copy_view_rows(app.view_points + app.view_points_count - 2, rows, 4), -2);
}

TEST_F(ViewRowsTest, TheTimerDrawsTheRowsOfTheBlockHeardAndAtTheBufferEndTheNextHalfOrTheFlatTail)
{
    // Blocks of 4 frames (16 bytes), 2 blocks a buffer, 3 rows a block.
    make_view(2, 3);
    app.playback_record = PlaybackRecord{};
    app.playback_record.input_buffer_bytes = 16;
    app.playback_record.play_format.fmt = wave_format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(wave_out_open(&app.play_device, WAVE_MAPPER, &app.playback_record.play_format.fmt, nullptr, 0, CALLBACK_NULL),
              MMSYSERR_NOERROR);
    const uintptr_t record = reinterpret_cast<uintptr_t>(&app.playback_record);
    const int32_t top = app.wave_view_rect.top;
    for (int i = 0; i < 3; ++i) {
        half(0)[i] = int16_t(top + 10 + i);       // block 0 of half 0
        half(0)[3 + i] = int16_t(top + 20 + i);   // block 1 of half 0
        half(1)[i] = int16_t(top + 30 + i);       // block 0 of half 1
        half(2)[i] = int16_t(top);                // the flat tail
    }
    app.playing_frame = 1;

    // Nothing heard yet: nothing drawn.
    show_play_position(0, 0, record, 0, 0);
    EXPECT_TRUE(polylines().empty());

    // Play 5 frames: block 1 is being heard.
    bytes sound(5 * 4, 0);
    wave_header h{};
    h.data = sound.data();
    h.buffer_length = uint32_t(sound.size());
    wave_out_prepare_header(app.play_device, &h, sizeof h);
    wave_out_write(app.play_device, &h, sizeof h);
    ASSERT_TRUE(pump_until([&] {
        mm_time t = {TIME_SAMPLES, 0};
        return wave_out_get_position(app.play_device, &t, sizeof t) == 0 && t.value == 5;
    }));
    show_play_position(0, 0, record, 0, 0);
    ASSERT_EQ(polylines().size(), 1u);
    EXPECT_EQ(polylines()[0].points[0].y, top + 20);
    EXPECT_EQ(polylines()[0].points[2].y, top + 22);
    EXPECT_EQ(polylines()[0].pen_color, rgb(0, 0, 255));
    EXPECT_EQ(app.play_position.value, 5u);
    EXPECT_EQ(app.play_position.type, uint32_t(TIME_SAMPLES));

    // 8 frames: b equals the blocks of a buffer. An odd buffer number reads
    // half 0 from there, which is the start of half 1...
    wave_header h2{};
    h2.data = sound.data();
    h2.buffer_length = 3 * 4;
    wave_out_prepare_header(app.play_device, &h2, sizeof h2);
    wave_out_write(app.play_device, &h2, sizeof h2);
    ASSERT_TRUE(pump_until([&] {
        mm_time t = {TIME_SAMPLES, 0};
        return wave_out_get_position(app.play_device, &t, sizeof t) == 0 && t.value == 8;
    }));
    headless_clear_draw_calls();
    show_play_position(0, 0, record, 0, 0);
    ASSERT_EQ(polylines().size(), 1u);
    EXPECT_EQ(polylines()[0].points[0].y, top + 30);
    // ...and an even one reads half 1 from there: the flat tail.
    app.playing_frame = 2;
    show_play_position(0, 0, record, 0, 0);
    ASSERT_EQ(polylines().size(), 2u);
    EXPECT_EQ(polylines()[1].points[1].y, top);

    // A row above the view's top: nothing is drawn this time.
    half(2)[1] = int16_t(top - 1);
    show_play_position(0, 0, record, 0, 0);
    EXPECT_EQ(polylines().size(), 2u);
    wave_out_reset(app.play_device);
}

TEST_F(ViewRowsTest, ALoudNegativeBlockKeepsToTheViewsTopRowAndIsDrawn)
{
    make_view(4, 409);
    app.playback_record = PlaybackRecord{};
    app.playback_record.bits_per_sample = 16;
    app.playback_record.channels = 1;
    app.playback_record.input_buffer_bytes = 8192;
    bytes data = sample_bytes(std::vector<int16_t>(4096, -32767));
    riff_info in = buffer_over(data);
    app.rows_per_block = 819;
    rows_memory.assign(size_t(2 * 8 * 819), 0);
    app.view_rows = rows_memory.data();
    app.view_rows_count = int32_t(rows_memory.size());
    ASSERT_EQ(compute_view_rows(&in, app.view_rows), 819);
    EXPECT_EQ(app.view_rows[0], app.wave_view_rect.top);
    EXPECT_EQ(copy_view_rows(app.view_points, app.view_rows, 4), 0);
}

// The view of a preview whose sample data does not start on the frame grid
// of the 8,192-byte blocks (a stereo file with an 18-byte format chunk: the
// data at byte 46, so every block after the first begins with the second
// half of a frame): the rows still come from the left channel.
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
