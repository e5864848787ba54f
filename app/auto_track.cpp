// Auto-track: SignalRecord arms the input and waits until both channels
// reach their thresholds, records a take into the next track file, ends it
// after a stretch of silence and arms again, so that one side of a record
// becomes a row of numbered track files. All on the dialog's thread.
#include "core/app_state.h"
#include "app/capture_modes.h"
#include "core/ids.h"
#include "app/number_boxes.h"
#include "app/text.h"
#include "res/ui_text.h"
#include "app/track_naming.h"
#include "capture/capture_control.h"
#include "capture/capture_ring.h"
#include "platform/system/system.h"

namespace {

constexpr int8_t PHASE_INTRO = 0;
constexpr int8_t PHASE_WAIT_SILENCE = 1;
constexpr uint32_t BLINK_BUFFERS = 128;    // signal-sampling buffers between two blinks
constexpr int32_t COUNTDOWN_END = 2;       // a take ends when its countdown falls below this

int32_t countdown_start() { return app.silence_countdown_base >> 9; }

bool both_channels_reach_threshold()
{
    return app.current_level[0] >= int32_t(app.signal_threshold[0]) &&
           app.current_level[1] >= int32_t(app.signal_threshold[1]);
}

// The controls of Idle once auto-track has stopped.
void show_auto_track_idle(window dialog)
{
    set_item_text(dialog, CMD_MONITOR, "Monitor");
    set_item_text(dialog, IDC_STATUS, ui_text("Idle"));
    enable_item(dialog, CMD_RECORD, true);
    enable_item(dialog, CMD_MONITOR, true);
    enable_item(dialog, CMD_CHANGE, true);
    enable_item(dialog, CMD_SELECT, true);
    set_item_text(dialog, CMD_SIGNAL_RECORD, app.signal_button_caption);
}

void arm(window dialog)
{
    const bool was_monitoring = app.monitoring;
    if (start_signal_sampling(dialog) != 0) {
        // The failed start may already have stopped a running Monitor: the
        // dialog then shows Idle, not a Monitor that no longer runs.
        if (was_monitoring && !app.monitoring) {
            set_item_text(dialog, IDC_STATUS, ui_text("Idle"));
            enable_item(dialog, CMD_RECORD, true);
        }
        return;
    }
    set_item_text(dialog, CMD_MONITOR, "Stop");
    set_item_text(dialog, IDC_STATUS, ui_text("SignalWait VU Levels"));
    enable_item(dialog, CMD_RECORD, false);
    enable_item(dialog, CMD_MONITOR, false);
    set_item_text(dialog, IDC_FILE_BOX, app.track_name);
    app.signal_waiting = 1;
    post_message(dialog, MSG_SIGNAL_ARMED, 0, 0);
}

void disarm(window dialog)
{
    // stop_monitor closes the signal-sampling ring only while monitoring is set.
    app.monitoring = 1;
    stop_monitor();
    set_item_text(dialog, CMD_MONITOR, "Monitor");
    set_item_text(dialog, IDC_STATUS, ui_text("Idle"));
    enable_item(dialog, CMD_RECORD, true);
    enable_item(dialog, CMD_MONITOR, true);
    set_item_text(dialog, CMD_SIGNAL_RECORD, app.signal_button_caption);
    app.signal_waiting = 0;
    app.signal_buffer_count = 0;
}

// Ends the running take: its file finished, the track counter on to the
// next name, the name of the take just ended in the file box. -1 when the
// device would not stop: the take then goes on into the same file, and
// neither the counter nor the dialog moves.
int finish_take(window dialog)
{
    if (end_capture() != 0) {
        api_failure("end_capture");
        if (app.recording)
            return -1;
    }
    if (!app.recording)
        app.take_recording = 0;
    app.signal_waiting = 0;
    copy_text(app.capture_file_name, sizeof app.capture_file_name, app.track_name);
    advance_track_counter();
    set_item_text(dialog, IDC_FILE_BOX, app.capture_file_name);
    return 0;
}

// 0 when the take has ended and auto-track arms again; -1 when it goes on.
int end_take(window dialog)
{
    if (finish_take(dialog) != 0)
        return -1;
    post_message(dialog, WM_COMMAND, make_wparam(CMD_SIGNAL_RECORD, 1), 0);
    app.silence_countdown = countdown_start();
    app.track_phase = PHASE_INTRO;
    return 0;
}

// Both channels rose: the sampling ring closes and the take's ring opens
// on the next track file.
void start_take(window dialog)
{
    app.monitoring = 1;
    if (stop_monitor() != 0)
        return;
    app.signal_buffer_count = 0;
    app.signal_waiting = 0;
    copy_text(app.capture_file_name, sizeof app.capture_file_name, app.track_name);
    // Every take starts in its intro, also after a take that a full disk ended.
    app.track_phase = PHASE_INTRO;
    if (start_capture(app.capture_file_name, track_buffer_callback) != 0) {
        // Nothing runs now (the user kept an existing track file, or the
        // device or the file failed, as its box said): the dialog says so.
        show_auto_track_idle(dialog);
        return;
    }
    app.take_recording = 1;
    app.track_chosen = 0;   // the tracks are the takes again
}

} // namespace

