// The cleaned preview played through the dialog: what reaches the sound
// card, the status line, Pause and Restart, the end of a playback and the
// ways a playback is stopped before its end.
#include <atomic>
#include "tests/playback/playback_fixture.h"

using namespace playback_test;

namespace {

constexpr size_t BLOCK_FRAMES = 2048;         // an 8,192-byte block of 16-bit stereo
constexpr size_t FIRST_BLOCK_FRAMES = 2037;   // the first block starts after the 44-byte header

std::string status_of(window dialog)
{
    char text[512];
    get_item_text(dialog, IDC_STATUS, text, sizeof text);
    return text;
}

} // namespace

TEST_F(PlaybackTest, CdStereoBlocksGiveTheSizesAndPeriodOfTheViewAndAShortTrackOneShorterBuffer)
{
    const bytes cleaned = clean(tone(BLOCK_FRAMES * 5 + 100, 2), 2);
    ASSERT_EQ(cleaned.size(), (BLOCK_FRAMES * 5 + 100) * 4);
    click(CMD_PLAY);

    EXPECT_EQ(app.rows_per_block, 409);
    EXPECT_EQ(app.play_period, 46u);
    EXPECT_EQ(timer_period(app.play_timer), 46u);
    EXPECT_EQ(app.preview_blocks, 5);
    EXPECT_EQ(app.view_rows_count, 2 * (128 + 4) * 409);
    // The whole track fits the first buffer; the second holds nothing.
    EXPECT_EQ(app.play_headers[0].buffer_length, cleaned.size());
    EXPECT_EQ(app.play_headers[1].buffer_length, 0u);
    EXPECT_EQ(status_of(dialog), "File:" + std::string(app.cleaned_file_name) + " after cleaning preview - frame  1");
    EXPECT_FALSE(enabled(CMD_RECORD));
    EXPECT_FALSE(enabled(CMD_PLAY));
    EXPECT_TRUE(enabled(CMD_PAUSE));

    ASSERT_TRUE(pump_until([] { return !app.playback_running; }));
    EXPECT_EQ(played(), cleaned);
}

TEST_F(PlaybackTest, EveryByteOfTheCleanedFileIsPlayedInOrderAndPlayThenStartsAgainFromTheBeginning)
{
    app.play_buffer_blocks = 4;
    // Two full playback buffers, then one holding 2.5 blocks and an odd frame.
    const size_t frames = FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 9 + BLOCK_FRAMES / 2 + 1;
    const bytes cleaned = clean(tone(frames, 2), 2);
    ASSERT_EQ(cleaned.size(), frames * 4);

    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(played(), cleaned);
    // The end: the view timer gone, the file open again at its start, the
    // buttons as before Play.
    EXPECT_EQ(app.play_timer, 0u);
    EXPECT_EQ(timer_count(), 0);
    EXPECT_NE(app.track_in, nullptr);
    EXPECT_TRUE(enabled(CMD_PLAY));
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_FALSE(enabled(CMD_PAUSE));
    EXPECT_EQ(app.frame_counter, 1);
    EXPECT_EQ(app.blocks_filled, 0);

    clear_played();
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(played(), cleaned);
}

TEST_F(PlaybackTest, TheLastBufferIsPlayedWhenItHoldsTheTracksLastWholeBlocksOnly)
{
    // Three buffers exactly (the first block short by the header): the
    // last holds data and must be played before the end.
    app.play_buffer_blocks = 2;
    const size_t frames = FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 5;
    const bytes cleaned = clean(tone(frames, 2), 2);
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(played().size(), cleaned.size());
    EXPECT_EQ(played(), cleaned);
}

TEST_F(PlaybackTest, TheStatusLineCountsTheOddBuffersAsTheyAreHeard)
{
    app.play_buffer_blocks = 4;
    const bytes cleaned = clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 23, 2), 2);   // six buffers
    const std::string line = "File:" + std::string(app.cleaned_file_name) + " after cleaning preview - frame  ";
    wave_out_pause(app.play_device);   // held, so each buffer is let through by hand
    click(CMD_PLAY);
    EXPECT_EQ(status_of(dialog), line + "1");
    timer_tick_all();
    headless_pump();
    EXPECT_EQ(status_of(dialog), line + "1") << "nothing heard yet";

    const char* expected[] = {"1", "3", "3", "5", "5"};
    for (const char* number : expected) {
        ASSERT_TRUE(play_one_buffer());
        ASSERT_TRUE(app.playback_running);
        timer_tick_all();
        headless_pump();
        EXPECT_EQ(status_of(dialog), line + number) << "buffer " << app.playing_frame;
    }
    ASSERT_TRUE(play_one_buffer());
    EXPECT_FALSE(app.playback_running);
    EXPECT_EQ(played(), cleaned);
}

