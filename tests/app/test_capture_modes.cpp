// The capture modes through the main dialog on the virtual card: the level
// of a buffer, Monitor and its meter, BiasAdjust, and Record with its file,
// status line, full disk, Exit and the overwrite question.
#include <regex>
#include <sys/stat.h>
#include "capture/capture_watch.h"
#include "capture/wav_writer.h"
#include "platform/sound/demo_record.h"
#include "platform/system/timer.h"
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"
#include "tests/support/sox_check.h"

using namespace recording;

namespace {

std::vector<uint8_t> frames_bytes(std::initializer_list<int16_t> samples)
{
    return sound_test::samples_le(std::vector<int16_t>(samples));
}

struct CaptureModes : RecordingTest {
    std::string out;
    void SetUp() override
    {
        RecordingTest::SetUp();
        out = dir.file("take.wav");
    }
    // Record on the file box's name in PCM, until `bytes` of data are in.
    void record_pcm_until(uint32_t bytes)
    {
        select_format("pcm,44100,2,16");
        type(IDC_FILE_BOX, out.c_str());
        click(CMD_RECORD);
        ASSERT_EQ(app.recording, 1);
        ASSERT_TRUE(pump_until([&] { return app.data_bytes_written >= bytes || !app.recording; }));
    }
};

} // namespace

TEST(MeasureLevels, EverySecondFrameOverHalfTheFrames)
{
    int32_t l = -1, r = -1;
    // Frames 0 and 2 are measured, 1 and 3 are not; D = 16 / 8 = 2.
    std::vector<uint8_t> b = frames_bytes({100, -300, 9999, 9999, -32768, 7, -9999, 9999});
    measure_levels(b.data(), uint32_t(b.size()), &l, &r);
    EXPECT_EQ(l, (100 + 32768) / 2);
    EXPECT_EQ(r, (300 + 7) / 2);

    // Three frames: frames 0 and 2 are summed, but D is 12 / 8 = 1.
    b = frames_bytes({10, 20, 5000, 5000, 30, 40});
    measure_levels(b.data(), uint32_t(b.size()), &l, &r);
    EXPECT_EQ(l, 40);
    EXPECT_EQ(r, 60);

    // Buffers without a whole measured frame read as silence, not a division by 0.
    for (uint32_t n = 0; n < 8; ++n) {
        std::vector<uint8_t> tiny(8, 0x7F);
        measure_levels(tiny.data(), n, &l, &r);
        EXPECT_EQ(l, 0) << n;
        EXPECT_EQ(r, 0) << n;
    }

    // A buffer far larger than any sum of 32 bits can hold still gives its mean.
    std::vector<int16_t> loud(2 * 600000, -32768);
    std::vector<uint8_t> big = sound_test::samples_le(loud);
    measure_levels(big.data(), uint32_t(big.size()), &l, &r);
    EXPECT_EQ(l, 32768);
    EXPECT_EQ(r, 32768);
}

TEST_F(CaptureModes, BiasAdjustOnAQuietInputOfSeventySetsBiasAndThresholdsTo299)
{
    play_parts({{3.0, 70, 70}});
    open_dialog();
    click(CMD_BIAS_ADJUST);
    EXPECT_EQ(app.bias_level[0], 1200);
    ASSERT_TRUE(pump_until([] { return !app.bias_adjusting && !app.monitoring && app.signal_threshold[0] != 300; }));
    settle();
    EXPECT_EQ(app.bias_level[0], 299);
    EXPECT_EQ(app.bias_level[1], 299);
    EXPECT_EQ(app.signal_threshold[0], 299);
    EXPECT_EQ(app.signal_threshold[1], 299);
    EXPECT_EQ(text(IDC_BIAS_LEFT), "L: 299");
    EXPECT_EQ(text(IDC_BIAS_RIGHT), "R: 299");
    EXPECT_EQ(text(IDC_STATUS), "Bias level left:299 right:299");
    // Its last Monitor command stopped the monitor again.
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_TRUE(box_texts().empty());

    // A loud left channel: 32 buffers of 3000 go beyond 16 bits, and the
    // bias is still their mean, (1200 + 32 x 3000 + 4096) / 32 + 64.
    play_parts({{3.0, 3000, 70}});
    click(CMD_BIAS_ADJUST);
    ASSERT_TRUE(pump_until([] { return !app.bias_adjusting && !app.monitoring && app.signal_threshold[0] != 299; }));
    settle();
    EXPECT_EQ(app.bias_level[0], 3229);
    EXPECT_EQ(app.bias_level[1], 299);
    EXPECT_EQ(text(IDC_BIAS_LEFT), "L: 3229");
}

