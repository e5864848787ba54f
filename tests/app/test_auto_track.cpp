// Auto-track through the main dialog on the virtual card in fast mode: a
// split of the demo side against its songs, what starts a take, the intro
// allowance and the silence countdown, the eleventh take, a take that cannot
// start, and SignalRecord pressed while a capture runs.
#include <sys/stat.h>
#include "app/track_naming.h"
#include "capture/capture_watch.h"
#include "platform/system/timer.h"
#include "platform/sound/demo_record.h"
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"

using namespace recording;

namespace {

// One take as the dialog went through it (times in ms of the virtual clock).
struct take_seen {
    std::string file;
    uint32_t start_ms = 0;          // record_start_tick
    uint32_t wait_silence_ms = 0;   // when the phase became WaitSilence
    uint32_t end_ms = 0;            // when the capture had ended
};

struct AutoTrack : RecordingTest {
    std::vector<take_seen> takes;
    int was_recording = 0;

    void SetUp() override
    {
        RecordingTest::SetUp();
        clock_set(0);   // the record's first frame plays at 0 ms
    }
    // Notes every take's start, WaitSilence and end; call it from a pump's condition.
    void watch()
    {
        if (app.recording && !was_recording)
            takes.push_back({app.capture_file_name, app.record_start_tick});
        if (app.recording && app.track_phase == 1 && takes.back().wait_silence_ms == 0)
            takes.back().wait_silence_ms = get_tick_count();
        if (!app.recording && was_recording)
            takes.back().end_ms = get_tick_count();
        was_recording = app.recording;
    }
    // The dialog with PCM chosen and the track files named DIR/track0.wav, ...
    void open_for_tracks()
    {
        open_dialog();
        select_format("pcm,44100,2,16");
        headless_answer_save((dir.path + "/track.wav").c_str());
        click(CMD_CHANGE);
        ASSERT_EQ(app.track_name, dir.path + "/track0.wav");
    }
    std::string track(int n) { return dir.path + "/track" + std::to_string(n) + ".wav"; }
    // Seconds of 44.1 kHz 16-bit stereo in a track file.
    double seconds_in(const std::string& file)
    {
        read_result r = read_wave(file);
        EXPECT_EQ(r.failed_at, "") << file;
        return r.data_size / double(RATE * FRAME_BYTES);
    }
    // The fast card fills every queued buffer at once and moves the clock as
    // it goes, so the dialog handles a buffer up to a ring's worth of sound
    // after it was recorded: a time read from the clock then is late by at
    // most this much.
    uint32_t ring_lead_ms() const
    {
        return uint32_t((app.num_buffers + 1) * uint64_t(app.record_buffer_bytes) * 1000 / (RATE * FRAME_BYTES));
    }
    bool armed_and_idle_after(uint32_t ms)
    {
        watch();
        return get_tick_count() >= ms && app.signal_waiting && !app.recording;
    }
};

} // namespace

TEST_F(AutoTrack, TheDemoSideSplitsIntoItsSongs)
{
    ASSERT_EQ(sound_use_virtual("demo", false), 0);   // one side, not the next pass
    open_for_tracks();
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(text(IDC_STATUS), "SignalWait VU Levels");
    EXPECT_EQ(text(IDC_FILE_BOX), track(0));
    const uint32_t side_ms = uint32_t(uint64_t(demo_total_frames()) * 1000 / DEMO_RATE);
    ASSERT_TRUE(pump_until([&] { return armed_and_idle_after(side_ms + 8000); }, 120000));
    click(CMD_SIGNAL_RECORD);   // disarm
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_SIGNAL_RECORD), "&SignalRecord");
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(app.capture_ring.device, nullptr);

    ASSERT_EQ(int(takes.size()), demo_song_count());
    for (int i = 0; i < demo_song_count(); ++i) {
        SCOPED_TRACE(i);
        const demo_song song = demo_song_at(i);
        const double song_start = song.first_frame / double(DEMO_RATE);
        const double song_end = song.end_frame / double(DEMO_RATE);
        EXPECT_EQ(takes[i].file, track(i));
        const double start = takes[i].start_ms / 1000.0;
        EXPECT_GE(start, song_start - 0.05);
        EXPECT_LE(start, song_start + 0.5);
        const double end = start + seconds_in(track(i));
        EXPECT_GE(end - song_end, 2.5) << "the take runs on into the silence after its song";
        EXPECT_LE(end - song_end, 5.0);
    }
    EXPECT_EQ(app.track_name, track(4));
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(AutoTrack, BothChannelsMustReachTheirThresholdsInOneBuffer)
{
    play_parts({{2.0, 5000, 0}, {0.5, 0, 0}, {2.0, 0, 5000}, {0.5, 0, 0}, {1.0, 5000, 5000}, {1.0, 0, 0}});
    open_for_tracks();
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([&] {
        watch();
        return !takes.empty();
    }));
    EXPECT_GE(takes[0].start_ms, 5000u) << "one channel alone never starts a take";
    EXPECT_LE(takes[0].start_ms, 5400u);
    EXPECT_EQ(app.capture_file_name, track(0));
}