TEST_F(PlaybackTest, PauseStopsTheTimerAndRestartBringsItBackWithTheSamePeriod)
{
    app.play_buffer_blocks = 4;
    clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 11, 2), 2);
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    const uint32_t period = timer_period(app.play_timer);
    ASSERT_EQ(period, 46u);

    click(CMD_PAUSE);
    EXPECT_EQ(app.play_timer, 0u);
    EXPECT_EQ(timer_count(), 0);
    EXPECT_EQ(text(CMD_PAUSE), "Restart");
    EXPECT_TRUE(app.playback_paused);

    click(CMD_PAUSE);
    EXPECT_EQ(timer_period(app.play_timer), period);
    EXPECT_EQ(timer_count(), 1);
    EXPECT_EQ(text(CMD_PAUSE), "Pause");
    EXPECT_FALSE(app.playback_paused);
    ASSERT_TRUE(pump_until([] { return !app.playback_running; }));
}

TEST_F(PlaybackTest, CloseTrackWhilePlayingStopsThePlaybackAndReadsNothingMore)
{
    app.play_buffer_blocks = 4;
    clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 15, 2), 2);
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    ASSERT_TRUE(play_one_buffer());
    ASSERT_TRUE(play_one_buffer());
    const size_t heard = played().size();

    click(CMD_DECLICKER);   // Close track
    EXPECT_FALSE(app.playback_running);
    EXPECT_EQ(app.track_in, nullptr);
    EXPECT_EQ(timer_count(), 0);
    // The buffers the reset gave back arrive and are dropped; nothing is
    // filled from the closed file and nothing more is played.
    headless_pump_for(30);
    EXPECT_EQ(app.stale_done_events, 0);
    EXPECT_EQ(played().size(), heard);
    mm_time t = {TIME_SAMPLES, 0};
    ASSERT_EQ(wave_out_get_position(app.play_device, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.value, 0u);
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_FALSE(enabled(CMD_PLAY));
    EXPECT_FALSE(enabled(CMD_PAUSE));
    EXPECT_EQ(text(CMD_DECLICKER), "DeClicker");
}

TEST_F(PlaybackTest, CloseTrackWhilePausedLeavesThePauseButtonReadingPause)
{
    app.play_buffer_blocks = 4;
    clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 15, 2), 2);
    click(CMD_PLAY);
    click(CMD_PAUSE);
    click(CMD_DECLICKER);
    EXPECT_FALSE(app.playback_paused);
    EXPECT_EQ(text(CMD_PAUSE), "Pause");
    headless_pump_for(20);
    EXPECT_EQ(app.stale_done_events, 0);
}

TEST_F(PlaybackTest, ALaterMonoPreviewGetsRoomForItsLargerRowsAndPlaysWhole)
{
    app.play_buffer_blocks = 4;
    const bytes stereo = clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 6, 2), 2, '4');
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(played(), stereo);
    EXPECT_EQ(app.view_rows_count, 2 * (4 + 4) * 409);

    // Mono with the same 8,192-byte blocks: twice the frames, twice the rows.
    const bytes mono = clean(tone(4074 + 4096 * 9, 1), 1, '6');
    clear_played();
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(app.rows_per_block, 819);
    EXPECT_EQ(app.view_rows_count, 2 * (4 + 4) * 819);
    EXPECT_EQ(played(), mono);
}

TEST_F(PlaybackTest, ExitWhilePlayingStopsTheTimerAndTheDeviceBeforeTheDialogGoes)
{
    app.play_buffer_blocks = 4;
    clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 15, 2), 2);
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    ASSERT_EQ(timer_count(), 1);

    click(CMD_EXIT);
    EXPECT_EQ(timer_count(), 0);
    EXPECT_FALSE(app.playback_running);
    // Nothing is left queued, so the device closes at the release.
    EXPECT_EQ(wave_out_close(app.play_device), MMSYSERR_NOERROR);
    app.play_device = nullptr;
}

TEST_F(PlaybackTest, ABufferTheDeviceRefusesEndsThePlaybackInsteadOfLeavingItHanging)
{
    app.play_buffer_blocks = 4;
    clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 15, 2), 2);
    sound_fail_call(SOUND_OUT_WRITE, MMSYSERR_NOMEM, 1);   // the second write fails
    ASSERT_TRUE(play_to_end());
    EXPECT_TRUE(enabled(CMD_PLAY));
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_FALSE(enabled(CMD_PAUSE));
    EXPECT_NE(app.track_in, nullptr);
    EXPECT_EQ(timer_count(), 0);

    // Play works again, from the start.
    clear_played();
    const bytes cleaned = [] {
        std::ifstream in(app.cleaned_file_name, std::ios::binary);
        return data_chunk(bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }();
    ASSERT_TRUE(play_to_end());
    EXPECT_EQ(played(), cleaned);
}

