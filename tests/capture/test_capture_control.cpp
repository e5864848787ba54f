// Capture start and stop on the virtual card: the ring's parameters in each
// use, the refusals, what every failing start gives back, the end of a
// recording when the stream or the device fails, and the device callbacks.
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"

using namespace recording;

namespace {

struct CaptureControl : RecordingTest {
    std::string out;
    void SetUp() override
    {
        RecordingTest::SetUp();
        out = dir.file("capture.wav");
        open_dialog();
    }
    void choose_pcm()
    {
        select_format("pcm,44100,2,16");
    }
};

// Messages posted to a dialog that only collects them.
std::vector<std::pair<unsigned, std::pair<wparam, lparam>>> collected;
msg_result collecting_proc(window, unsigned message, wparam wp, lparam lp)
{
    if (message != WM_INITDIALOG)
        collected.push_back({message, {wp, lp}});
    return 0;
}

} // namespace

TEST_F(CaptureControl, MonitorRunsFiveBuffersOf4096AndRefusesDuringARecording)
{
    ASSERT_EQ(start_monitor(), 0);
    const CaptureBufferRing& ring = app.capture_ring;
    EXPECT_EQ(app.monitoring, 1);
    EXPECT_EQ(ring.buffer_count, 5);
    EXPECT_EQ(ring.buffer_bytes, 4096u);
    EXPECT_EQ(uint32_t(ring.capture_format.fmt.samples_per_sec), 44100u);
    EXPECT_EQ(ring.capture_format.fmt.channels, 2);
    EXPECT_EQ(ring.capture_format.fmt.bits_per_sample, 16);
    ASSERT_EQ(stop_monitor(), 0);
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(ring.device, nullptr);

    // stop_monitor acts only while monitoring is set.
    headless_clear_draw_calls();
    EXPECT_EQ(stop_monitor(), 0);
    EXPECT_TRUE(headless_draw_calls().empty());

    app.recording = 1;
    EXPECT_EQ(start_monitor(), -1);
    EXPECT_EQ(ring.device, nullptr);
    EXPECT_EQ(app.monitoring, 0);
    app.recording = 0;
    EXPECT_TRUE(box_texts().empty());

    // A ring of no buffers would never deliver one.
    app.num_buffers = 0;
    EXPECT_EQ(start_monitor(), -1);
    EXPECT_EQ(captions(), std::vector<std::string>{"WaveIn Error"});
    EXPECT_EQ(ring.device, nullptr);
    EXPECT_EQ(app.monitoring, 0);
}

TEST_F(CaptureControl, SignalSamplingAsksForAFormatOnceAndRunsSixTimesTheBuffers)
{
    // Cancelled chooser: no message, and the next start asks again.
    EXPECT_EQ(start_signal_sampling(dialog), -1);
    EXPECT_EQ(start_signal_sampling(dialog), -1);
    EXPECT_EQ(headless_choosers_shown(), 2);
    EXPECT_EQ(app.format_chosen, 0);
    EXPECT_TRUE(box_texts().empty());

    headless_answer_chooser("pcm,22050,1,16");
    app.signal_buffer_count = 77;
    ASSERT_EQ(start_signal_sampling(dialog), 0);
    EXPECT_EQ(app.format_chosen, 1);
    const CaptureBufferRing& ring = app.capture_ring;
    EXPECT_EQ(ring.buffer_count, 30);
    EXPECT_EQ(ring.buffer_bytes, 1024u);
    EXPECT_EQ(uint32_t(ring.capture_format.fmt.samples_per_sec), 22050u);
    EXPECT_EQ(ring.capture_format.fmt.channels, 1);
    EXPECT_EQ(app.silence_countdown, 86);
    EXPECT_EQ(app.signal_buffer_count, 0u);
    EXPECT_EQ(app.signal_waiting, 0) << "left to the caller";

    app.signal_waiting = 1;
    EXPECT_EQ(start_signal_sampling(dialog), -1) << "already waiting";
    app.signal_waiting = 0;
    app.monitoring = 1;
    ASSERT_EQ(stop_monitor(), 0);

    // 6 to 21 buffers run 32, and so does a count far too large for 8 bits.
    for (int n : {6, 21, 22, 1000, 0x7FFFFFFF}) {
        app.num_buffers = n;
        ASSERT_EQ(start_signal_sampling(dialog), 0) << n;
        EXPECT_EQ(ring.buffer_count, 32) << n;
        app.monitoring = 1;
        ASSERT_EQ(stop_monitor(), 0);
    }
    EXPECT_EQ(headless_choosers_shown(), 3);
}