TEST_F(AutoTrack, SilenceWithinTheIntroAllowanceNeverEndsATakeThenAboutFourSecondsDo)
{
    play_parts({{1.0, 0, 0}, {2.0, 5000, 5000}, {30.0, 0, 0}});
    open_for_tracks();
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([&] {
        watch();
        return get_tick_count() >= 2500;
    }));
    ASSERT_EQ(takes.size(), 1u);
    EXPECT_EQ(app.silence_countdown, 86) << "buffers with signal leave the countdown alone";
    EXPECT_EQ(app.track_phase, 0);

    ASSERT_TRUE(pump_until([&] {
        watch();
        return takes[0].end_ms != 0;
    }));
    // The intro (10 s from the arming) is over at 11 s; 8192-byte buffers
    // then end the take after about four seconds of silence.
    EXPECT_GE(takes[0].wait_silence_ms, 11000u);
    EXPECT_LE(takes[0].wait_silence_ms, 11050u + ring_lead_ms());
    const double silence_ms = takes[0].start_ms + seconds_in(track(0)) * 1000 - takes[0].wait_silence_ms;
    EXPECT_NEAR(silence_ms, 3950, 100 + ring_lead_ms());
    // The file box names the ended take, the track name advances, and the
    // dialog is armed again.
    EXPECT_EQ(text(IDC_FILE_BOX), track(0));
    EXPECT_EQ(app.track_name, track(1));
    ASSERT_TRUE(pump_until([] { return app.signal_waiting == 1; }));
    EXPECT_EQ(text(IDC_STATUS), "SignalWait VU Levels");
    EXPECT_EQ(text(IDC_FILE_BOX), track(1));
    EXPECT_EQ(text(CMD_MONITOR), "Stop");
    EXPECT_FALSE(enabled(CMD_RECORD));
    EXPECT_FALSE(enabled(CMD_MONITOR));
    EXPECT_EQ(app.silence_countdown, 86);
    EXPECT_EQ(app.track_phase, 0);
}

TEST_F(AutoTrack, WithNoIntroTheSilenceRightAfterTheSignalEndsTheTake)
{
    play_parts({{1.0, 0, 0}, {2.0, 5000, 5000}, {30.0, 0, 0}});
    open_for_tracks();
    type(IDC_INTRO_MAX, "0");
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(app.intro_max_seconds, 0);
    ASSERT_TRUE(pump_until([&] {
        watch();
        return !takes.empty() && takes[0].end_ms != 0;
    }));
    EXPECT_GE(takes[0].wait_silence_ms, 3000u);
    EXPECT_LE(takes[0].wait_silence_ms, 3050u + ring_lead_ms());
    EXPECT_EQ(text(CMD_SIGNAL_RECORD), "WaitSilence");
    EXPECT_NEAR(takes[0].start_ms / 1000.0 + seconds_in(track(0)), 3.0 + 3.95, 0.1 + ring_lead_ms() / 1000.0);
}

TEST_F(AutoTrack, ATwelveSongSideBecomesTrack0ToTrack11WithoutAQuestion)
{
    std::vector<stretch> parts = {{0.5, 0, 0}};
    for (int i = 0; i < 12; ++i) {
        parts.push_back({0.5, 5000, 5000});
        parts.push_back({2.0, 0, 0});
    }
    play_parts(parts);
    open_for_tracks();
    type(IDC_INTRO_MAX, "0");
    app.record_buffer_bytes = 2048;   // the countdown runs out after a second of silence
    headless_answer_box(IDYES);       // a Yes would let a take write over song 1
    click(CMD_SIGNAL_RECORD);
    // DeNoiser and Fade In pressed while take 2 is written: refused, nothing read or written.
    ASSERT_TRUE(pump_until([&] {
        watch();
        return takes.size() == 2 && app.recording;
    }));
    click(CMD_DENOISER);
    EXPECT_EQ(text(IDC_STATUS), "Recording - stop it before cleaning a track");
    EXPECT_EQ(text(CMD_DENOISER), "De&Noiser");
    click(CMD_FADE_IN);
    EXPECT_EQ(app.track_name, track(1));
    ASSERT_TRUE(pump_until([&] {
        watch();
        return takes.size() == 12 && takes[11].end_ms != 0;
    }));
    EXPECT_TRUE(box_texts().empty());
    struct stat st;
    EXPECT_NE(stat((dir.path + "/tracd0.wav").c_str(), &st), 0);
    EXPECT_NE(stat((dir.path + "/tracd1.wav").c_str(), &st), 0);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(takes[i].file, track(i));
        EXPECT_NEAR(seconds_in(track(i)), 1.5, 0.3) << i;
    }
    EXPECT_NEAR(takes[0].start_ms / 1000.0, 0.5, 0.3);
    EXPECT_NEAR(takes[11].start_ms / 1000.0, 0.5 + 11 * 2.5, 0.3);
    EXPECT_EQ(app.track_name, track(12));
}