TEST_F(CaptureModes, MonitorMovesTheMeterAndStopClearsIt)
{
    play_parts({{2.0, 1000, 3000}});
    open_dialog();
    click(CMD_MONITOR);
    EXPECT_EQ(text(CMD_MONITOR), "Stop");
    EXPECT_EQ(text(IDC_STATUS), "Monitoring VU Levels");
    EXPECT_FALSE(enabled(CMD_RECORD));
    EXPECT_EQ(app.capture_ring.buffer_count, 5);
    EXPECT_EQ(app.capture_ring.buffer_bytes, 4096u);
    ASSERT_TRUE(pump_until([] { return app.previous_level[0] == 1000; }));
    EXPECT_EQ(app.current_level[1], 3000);
    // The bars' lengths: W * level / 32767 + 3.
    const int32_t w = app.bar_full_scale;
    bool left_drawn = false, right_drawn = false;
    for (const draw_call& c : headless_draw_calls()) {
        if (c.op != DRAW_LINE || c.pen_color == button_face_color())
            continue;
        int32_t length = c.v[2] - c.v[0];
        left_drawn |= c.v[1] == app.bar_origin.y && length == w * 1000 / 32767 + 3;
        right_drawn |= c.v[1] == app.bar_origin.y + 28 && length == w * 3000 / 32767 + 3;
    }
    EXPECT_TRUE(left_drawn);
    EXPECT_TRUE(right_drawn);

    headless_clear_draw_calls();
    click(CMD_MONITOR);
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    // Both bars erased over the full scale.
    int erased = 0;
    for (const draw_call& c : headless_draw_calls())
        erased += c.op == DRAW_LINE && c.pen_color == button_face_color() && c.v[2] - c.v[0] == w;
    EXPECT_EQ(erased, 2);
    // Buffers the stopped ring gave back are dropped.
    settle();
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(CaptureModes, AMonitorThatCannotStartChangesNothing)
{
    open_dialog();
    const std::string monitor_caption = text(CMD_MONITOR);
    sound_fail_call(SOUND_IN_OPEN, MMSYSERR_ALLOCATED);
    click(CMD_MONITOR);
    ASSERT_EQ(captions(), std::vector<std::string>{"WaveIn Error"});
    EXPECT_EQ(text(CMD_MONITOR), monitor_caption);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(app.monitoring, 0);

    headless_clear_message_boxes();
    sound_fail_call(SOUND_IN_START, MMSYSERR_NOMEM);
    click(CMD_MONITOR);
    ASSERT_EQ(captions(), (std::vector<std::string>{"WaveIn Error", "Fatal Error"}));
    EXPECT_EQ(box_texts()[1].rfind("start_sampling failed: GetLastError returned ", 0), 0u);
    EXPECT_EQ(text(CMD_MONITOR), monitor_caption);
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr) << "the ring that would not start is closed again";

    // Nothing was left behind: the next Monitor runs.
    headless_clear_message_boxes();
    click(CMD_MONITOR);
    EXPECT_EQ(app.monitoring, 1);
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(CaptureModes, RecordWritesTheSourceByteForByteAndTheMeterFollowsIt)
{
    std::vector<int16_t> source = counting_samples(3.0);   // samples 0..32767, about 16384 on the mean
    play(source);
    open_dialog();
    app.current_level[0] = 1234;
    headless_clear_draw_calls();
    record_pcm_until(2 * RATE * FRAME_BYTES);
    EXPECT_EQ(text(CMD_RECORD), "Stop");
    EXPECT_FALSE(enabled(CMD_CHANGE));
    EXPECT_FALSE(enabled(CMD_SELECT));
    EXPECT_FALSE(enabled(CMD_MONITOR));
    // The meter moves while recording, and "lev" shows the level measured.
    EXPECT_GT(bar_lines(), 0);
    std::smatch lev;
    const std::string status = text(IDC_STATUS);
    ASSERT_TRUE(std::regex_search(status, lev, std::regex(" lev(\\d+) "))) << status;
    EXPECT_NEAR(std::stoi(lev[1]), 16384, 1500) << status;
    const uint32_t written = app.data_bytes_written;
    headless_clear_draw_calls();
    click(CMD_RECORD);
    EXPECT_EQ(app.recording, 0);
    int erased = 0;   // both bars, over the full scale
    for (const draw_call& c : headless_draw_calls())
        erased += c.op == DRAW_LINE && c.pen_color == button_face_color() && c.v[2] - c.v[0] == app.bar_full_scale;
    EXPECT_EQ(erased, 2);
    EXPECT_EQ(text(CMD_RECORD), "Record");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_CHANGE));
    EXPECT_TRUE(enabled(CMD_SELECT));
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);

    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, written);
    EXPECT_EQ(written % 8192, 0u) << "whole buffers";
    std::vector<uint8_t> want = sound_test::samples_le(source);
    want.resize(written);
    EXPECT_TRUE(r.data == want) << "the recording is the source from its first frame";
    std::vector<uint8_t> file = sound_test::read_file(out);
    EXPECT_EQ(file.size(), 44u + written);
    EXPECT_EQ(le32(file, 4), 36u + written);
    EXPECT_EQ(le32(file, 16), 16u);
    EXPECT_EQ(app.capture_directory, dir.path + "/");
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(CaptureModes, TheStatusLineOnceASecondWithScEndCountingUpTo43)
{
    play(counting_samples(1.0));   // silence follows
    open_dialog();
    record_pcm_until(0);
    std::vector<std::string> lines;
    std::string last = text(IDC_STATUS);
    ASSERT_TRUE(pump_until([&] {
        if (text(IDC_STATUS) != last) {
            last = text(IDC_STATUS);
            lines.push_back(last);
        }
        return lines.size() >= 46;
    }));
    click(CMD_RECORD);
    const std::regex line(R"(^ *(\d+) Kbytes, +(\d+) min, +(\d+) secs\. (\d+) MB Free lev(-?\d+) ScEnd(\d+) $)");
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, line)) << "[" << lines[i] << "]";
        EXPECT_EQ(lines[i].find(" Kbytes"), 9u) << "nine places";
        const int seconds = std::stoi(m[2]) * 60 + std::stoi(m[3]);
        const int kbytes = std::stoi(m[1]);
        // The first refresh comes with the first whole second, then one a second.
        EXPECT_EQ(seconds, int(i) + 1) << lines[i];
        // The bytes written before the buffer that crossed the second; the
        // seconds are whole seconds of the clock, so the first may come at once.
        EXPECT_LE(kbytes, seconds * 172.27 + 60) << lines[i];
        EXPECT_GE(kbytes, (seconds - 1) * 172.27 - 60) << lines[i];
        // ScEnd shows the countdown before this second's raise: 0, 1, ... 43.
        EXPECT_EQ(std::stoi(m[6]), std::min<int>(int(i), 43)) << lines[i];
    }
    EXPECT_EQ(app.silence_countdown, 43);
}