TEST_F(CaptureControl, SignalSamplingStopsARunningMonitorFirst)
{
    choose_pcm();
    set_item_text(dialog, CMD_MONITOR, "Stop");
    ASSERT_EQ(start_monitor(), 0);
    ASSERT_EQ(start_signal_sampling(dialog), 0);
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_EQ(app.capture_ring.buffer_count, 30);
    EXPECT_NE(app.capture_ring.device, nullptr);
}

TEST_F(CaptureControl, ARecordingWritesPlaceholdersThenTheTrueSizes)
{
    choose_pcm();
    ASSERT_EQ(start_capture(out.c_str(), record_buffer_callback), 0);
    EXPECT_EQ(app.recording, 1);
    EXPECT_EQ(app.data_bytes_written, 0u);
    EXPECT_EQ(app.capture_ring.buffer_count, 5);
    EXPECT_EQ(app.capture_ring.buffer_bytes, 8192u);
    std::vector<uint8_t> header = sound_test::read_file(out);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(le32(header, 4), 0x07F00000u);
    EXPECT_EQ(le32(header, 40), 0x07E00000u);

    ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= 3 * 8192; }));
    ASSERT_EQ(end_capture(), 0);
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.capture_file_handle, nullptr);
    EXPECT_EQ(app.conversion_block, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);
    std::vector<uint8_t> file = sound_test::read_file(out);
    EXPECT_EQ(file.size(), 44u + app.data_bytes_written);
    EXPECT_EQ(le32(file, 4), 36u + app.data_bytes_written);
    EXPECT_EQ(le32(file, 40), app.data_bytes_written);
    settle();   // the stopped ring's last buffers are dropped
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(CaptureControl, EveryFailingStartGivesBackTheRingTheStreamAndTheFile)
{
    choose_pcm();
    struct case_t {
        const char* what;
        std::function<void()> arrange;
        std::vector<std::string> captions;
    };
    const std::vector<case_t> cases = {
        {"device open", [] { sound_fail_call(SOUND_IN_OPEN, MMSYSERR_ALLOCATED); }, {"WaveIn Error"}},
        {"sample memory", [] { capture_ring_fail_alloc_after(2); }, {}},
        {"stream open", [] { acm_fail_call(ACM_CALL_OPEN, ACMERR_NOTPOSSIBLE); }, {"acmStreamOpen"}},
        {"stream size", [] { acm_fail_call(ACM_CALL_SIZE, MMSYSERR_NOMEM); }, {"acmStreamSize"}},
        {"stream header", [] { acm_fail_call(ACM_CALL_PREPARE, MMSYSERR_INVALPARAM); }, {"acmStreamPrepareHeader"}},
        {"device start", [] { sound_fail_call(SOUND_IN_START, MMSYSERR_NOMEM); }, {"WaveIn Error", "Fatal Error"}},
        {"buffer queue", [] { sound_fail_call(SOUND_IN_ADD_BUFFER, MMSYSERR_NOMEM, 2); }, {"WaveIn Error", "Fatal Error"}},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(out.c_str());
        headless_clear_message_boxes();
        c.arrange();
        EXPECT_EQ(start_capture(out.c_str(), record_buffer_callback), -1);
        clear_faults();
        EXPECT_EQ(captions(), c.captions);
        EXPECT_EQ(app.recording, 0);
        EXPECT_EQ(app.capture_ring.device, nullptr);
        EXPECT_EQ(acm_open_stream_count(), 0);
        EXPECT_EQ(app.conversion_stream, nullptr);
        EXPECT_EQ(app.conversion_block, nullptr);
        EXPECT_EQ(app.capture_file_handle, nullptr);
    }
    // The file that the failed device start had begun is an empty recording.
    read_result r = read_wave(out);
    EXPECT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, 0u);

    // After all of them a recording starts and ends as usual.
    headless_clear_message_boxes();
    headless_answer_box(IDYES);
    ASSERT_EQ(start_capture(out.c_str(), record_buffer_callback), 0);
    ASSERT_EQ(end_capture(), 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Overwrite current file ?!"});
}

