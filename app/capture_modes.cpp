// The capture modes: Record and Monitor with their buttons, BiasAdjust and
// the bias it measures, the meter, and what the dialog shows of the write
// path. All on the dialog's thread; the device callbacks only post here.
#include "app/capture_modes.h"

#include <cstring>
#include "core/app_state.h"
#include "core/ids.h"
#include "app/number_boxes.h"
#include "app/text.h"
#include "res/ui_text.h"
#include "capture/capture_control.h"
#include "capture/capture_ring.h"
#include "capture/capture_watch.h"
#include "capture/compression.h"
#include "capture/record_path.h"
#include "capture/wav_writer.h"
#include "ui/displays.h"
#include "platform/system/system.h"

namespace {

constexpr int BIAS_BUFFERS = 32;           // monitor buffers a bias measurement sums
constexpr uint16_t BIAS_START = 1200;      // both bias levels when a measurement starts
constexpr uint16_t BIAS_ROUNDING = 4096;   // added to the sum before the division
constexpr uint16_t BIAS_MARGIN = 64;       // added to the mean to give the threshold
constexpr int STATUS_LINE_BYTES = 128;
// Room for a typed name longer than capture_file_name holds, so that such a
// name is seen and refused instead of being cut into another name.
constexpr int FILE_BOX_BYTES = 1024;

// Length of a level bar in pixels for a level of 0..32768.
int32_t bar_length(int32_t level)
{
    const int32_t full = app.level_full_value;
    if (full == 0)
        return 3;
    return int32_t(int64_t(app.bar_full_scale) * level / full) + 3;
}

// The controls of Idle after Record: Record stops, or a start failed. The
// meter that followed the recording is cleared, as when Monitor stops.
void show_record_idle(window dialog)
{
    draw_level_bars(0, 0, app.bar_full_scale, app.bar_full_scale);
    set_item_text(dialog, IDC_STATUS, ui_text("Idle"));
    enable_item(dialog, CMD_CHANGE, true);
    enable_item(dialog, CMD_SELECT, true);
    enable_item(dialog, CMD_MONITOR, true);
    set_item_text(dialog, CMD_RECORD, ui_text("Record"));
}

// capture_directory: the full path of capture_file_name cut just after its
// last separator.
void take_capture_directory()
{
    if (full_path_name(app.capture_file_name, app.capture_directory, int(sizeof app.capture_directory)) == 0) {
        api_failure("GetFullPathName");
        return;
    }
    char* last = std::strrchr(app.capture_directory, '/');
    if (last)
        last[1] = '\0';
}

// The file box into capture_file_name. -1 when the typed name does not fit,
// after telling the user; capture_file_name is then unchanged.
int read_file_box(window dialog)
{
    char name[FILE_BOX_BYTES];
    int n = get_item_text(dialog, IDC_FILE_BOX, name, sizeof name);
    if (n >= int(sizeof app.capture_file_name)) {
        message_box(nullptr, ui_text("Filename too long"), APP_CAPTION, MB_OK);
        return -1;
    }
    copy_text(app.capture_file_name, sizeof app.capture_file_name, name);
    return 0;
}

void requeue_or_die(wave_header* header)
{
    unsigned code = wave_in_add_buffer(app.capture_ring.device, header, sizeof *header);
    if (code != MMSYSERR_NOERROR)
        fatal_wave_in_error(code);
}

} // namespace

void draw_meter()
{
    draw_level_bars(bar_length(app.current_level[0]), bar_length(app.current_level[1]),
                    bar_length(app.previous_level[0]), bar_length(app.previous_level[1]));
}

void on_record(window dialog)
{
    // Monitor and the signal sampling hold the input ring: a press that
    // reaches us then would open it a second time.
    if (app.monitoring || app.signal_waiting)
        return;
    if (app.recording) {
        show_record_idle(dialog);
        if (end_capture() != 0)
            api_failure("end_capture");
        return;
    }
    enable_item(dialog, CMD_CHANGE, false);
    enable_item(dialog, CMD_SELECT, false);
    enable_item(dialog, CMD_MONITOR, false);
    set_item_text(dialog, CMD_RECORD, "Stop");
    if (read_file_box(dialog) != 0) {
        show_record_idle(dialog);
        return;
    }
    // The directory of the file this recording writes, not of the last one.
    take_capture_directory();
    read_buffer_size_box(dialog);
    read_buffer_count_box(dialog);
    app.take_recording = 0;
    if (start_capture(app.capture_file_name, record_buffer_callback) != 0)
        show_record_idle(dialog);
}

void on_monitor(window dialog)
{
    if (app.signal_waiting) {
        post_message(dialog, WM_COMMAND, make_wparam(CMD_SIGNAL_RECORD, 0), 0);
        return;
    }
    if (app.monitoring) {
        stop_monitor();
        set_item_text(dialog, CMD_MONITOR, "Monitor");
        set_item_text(dialog, IDC_STATUS, ui_text("Idle"));
        enable_item(dialog, CMD_RECORD, true);
        return;
    }
    if (start_monitor() != 0)
        return;
    set_item_text(dialog, CMD_MONITOR, "Stop");
    set_item_text(dialog, IDC_STATUS, ui_text("Monitoring VU Levels"));
    enable_item(dialog, CMD_RECORD, false);
}

void on_bias_adjust(window dialog)
{
    app.bias_adjusting = 1;
    app.bias_buffer_count = 0;
    app.bias_level[0] = app.bias_level[1] = BIAS_START;
    app.bias_sum[0] = app.bias_sum[1] = BIAS_START;
    post_message(dialog, WM_COMMAND, make_wparam(CMD_MONITOR, 0), 0);
}