void stop_auto_track_after_short_write(window dialog)
{
    app.take_recording = 0;
    app.signal_waiting = 0;
    copy_text(app.capture_file_name, sizeof app.capture_file_name, app.track_name);
    advance_track_counter();
    set_item_text(dialog, IDC_FILE_BOX, app.capture_file_name);
    app.silence_countdown = countdown_start();
    app.track_phase = PHASE_INTRO;
    show_auto_track_idle(dialog);
}

void on_signal_record(window dialog)
{
    read_intro_max_box(dialog);
    if (app.recording) {
        // Arming now would open the one ring a second time. During a take
        // the press ends the take and auto-track; a recording of the Record
        // button goes on until its Stop.
        if (app.take_recording && finish_take(dialog) == 0) {
            app.silence_countdown = countdown_start();
            app.track_phase = PHASE_INTRO;
            show_auto_track_idle(dialog);
        }
        return;
    }
    if (!app.signal_waiting)
        arm(dialog);
    else
        disarm(dialog);
}

msg_result on_signal_armed(window dialog)
{
    set_focus(dialog_item(dialog, CMD_MONITOR));
    set_button_state(app.signal_button, false);
    unsigned state = get_button_state(app.signal_button);
    app.signal_wait_tick = get_tick_count();
    if (state & BST_PUSHED)
        app.signal_waiting = 1;
    return 1;
}

void on_signal_buffer(window dialog, wave_header* header)
{
    if (!app.signal_waiting || !returned_by_ring(header) || header->bytes_recorded == 0)
        return;
    measure_levels(header->data, header->bytes_recorded, &app.current_level[0], &app.current_level[1]);
    draw_meter();
    ++app.signal_buffer_count;
    if (app.signal_buffer_count % BLINK_BUFFERS == 0) {
        set_window_font(app.signal_button, app.blink_on ? app.underlined_font : app.dialog_font, true);
        set_item_text(dialog, CMD_SIGNAL_RECORD, ui_text("WaitSignal"));
        app.blink_on = !app.blink_on;
    }
    if (both_channels_reach_threshold()) {
        start_take(dialog);   // this buffer belonged to the sampling ring: dropped
        return;
    }
    // A buffer that cannot be queued again only thins the sampling out.
    wave_in_add_buffer(app.capture_ring.device, header, sizeof *header);
}

void on_track_buffer(window dialog, wave_header* header)
{
    if (!app.recording || !returned_by_ring(header) || header->bytes_recorded == 0)
        return;
    if (app.track_buffer_parity % 2 == 0) {
        app.previous_level[0] = app.current_level[0];
        app.previous_level[1] = app.current_level[1];
        measure_levels(header->data, header->bytes_recorded, &app.current_level[0], &app.current_level[1]);
        draw_meter();
        if (both_channels_reach_threshold()) {
            on_record_buffer(dialog, header);
            return;
        }
        const uint32_t s = get_tick_count() / 1000 - app.signal_wait_tick / 1000;
        if (app.track_phase == PHASE_INTRO && s > uint32_t(app.intro_max_seconds)) {
            app.track_phase = PHASE_WAIT_SILENCE;
            set_item_text(dialog, CMD_SIGNAL_RECORD, ui_text("WaitSilence"));
        }
    }
    ++app.track_buffer_parity;
    if (app.track_phase == PHASE_WAIT_SILENCE) {
        --app.silence_countdown;
        // The buffer of an ended take belonged to the closed ring: dropped.
        // A take whose device would not stop keeps it, and tries again at
        // the next silent buffer.
        if (app.silence_countdown < COUNTDOWN_END && end_take(dialog) == 0)
            return;
    }
    on_record_buffer(dialog, header);
}