TEST_F(CaptureModes, ACompressedRecordingIsReadBySox)
{
    SKIP_WITHOUT_SOX();
    play(sine_samples(4.0, 8000, 441));
    open_dialog();
    select_format("ima-adpcm,44100,2");
    type(IDC_FILE_BOX, out.c_str());
    click(CMD_RECORD);
    ASSERT_EQ(app.recording, 1);
    ASSERT_TRUE(pump_virtual_ms(3000));
    // The frames short of a whole block at Stop go into one last block, padded.
    ASSERT_GT(app.conversion_carry_bytes, 0u);
    const uint32_t before_stop = app.data_bytes_written;
    click(CMD_RECORD);
    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.format[0] | r.format[1] << 8, 0x11);
    EXPECT_EQ(r.data_size, before_stop + 2048u);
    std::string report;
    ASSERT_EQ(run_command("sox '" + out + "' -n stat", &report), 0) << report;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(report, m, std::regex(R"(Length \(seconds\): +([0-9.]+))"))) << report;
    EXPECT_NEAR(std::stod(m[1]), 3.0, 0.25);
    ASSERT_TRUE(std::regex_search(report, m, std::regex(R"(Maximum amplitude: +([0-9.]+))")));
    EXPECT_NEAR(std::stod(m[1]), 8000.0 / 32768, 0.02);
}