TEST_F(AutoTrack, ATakeThatCannotStartLeavesTheDialogIdle)
{
    std::vector<uint8_t> kept = {'k', 'e', 'e', 'p'};
    sound_test::write_file(track(0), kept);
    play_parts({{0.5, 0, 0}, {2.0, 5000, 5000}});
    open_for_tracks();
    const std::string signal_caption = text(CMD_SIGNAL_RECORD);
    headless_answer_box(IDNO);
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([] { return headless_message_boxes().size() == 1; }));
    settle();
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Overwrite current file ?!"});
    EXPECT_TRUE(sound_test::read_file(track(0)) == kept);
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.signal_waiting, 0);
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 0);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(text(CMD_SIGNAL_RECORD), signal_caption);
    EXPECT_EQ(app.track_name, track(0)) << "no take was recorded";
}

TEST_F(AutoTrack, SignalRecordDuringATakeEndsItAndDuringARecordIsIgnored)
{
    play_parts({{0.5, 0, 0}, {20.0, 5000, 5000}});
    open_for_tracks();
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([] { return app.recording && app.data_bytes_written >= 20 * 8192; }));
    click(CMD_SIGNAL_RECORD);
    settle();
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.signal_waiting, 0) << "auto-track stops";
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_EQ(text(IDC_FILE_BOX), track(0));
    EXPECT_EQ(app.track_name, track(1));
    EXPECT_GE(seconds_in(track(0)), 20 * 8192 / double(RATE * FRAME_BYTES));
    EXPECT_TRUE(box_texts().empty());

    // A recording of the Record button goes on.
    std::string out = dir.file("record.wav");
    type(IDC_FILE_BOX, out.c_str());
    click(CMD_RECORD);
    ASSERT_EQ(app.recording, 1);
    ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= 5 * 8192; }));
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(app.recording, 1);
    EXPECT_EQ(app.signal_waiting, 0);
    ASSERT_TRUE(pump_until([] { return app.data_bytes_written >= 10 * 8192; }));
    click(CMD_RECORD);
    EXPECT_EQ(read_wave(out).data_size, app.data_bytes_written);
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(AutoTrack, ArmingStopsMonitorAndBiasAdjustDisarms)
{
    open_for_tracks();
    click(CMD_MONITOR);
    ASSERT_EQ(app.monitoring, 1);
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(app.signal_waiting, 1);
    EXPECT_EQ(text(CMD_MONITOR), "Stop");
    EXPECT_EQ(text(IDC_STATUS), "SignalWait VU Levels");
    EXPECT_EQ(app.capture_ring.buffer_count, 30);
    EXPECT_EQ(app.capture_ring.buffer_bytes, 1024u);
    EXPECT_EQ(app.silence_countdown, 86);

    // Its Monitor command, posted while armed, posts SignalRecord: disarmed.
    click(CMD_BIAS_ADJUST);
    ASSERT_TRUE(pump_until([] { return app.signal_waiting == 0; }));
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_EQ(app.capture_ring.device, nullptr);
    EXPECT_EQ(app.bias_adjusting, 1) << "the measurement waits for the next Monitor";
}

TEST_F(AutoTrack, WaitSignalBlinksEvery128Buffers)
{
    open_for_tracks();
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([] { return app.signal_buffer_count == 128; }));
    EXPECT_EQ(text(CMD_SIGNAL_RECORD), "WaitSignal");
    EXPECT_EQ(get_window_font(app.signal_button), app.dialog_font);
    EXPECT_EQ(app.blink_on, 1);
    ASSERT_TRUE(pump_until([] { return app.signal_buffer_count == 256; }));
    EXPECT_EQ(get_window_font(app.signal_button), app.underlined_font);
    EXPECT_EQ(app.blink_on, 0);
}