msg_result on_bias_ready(window dialog)
{
    for (int c = 0; c < 2; ++c) {
        app.bias_level[c] = uint16_t(app.bias_level[c] + BIAS_MARGIN);
        app.signal_threshold[c] = app.bias_level[c];
    }
    format_text(app.status_text, sizeof app.status_text, ui_text("Bias level left:%d right:%d"), app.bias_level[0],
                app.bias_level[1]);
    set_item_text(dialog, IDC_STATUS, app.status_text);
    char text[16];
    format_text(text, sizeof text, "L: %d", app.bias_level[0]);
    set_item_text(dialog, IDC_BIAS_LEFT, text);
    format_text(text, sizeof text, "R: %d", app.bias_level[1]);
    set_item_text(dialog, IDC_BIAS_RIGHT, text);
    return 1;
}

void on_monitor_buffer(window dialog, wave_header* header)
{
    if (!app.monitoring || !returned_by_ring(header))
        return;
    if (header->bytes_recorded > 0) {
        app.previous_level[0] = app.current_level[0];
        app.previous_level[1] = app.current_level[1];
        measure_levels(header->data, header->bytes_recorded, &app.current_level[0], &app.current_level[1]);
        draw_meter();
        if (app.bias_adjusting) {
            // The sums are wide: 32 buffers of a loud input would wrap 16 bits
            // and give a bias far below the signal. Where they do not wrap,
            // the result is the same as a 16-bit sum's.
            for (int c = 0; c < 2; ++c)
                app.bias_sum[c] += uint32_t(app.current_level[c]);
            ++app.bias_buffer_count;
            if (app.bias_buffer_count >= BIAS_BUFFERS) {
                for (int c = 0; c < 2; ++c)
                    app.bias_level[c] = uint16_t((app.bias_sum[c] + BIAS_ROUNDING) / app.bias_buffer_count);
                app.bias_adjusting = 0;
                post_message(dialog, WM_COMMAND, make_wparam(CMD_MONITOR, 0), 0);
                post_message(dialog, MSG_BIAS_READY, 0, 0);
            }
        }
    }
    requeue_or_die(header);
}

msg_result on_capture_stalled(window dialog)
{
    // A buffer may have come since the watch looked, or the recording ended.
    if (app.recording && capture_stalled()) {
        end_capture();
        if (!app.recording) {
            if (app.take_recording)
                stop_auto_track_after_short_write(dialog);
            else
                show_record_idle(dialog);
            message_box(dialog,
                        ui_text("The sound device stopped delivering sound: the sound server ended, or the card "
                                "was unplugged.\nThe recording was stopped; what was recorded is kept."),
                        APP_CAPTION, MB_OK | MB_ICONWARNING);
        }
    }
    // Only now: a device that would not stop is tried again at the next
    // look, and no second notice arrives while this one's box is open.
    capture_watch_acknowledge();
    return 1;
}

void on_record_buffer(window dialog, wave_header* header)
{
    const uint32_t s = get_tick_count() / 1000 - app.record_start_tick / 1000;
    if (!app.recording || !returned_by_ring(header))
        return;
    // A recording of the Record button moves the meter as a take does (a
    // take measures its own buffers), so that clipping shows while the side
    // is recorded; "lev" below shows this buffer's level.
    if (!app.take_recording && header->bytes_recorded > 0) {
        app.previous_level[0] = app.current_level[0];
        app.previous_level[1] = app.current_level[1];
        measure_levels(header->data, header->bytes_recorded, &app.current_level[0], &app.current_level[1]);
        draw_meter();
    }

    // A failed free-space query is told after this buffer is in the file:
    // the box must not hold the buffer back while later ones are handled.
    unsigned free_space_error = 0;
    bool free_space_failed = false;
    if (s != app.status_second) {
        app.status_second = s;
        uint64_t free_bytes = 0;
        if (!disk_free_bytes(nullptr, &free_bytes)) {
            free_space_failed = true;
            free_space_error = get_last_error();
            free_bytes = 0;
        }
        char line[STATUS_LINE_BYTES];
        format_text(line, sizeof line, ui_text("%9ld Kbytes, %4ld min, %2ld secs. %ld MB Free lev%d ScEnd%d "),
                    long(app.data_bytes_written >> 10), long(s / 60), long(s % 60), long(free_bytes >> 20),
                    int(app.current_level[0]), int(app.silence_countdown));
        if (app.silence_countdown < app.silence_countdown_max)
            ++app.silence_countdown;
        set_item_text(dialog, IDC_STATUS, line);
    }

    const record_write_result written = write_record_buffer(header);
    const bool at_size_limit = written == RECORD_AT_SIZE_LIMIT;
    if (!app.signal_waiting && written != RECORD_WRITTEN) {
        // The disk is full (or the file at its largest): the recording ends
        // here, its file finished. The user is told, and the dialog goes back
        // to Idle; a "Stop" left showing would start a new recording over
        // the file just kept.
        end_capture();
        if (app.recording)
            return;   // the device would not stop: the next buffer tries again
        if (app.take_recording)
            stop_auto_track_after_short_write(dialog);
        else
            show_record_idle(dialog);
        message_box(dialog,
                    at_size_limit ? ui_text("The file has reached the largest size a WAV file can hold.\n"
                                            "The recording was stopped; what was recorded is kept.")
                                  : ui_text("The recording file could not be written: the disk may be full.\n"
                                            "The recording was stopped; what was recorded is kept."),
                    APP_CAPTION, MB_OK | MB_ICONWARNING);
    } else {
        requeue_or_die(header);
    }
    if (free_space_failed) {
        set_last_error(free_space_error);
        api_failure(app.capture_directory);
    }
}