TEST_F(CaptureModes, AFullDiskEndsTheRecordingWithTheSizesPatchedAndSaysSo)
{
    play(counting_samples(3.0));
    open_dialog();
    file_size_limit full(44 + 20 * 8192 + 100);
    ASSERT_TRUE(full.set);
    record_pcm_until(UINT32_MAX);
    full.lift();
    EXPECT_EQ(app.data_bytes_written, 20u * 8192 + 100) << "only what reached the file counts";
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_file_handle, nullptr);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    ASSERT_EQ(box_texts(), std::vector<std::string>{"The recording file could not be written: the disk may be full.\n"
                                                     "The recording was stopped; what was recorded is kept."});
    EXPECT_EQ(captions(), std::vector<std::string>{"Trackmill"});
    // Idle again: a press of Record starts a recording, it does not stop one.
    EXPECT_EQ(text(CMD_RECORD), "Record");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_TRUE(enabled(CMD_SELECT));
    std::vector<uint8_t> file = sound_test::read_file(out);
    EXPECT_EQ(le32(file, 40), app.data_bytes_written);
    EXPECT_EQ(file.size(), 44u + app.data_bytes_written);
    EXPECT_EQ(le32(file, 4), 36u + app.data_bytes_written);
    EXPECT_EQ(read_wave(out).failed_at, "");
}

TEST_F(CaptureModes, ARecordingAtTheLargestFileSizeEndsAndSaysWhy)
{
    play(counting_samples(2.0));
    open_dialog();
    record_pcm_until(8192);
    // As if four gigabytes had been recorded: room for two more buffers.
    app.data_bytes_written = max_capture_data_bytes(&app.capture_ring.chosen_format) - 2 * 8192 - 10;
    const uint32_t near_limit = app.data_bytes_written;
    ASSERT_TRUE(pump_until([] { return !app.recording; }));
    EXPECT_EQ(app.data_bytes_written, near_limit + 2 * 8192);
    ASSERT_EQ(box_texts(), std::vector<std::string>{"The file has reached the largest size a WAV file can hold.\n"
                                                     "The recording was stopped; what was recorded is kept."});
    EXPECT_EQ(text(CMD_RECORD), "Record");
}

TEST_F(CaptureModes, ExitDuringARecordingLeavesACompleteFile)
{
    play(counting_samples(2.0));
    open_dialog();
    record_pcm_until(RATE * FRAME_BYTES);
    const uint32_t written = app.data_bytes_written;
    click(CMD_EXIT);
    dialog = nullptr;   // ended
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, written);
}

TEST_F(CaptureModes, TheOverwriteQuestionNoKeepsTheFileYesReplacesItWhole)
{
    std::vector<uint8_t> old(300000);
    for (size_t i = 0; i < old.size(); ++i)
        old[i] = uint8_t(i * 7 + 3);
    sound_test::write_file(out, old);
    play(counting_samples(1.0));
    open_dialog();
    select_format("pcm,44100,2,16");
    type(IDC_FILE_BOX, out.c_str());

    headless_answer_box(IDNO);
    click(CMD_RECORD);
    ASSERT_EQ(box_texts(), std::vector<std::string>{"Overwrite current file ?!"});
    const message_box_record q = headless_message_boxes()[0];
    EXPECT_EQ(q.caption, "Trackmill");
    EXPECT_EQ(q.owner, nullptr);
    EXPECT_EQ(q.flags, unsigned(MB_YESNO | MB_ICONQUESTION | MB_TOPMOST));
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(text(CMD_RECORD), "Record");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);
    EXPECT_TRUE(sound_test::read_file(out) == old) << "No leaves the file as it was";

    headless_answer_box(IDYES);
    click(CMD_RECORD);
    ASSERT_EQ(app.recording, 1);
    ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= 10 * 8192; }));
    click(CMD_RECORD);
    const uint32_t written = app.data_bytes_written;
    std::vector<uint8_t> file = sound_test::read_file(out);
    ASSERT_EQ(file.size(), 44u + written) << "no old tail after the new recording";
    EXPECT_EQ(le32(file, 4), 36u + written);
    EXPECT_EQ(le32(file, 40), written);
    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, written);
}