TEST_F(AutoTrack, AFailedArmingChangesNothingAndAStoppedMonitorShowsIdle)
{
    open_dialog();
    const std::string monitor_caption = text(CMD_MONITOR);
    click(CMD_SIGNAL_RECORD);   // the chooser is cancelled
    EXPECT_EQ(headless_choosers_shown(), 1);
    EXPECT_TRUE(box_texts().empty());
    EXPECT_EQ(app.signal_waiting, 0);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_MONITOR), monitor_caption);
    EXPECT_EQ(text(IDC_FILE_BOX), "./wavecap.wav");

    select_format("pcm,44100,2,16");
    click(CMD_MONITOR);
    ASSERT_EQ(app.monitoring, 1);
    sound_fail_call(SOUND_IN_OPEN, MMSYSERR_ALLOCATED);
    click(CMD_SIGNAL_RECORD);
    EXPECT_EQ(captions(), std::vector<std::string>{"WaveIn Error"});
    EXPECT_EQ(app.signal_waiting, 0);
    EXPECT_EQ(app.monitoring, 0);
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(enabled(CMD_RECORD));
}

TEST_F(AutoTrack, AFullDiskEndsTheTakeAndAutoTrackWithTheFileKept)
{
    play_parts({{0.5, 0, 0}, {4.0, 5000, 5000}, {6.0, 0, 0}, {2.0, 5000, 5000}, {6.0, 0, 0}});
    open_for_tracks();
    click(CMD_SIGNAL_RECORD);
    file_size_limit full(44 + 10 * 8192 + 100);
    ASSERT_TRUE(full.set);
    const bool ended = pump_until([&] {
        watch();
        return !takes.empty() && takes[0].end_ms != 0;
    });
    full.lift();
    ASSERT_TRUE(ended);
    ASSERT_EQ(box_texts(), std::vector<std::string>{"The recording file could not be written: the disk may be full.\n"
                                                     "The recording was stopped; what was recorded is kept."});
    // The take's file is whole, the next take would get the next name, and
    // auto-track has stopped: the second song starts no take.
    read_result r = read_wave(track(0));
    EXPECT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, 10u * 8192 + 100);
    EXPECT_EQ(app.track_name, track(1));
    EXPECT_EQ(text(IDC_FILE_BOX), track(0));
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_SIGNAL_RECORD), "&SignalRecord");
    EXPECT_EQ(text(CMD_MONITOR), "Monitor");
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_TRUE(enabled(CMD_MONITOR));
    EXPECT_EQ(app.signal_waiting, 0);
    EXPECT_EQ(app.take_recording, 0);
    EXPECT_EQ(app.capture_ring.device, nullptr);
    settle();
    EXPECT_EQ(takes.size(), 1u);
    EXPECT_EQ(app.recording, 0);
}

TEST_F(AutoTrack, ATakeInACompressedFormatIsSampledInThePcmItIsMadeFrom)
{
    play_parts({{0.5, 0, 0}, {2.0, 5000, 5000}, {8.0, 0, 0}});
    open_dialog();
    select_format("ima-adpcm,44100,2");
    headless_answer_save((dir.path + "/track.wav").c_str());
    click(CMD_CHANGE);
    type(IDC_INTRO_MAX, "0");
    click(CMD_SIGNAL_RECORD);
    EXPECT_TRUE(box_texts().empty());
    ASSERT_EQ(app.signal_waiting, 1);
    const wave_format& sampled = app.capture_ring.capture_format.fmt;
    EXPECT_EQ(sampled.format_tag, WAVE_FORMAT_PCM);
    EXPECT_EQ(sampled.bits_per_sample, 16);
    EXPECT_EQ(sampled.channels, 2);
    EXPECT_EQ(uint32_t(sampled.samples_per_sec), 44100u);
    ASSERT_TRUE(pump_until([&] {
        watch();
        return !takes.empty() && takes[0].end_ms != 0;
    }));
    read_result r = read_wave(track(0));
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.format[0] | r.format[1] << 8, 0x11);
    EXPECT_GT(r.data_size, 40000u);
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(AutoTrack, ATakeWhoseDeviceStopsDeliveringEndsWithItsFileAndAutoTrackStops)
{
    play_parts({{10.0, 5000, 5000}});
    open_for_tracks();
    timer_use_manual(true);
    click(CMD_SIGNAL_RECORD);
    ASSERT_TRUE(pump_until([] { return app.recording && app.data_bytes_written >= 8 * 8192; }));
    sound_virtual_stall_input(true);
    settle();
    clock_advance(capture_stall_limit_ms(true));
    timer_tick_all();
    settle();
    timer_use_manual(false);
    EXPECT_EQ(app.recording, 0);
    EXPECT_EQ(app.signal_waiting, 0) << "no new take waits on a dead device";
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_EQ(text(CMD_SIGNAL_RECORD), "&SignalRecord");
    EXPECT_EQ(app.track_name, track(1)) << "the next take gets the next name";
    EXPECT_EQ(read_wave(track(0)).failed_at, "");
    ASSERT_EQ(box_texts().size(), 1u);
    EXPECT_EQ(box_texts()[0].find("The sound device stopped delivering sound"), 0u);
}