TEST_F(PlaybackTest, WithoutAnOutputDeviceTheTrackIsCleanedAndPlaySaysItCannotBeHeard)
{
    sound_virtual_devices(1, 0);
    EXPECT_FALSE(clean(tone(3000, 2), 2).empty());
    EXPECT_EQ(app.play_device, nullptr);
    EXPECT_TRUE(box_texts().empty()) << "no output device is no device error";
    click(CMD_PLAY);
    EXPECT_FALSE(app.playback_running);
    EXPECT_EQ(status_of(dialog), "No sound output device - " + std::string(app.cleaned_file_name) + " cannot be played");
    EXPECT_TRUE(enabled(CMD_PLAY));
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(timer_count(), 0);
}

namespace {
std::atomic<int> device_closes{0};
void counting_completion(void*, unsigned message, uintptr_t, uintptr_t, uintptr_t)
{
    if (message == WOM_CLOSE)
        ++device_closes;
}
} // namespace

TEST_F(PlaybackTest, EachCleaningRunClosesTheDeviceOfTheRunBefore)
{
    PlaybackRecord& record = app.playback_record;
    record = PlaybackRecord{};
    record.bits_per_sample = 16;
    record.channels = 2;
    record.source_format.fmt = wave_format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    device_closes = 0;
    ASSERT_EQ(open_wave_out(&record, counting_completion), 0);
    const wave_out first = app.play_device;
    EXPECT_EQ(record.device, first);
    EXPECT_EQ(record.play_format.fmt.block_align, 4);
    EXPECT_EQ(device_closes, 0);
    ASSERT_EQ(open_wave_out(&record, counting_completion), 0);
    EXPECT_EQ(device_closes, 1) << "the first device is closed before the second opens";
    EXPECT_EQ(record.device, app.play_device);
}

TEST_F(PlaybackTest, AFormatTheCompressionManagerCannotPlayOpensNothingAndSaysNothing)
{
    PlaybackRecord& record = app.playback_record;
    record = PlaybackRecord{};
    record.bits_per_sample = 16;
    record.channels = 2;
    record.source_format.fmt = wave_format{0x7777, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(open_wave_out(&record, counting_completion), -1);
    EXPECT_EQ(app.play_device, nullptr);
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(PlaybackTest, BuffersTooLargeToBeHadAreACriticalMemoryErrorThatEndsTheRun)
{
    clean(tone(3000, 2), 2);
    // Blocks so large that a playback buffer would pass 4 GB.
    app.playback_record.input_buffer_bytes = 1 << 28;
    headless_clear_message_boxes();
    click(CMD_PLAY);
    ASSERT_EQ(box_texts(), std::vector<std::string>{"Critical memory error"});
    EXPECT_EQ(headless_message_boxes()[0].caption, "Track Mill");
    EXPECT_FALSE(app.playback_running);
    EXPECT_EQ(timer_count(), 0);
    headless_pump();   // the posted close ends the dialog as Exit does
    EXPECT_EQ(app.bar_erase_pen, nullptr);
}

TEST_F(PlaybackTest, WithARealTimerAndACardThatKeepsTimeTheViewFollowsThePlaybackToItsEnd)
{
    // Ten times faster than real time: six buffers of four blocks (about
    // 1.1 s of sound) play in about a tenth of a second, while the timer,
    // on its own thread, draws as the dialog's thread refills.
    sound_pace_real_time(10.0);
    timer_use_manual(false);
    app.play_buffer_blocks = 4;
    const bytes cleaned = clean(tone(FIRST_BLOCK_FRAMES + BLOCK_FRAMES * 23, 2), 2);
    headless_clear_draw_calls();
    auto blue_lines = [] {
        int n = 0;
        for (const draw_call& c : headless_draw_calls())
            n += c.op == DRAW_POLYLINE && c.pen_color == rgb(0, 0, 255);
        return n;
    };
    auto position = [] {
        mm_time t = {TIME_SAMPLES, 0};
        wave_out_get_position(app.play_device, &t, sizeof t);
        return t.value;
    };
    // Held inside the third block (whose rows are whole) until the timer
    // has drawn it, however busy the machine is; then to the end.
    wave_out_pause(app.play_device);
    click(CMD_PLAY);
    wave_out_restart(app.play_device);
    ASSERT_TRUE(pump_until([&] { return position() > 2 * BLOCK_FRAMES + 100; }));
    wave_out_pause(app.play_device);
    ASSERT_TRUE(pump_until([&] { return blue_lines() > 0; }));
    wave_out_restart(app.play_device);
    ASSERT_TRUE(pump_until([] { return !app.playback_running; }));
    EXPECT_EQ(played(), cleaned);
    EXPECT_EQ(timer_count(), 0);
}