TEST_F(CaptureModes, AFailedStartReturnsToIdleAndLeavesNothingOpen)
{
    play(counting_samples(1.0));
    open_dialog();
    select_format("pcm,44100,2,16");
    // A directory that is not there.
    type(IDC_FILE_BOX, dir.file("missing/take.wav").c_str());
    click(CMD_RECORD);
    ASSERT_EQ(captions(), std::vector<std::string>{"Fatal Error"});
    EXPECT_EQ(box_texts()[0].rfind("CreateFile failed: GetLastError returned ", 0), 0u);
    EXPECT_EQ(text(CMD_RECORD), "Record");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_CHANGE));
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);

    // The device will not start: the file begun is an empty recording.
    headless_clear_message_boxes();
    type(IDC_FILE_BOX, out.c_str());
    sound_fail_call(SOUND_IN_START, MMSYSERR_NOMEM);
    click(CMD_RECORD);
    EXPECT_EQ(captions(), (std::vector<std::string>{"WaveIn Error", "Fatal Error"}));
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);
    EXPECT_EQ(app.capture_file_handle, nullptr);
    std::vector<uint8_t> file = sound_test::read_file(out);
    EXPECT_EQ(file.size(), 44u);
    EXPECT_EQ(le32(file, 40), 0u);

    // A name longer than the capture file's name can hold is refused whole.
    headless_clear_message_boxes();
    const std::string before = app.capture_file_name;
    type(IDC_FILE_BOX, (dir.path + "/" + std::string(300, 'n') + ".wav").c_str());
    click(CMD_RECORD);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Filename too long"});
    EXPECT_EQ(app.capture_file_name, before);
    EXPECT_EQ(text(CMD_RECORD), "Record");
    EXPECT_TRUE(enabled(CMD_MONITOR));

    // A buffer too small for one frame would never deliver a sample.
    headless_clear_message_boxes();
    type(IDC_FILE_BOX, out.c_str());
    type(IDC_BUFFER_SIZE, "3");
    click(CMD_RECORD);
    EXPECT_EQ(captions(), std::vector<std::string>{"WaveIn Error"});
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);

    // No buffers at all, likewise.
    headless_clear_message_boxes();
    type(IDC_BUFFER_SIZE, "8192");
    type(IDC_BUFFER_COUNT, "0");
    click(CMD_RECORD);
    EXPECT_EQ(captions(), std::vector<std::string>{"WaveIn Error"});
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(text(CMD_RECORD), "Record");
}

TEST_F(CaptureModes, ABufferOfPartFramesRecordsOnlyWhatTheDeviceFilled)
{
    std::vector<int16_t> source = counting_samples(1.0);
    play(source);
    open_dialog();
    type(IDC_BUFFER_SIZE, "1001");   // 250 frames and a byte the device never fills
    record_pcm_until(100 * 1000);
    click(CMD_RECORD);
    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    ASSERT_GE(r.data.size(), 100000u);
    std::vector<uint8_t> want = sound_test::samples_le(source);
    want.resize(r.data.size());
    EXPECT_TRUE(r.data == want) << "no stray byte between frames";
}

TEST_F(CaptureModes, BiasAdjustDuringARecordingWaitsForTheNextMonitor)
{
    play_parts({{0.3, 500, 500}, {30.0, 70, 70}});
    open_dialog();
    record_pcm_until(8192);
    click(CMD_BIAS_ADJUST);
    ASSERT_TRUE(pump_virtual_ms(300));
    EXPECT_EQ(app.monitoring, 0) << "Monitor does not start during a recording";
    EXPECT_EQ(text(CMD_MONITOR), "&Monitor");
    EXPECT_EQ(text(IDC_BIAS_LEFT), "L:  300");
    EXPECT_EQ(app.signal_threshold[0], 300);
    EXPECT_EQ(app.bias_adjusting, 1);
    ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= RATE * FRAME_BYTES; }));
    click(CMD_RECORD);
    click(CMD_MONITOR);
    ASSERT_TRUE(pump_until([] { return !app.bias_adjusting && !app.monitoring; }));
    settle();
    EXPECT_EQ(text(IDC_BIAS_LEFT), "L: 299");
    EXPECT_EQ(app.signal_threshold[1], 299);
}