TEST_F(CaptureControl, AFileThatCannotBeOpenedIsToldAsCreateFile)
{
    choose_pcm();
    EXPECT_EQ(start_capture(dir.path.c_str(), record_buffer_callback), -1) << "a directory";
    ASSERT_EQ(captions(), std::vector<std::string>{"Fatal Error"});
    EXPECT_EQ(box_texts()[0].rfind("CreateFile failed: GetLastError returned ", 0), 0u);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);
}

TEST_F(CaptureControl, TheEndOfARecordingFinishesTheFileWhenTheStreamFails)
{
    choose_pcm();
    for (acm_call failing : {ACM_CALL_UNPREPARE, ACM_CALL_CLOSE}) {
        SCOPED_TRACE(failing);
        headless_clear_message_boxes();
        headless_answer_box(IDYES);
        ASSERT_EQ(start_capture(out.c_str(), record_buffer_callback), 0);
        ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= 2 * 8192; }));
        acm_fail_call(failing, ACMERR_BUSY);
        EXPECT_EQ(end_capture(), -1);
        acm_fail_clear();
        std::vector<std::string> c = captions();
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c.back(), failing == ACM_CALL_UNPREPARE ? "acmStreamUnprepareHeader" : "acmStreamClose");
        EXPECT_EQ(box_texts().back(), "Conversion stream already in use.");
        EXPECT_EQ(app.recording, 0);
        EXPECT_EQ(app.capture_file_handle, nullptr);
        EXPECT_EQ(acm_open_stream_count(), 0);
        EXPECT_EQ(app.conversion_block, nullptr);
        read_result r = read_wave(out);
        EXPECT_EQ(r.failed_at, "");
        EXPECT_EQ(r.data_size, app.data_bytes_written) << "the audio already written keeps its place";
        settle();
    }
}

TEST_F(CaptureControl, ADeviceThatWillNotStopKeepsTheRecordingGoing)
{
    choose_pcm();
    ASSERT_EQ(start_capture(out.c_str(), record_buffer_callback), 0);
    sound_fail_call(SOUND_IN_STOP, MMSYSERR_ERROR);
    EXPECT_EQ(end_capture(), -1);
    EXPECT_EQ(captions(), std::vector<std::string>{"WaveIn Error"});
    EXPECT_EQ(app.recording, 1);
    EXPECT_NE(app.capture_file_handle, nullptr);
    EXPECT_NE(app.capture_ring.device, nullptr);
    EXPECT_EQ(end_capture(), 0);
    EXPECT_EQ(read_wave(out).failed_at, "");
}

TEST(CaptureCallbacks, EachPostsItsMessageForFilledBuffersOnly)
{
    app_state_reset();
    headless_reset();
    static const control_template none[] = {{-1, CTL_LTEXT, "", 0, 0, 1, 1}};
    static const dialog_template t = {"COLLECT", "", "Sans", 8, 0, 0, 10, 10, none, 1};
    window d = window_core_create_dialog(&t, nullptr, collecting_proc);
    app.main_dialog = d;
    collected.clear();
    wave_header h = {};
    const uintptr_t p1 = reinterpret_cast<uintptr_t>(&h);
    const struct {
        wave_callback callback;
        unsigned message;
    } each[] = {{record_buffer_callback, MSG_RECORD_BUFFER},
                {monitor_buffer_callback, MSG_MONITOR_BUFFER},
                {track_buffer_callback, MSG_TRACK_BUFFER},
                {signal_buffer_callback, MSG_SIGNAL_BUFFER}};
    for (const auto& e : each) {
        e.callback(nullptr, WIM_OPEN, 0, 0, 0);
        e.callback(nullptr, WIM_CLOSE, 0, 0, 0);
        e.callback(nullptr, WIM_DATA, 0, p1, 0);
    }
    headless_pump();
    ASSERT_EQ(collected.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(collected[i].first, each[i].message);
        EXPECT_GT(collected[i].first, unsigned(WM_USER)) << "no control shares a private message's number";
        EXPECT_EQ(collected[i].second.second, lparam(p1));
    }
    window_core_destroy_dialog(d);
    app_state_reset();
}