TEST_F(CaptureModes, ALateBufferOfAStoppedMonitorIsNotQueuedTwice)
{
    play_parts({{2.0, 100, 100}});
    open_dialog();
    click(CMD_MONITOR);
    ASSERT_TRUE(pump_until([] { return app.current_level[0] == 100; }));
    // Stop and start again before the stopped ring's buffers are handled:
    // their messages now name headers that the new ring has queued.
    click(CMD_MONITOR);
    click(CMD_MONITOR);
    ASSERT_EQ(app.monitoring, 1);
    ASSERT_TRUE(pump_virtual_ms(500));
    EXPECT_TRUE(box_texts().empty());
    EXPECT_EQ(app.monitoring, 1);
}

// A recording that ends because a buffer did not go whole into its file ends
// with the last buffer that did: what the codec still holds belongs after
// the buffer that was lost, so it is not put behind the one before it.
TEST_F(CaptureModes, TheCodecsLastBlockIsNotAddedBehindARefusedBuffer)
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

// Exit during a recording whose device will not stop: the run ends all the
// same, and the audio already in the file keeps its place under true sizes.
TEST_F(CaptureModes, ADeviceThatWillNotStopStillLeavesACompleteFile)
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

TEST_F(CaptureModes, ADeviceThatStopsDeliveringEndsTheRecordingAsAFullDiskDoes)
{
    play(counting_samples(3.0));
    open_dialog();
    timer_use_manual(true);   // the watch looks when the test says
    record_pcm_until(4 * 8192);
    sound_virtual_stall_input(true);
    settle();
    const uint32_t limit = capture_stall_limit_ms(true);
    EXPECT_EQ(limit, 1000u) << "twice a buffer of 46 ms is less than a late buffer may take";
    clock_advance(limit / 2);
    timer_tick_all();
    settle();
    EXPECT_EQ(app.recording, 1) << "a late buffer is not a dead device";
    clock_advance(limit / 2);
    timer_tick_all();
    settle();
    timer_use_manual(false);
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    ASSERT_EQ(box_texts().size(), 1u);
    EXPECT_EQ(box_texts()[0].find("The sound device stopped delivering sound"), 0u) << box_texts()[0];
    EXPECT_EQ(text(CMD_RECORD), "Record");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    std::vector<uint8_t> file = sound_test::read_file(out);
    EXPECT_EQ(file.size(), 44u + app.data_bytes_written);
    EXPECT_EQ(le32(file, 40), app.data_bytes_written);
    // A device that never delivers is given the start allowance first.
    headless_clear_message_boxes();
    timer_use_manual(true);
    headless_answer_box(IDYES);
    click(CMD_RECORD);
    ASSERT_EQ(app.recording, 1);
    for (uint32_t ms : {2999u, 1u}) {
        EXPECT_EQ(app.recording, 1) << "not after " << ms;
        clock_advance(ms);
        timer_tick_all();
        settle();
    }
    timer_use_manual(false);
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(box_texts().back().find("The sound device stopped delivering sound"), 0u);   // after the overwrite question
    // A buffer of a second: the limit is twice its time.
    app.capture_ring.buffer_bytes = 176400;
    app.capture_ring.device = reinterpret_cast<wave_in>(1);
    EXPECT_EQ(capture_stall_limit_ms(true), 2000u);
    app.capture_ring.device = nullptr;
}

TEST_F(CaptureModes, TheDemoRecordPlaysAgainSoARecordingLongerThanItsSideHoldsMusic)
{
    open_dialog();   // on the demo record
    type(IDC_BUFFER_SIZE, "65536");
    const uint32_t side = demo_total_frames() * FRAME_BYTES;
    const uint32_t at = (demo_song_at(0).first_frame + RATE) * FRAME_BYTES, length = RATE / 2 * FRAME_BYTES;
    record_pcm_until(side + at + length);
    click(CMD_RECORD);
    read_result r = read_wave(out);
    ASSERT_GE(r.data.size(), size_t(side) + at + length);
    EXPECT_TRUE(std::equal(r.data.begin() + at, r.data.begin() + at + length, r.data.begin() + side + at))
        << "a second into the first song, once more";
}
