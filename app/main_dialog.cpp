// The main dialog: everything the user does and every event a device posts
// arrives here, on the dialog's thread, and is handed to its routine.
#include "app/main_dialog.h"

#include <cstdio>
#include <cstring>
#include "core/app_state.h"
#include "app/capture_modes.h"
#include "core/ids.h"
#include "app/number_boxes.h"
#include "app/text.h"
#include "app/track_choice.h"
#include "res/ui_text.h"
#include "app/track_naming.h"
#include "capture/capture_ring.h"
#include "capture/compression.h"
#include "capture/capture_control.h"
#include "capture/wav_writer.h"
#include "clean/process_track.h"
#include "clean/track_io.h"
#include "ui/displays.h"
#include "playback/playback.h"
#include "ui/about.h"

namespace {

void show_unsigned(window dialog, int id, uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    set_item_text(dialog, id, text);
}

// --- set-up ----------------------------------------------------------------

msg_result on_init_dialog(window dialog, const char* track)
{
    app.main_dialog = dialog;
    app.track_buffer_parity = 0;
    create_display_pens();

    set_item_text(dialog, IDC_FILE_BOX, app.capture_file_name);
    // Without a sound card the demo record plays into the input instead.
    set_item_text(dialog, IDC_STATUS,
                  ui_text(sound_demo_input() ? "No sound card - recording from the demo record" : "Idle"));
    show_unsigned(dialog, IDC_THRESHOLD, uint16_t(app.filter_threshold));
    show_unsigned(dialog, IDC_AC_FREQ, uint16_t(app.ac_sinus_freq));
    show_unsigned(dialog, IDC_INTRO_MAX, uint32_t(app.intro_max_seconds));

    app.status_control = dialog_item(dialog, IDC_STATUS);
    app.signal_button = dialog_item(dialog, CMD_SIGNAL_RECORD);
    // The dial's and the view's rectangles, and the view's height, width and scale.
    set_view_geometry(dialog);

    app.signal_button_proc = subclass_window(app.signal_button, signal_button_wnd_proc);
    get_window_text(app.signal_button, app.signal_button_caption, sizeof app.signal_button_caption);
    app.dialog_font = get_window_font(app.signal_button);
    app.underlined_font = create_underlined_font(app.dialog_font);

    create_display_brushes();
    set_bar_geometry(dialog);

    show_unsigned(dialog, IDC_BUFFER_COUNT, uint32_t(app.num_buffers));
    show_unsigned(dialog, IDC_BUFFER_SIZE, app.record_buffer_bytes);
    show_unsigned(dialog, IDC_PLAY_BUFFER, uint32_t(app.play_buffer_blocks) * app.record_buffer_bytes);

    enable_item(dialog, CMD_PLAY, false);
    enable_item(dialog, CMD_PAUSE, false);
    // The track named on the command line is taken as a drop once the
    // dialog runs, so a refusal's box shows over the window, not before it.
    if (track)
        post_message(dialog, WM_DROPFILES, 0, lparam(track));
    return 0;   // no initial focus of our own
}

// --- button colours -----------------------------------------------------------

msg_result on_button_colors(window dialog, dc d, window button)
{
    if (!app.signal_button)
        return 0;
    if (control_id(button) == CMD_PLAY) {
        set_text_color(d, rgb(0, 255, 0));
        return msg_result(app.level_mid_brush);
    }
    if (button == app.signal_button && app.signal_buffer_count % 128 == 0) {
        gdi brush;
        if (app.signal_buffer_count != 0 && app.blink_on) {
            set_bk_color(d, rgb(127, 127, 127));
            brush = stock_object(LTGRAY_BRUSH);
        } else {
            set_bk_color(d, rgb(255, 0, 255));
            brush = app.level_mid_brush;
        }
        set_text_color(d, rgb(255, 255, 255));
        return msg_result(brush);
    }
    return 0;
}

// --- commands of the dialog ---------------------------------------------------

msg_result on_exit(window dialog)
{
    // The preview stops before the dialog goes: neither its device nor its
    // view timer may reach a dialog that has ended.
    stop_playback();
    if (app.recording && end_capture() != 0) {
        api_failure("end_capture");
        // The device would not stop, but the run ends here all the same.
        finish_capture_file();
    }
    delete_object(app.bar_erase_pen);
    delete_object(app.bar_low_pen);
    delete_object(app.bar_high_pen);
    app.bar_erase_pen = app.bar_low_pen = app.bar_high_pen = nullptr;
    end_dialog(dialog, 0);
    return 1;
}

void on_change(window dialog)
{
    char earlier[sizeof app.capture_file_name];
    std::memcpy(earlier, app.capture_file_name, sizeof earlier);
    if (!choose_capture_file())
        return;
    accept_capture_file_name(dialog, earlier);
}

void on_select()
{
    if (choose_format(&app.capture_ring) == 0)
        app.format_chosen = 1;
}

void on_play(window dialog)
{
    if (!app.track_in)
        return;
    if (!app.play_device && wave_out_get_num_devs() == 0) {
        // The cleaned file is there; only hearing it needs a device.
        format_text(app.status_text, sizeof app.status_text, ui_text("No sound output device - %s cannot be played"),
                    app.cleaned_file_name);
        set_item_text(dialog, IDC_STATUS, app.status_text);
        return;
    }
    const int32_t started = start_playback();
    if (started < 0) {
        if (started == PLAYBACK_NO_MEMORY) {
            message_box(nullptr, ui_text("Critical memory error"), MEMORY_ERROR_CAPTION, MB_OK);
            post_message(dialog, WM_CLOSE, 0, 0);
        }
        return;
    }
    enable_item(dialog, CMD_RECORD, false);
    enable_item(dialog, CMD_PLAY, false);
    enable_item(dialog, CMD_PAUSE, true);
    begin_playback();   // writes the first buffer, prepares the second
}

void on_pause(window dialog)
{
    if (!app.play_device)
        return;
    if (!app.playback_paused) {
        wave_out_pause(app.play_device);
        app.playback_paused = 1;
        if (app.play_timer) {
            kill_play_timer();
            app.play_timer = 0;
        }
        set_item_text(dialog, CMD_PAUSE, ui_text("Restart"));
    } else {
        restart_play_timer();
        wave_out_restart(app.play_device);
        set_item_text(dialog, CMD_PAUSE, ui_text("Pause"));
        app.playback_paused = 0;
    }
}

// The cleaning buttons: one command in six variants, differing in the mode
// passed to process_track, the status text and, for DeClicker and DeNoiser,
// the caption they return to. While one of them shows "Close track" the
// others are disabled, so that the open track is closed where it was opened.
struct clean_variant {
    int own_id;
    int mode;
    const char* status_format;   // with the track's name for %s
    const char* closed_caption;  // null: the caption the button had before
};
const clean_variant clean_variants[] = {
    {CMD_DECLICKER, MODE_DECLICK, "declick processing  - file %s", "DeClicker"},
    {CMD_DENOISER, MODE_DENOISE, "denoise processing  - file %s", "DeNoiser"},
    {CMD_AC_SINUS_REMOVE, MODE_DEHUM, "dehum processing  - file %s", nullptr},
    {CMD_MONO_STEREO, MODE_MONO_STEREO, "mono processing  - file %s", nullptr},
    {CMD_FADE_OUT, MODE_FADE_OUT, "fadeout processing  - file %s", nullptr},
    {CMD_FILTER_EX, MODE_FILTER_EX, "filterex processing  - file %s", nullptr},
};

void enable_other_cleaning(window dialog, const clean_variant& v, bool enable)
{
    for (const clean_variant& other : clean_variants)
        if (other.own_id != v.own_id)
            enable_item(dialog, other.own_id, enable);
}

// A pass would read a track whose file a running capture (Record or a
// take) is still writing: it is refused before anything is read or
// written, and the status line says why. True when refused.
bool refuse_while_capturing(window dialog)
{
    if (!app.recording)
        return false;
    set_item_text(dialog, IDC_STATUS, ui_text("Recording - stop it before cleaning a track"));
    return true;
}

void on_clean(window dialog, const clean_variant& v)
{
    if (!app.track_open) {
        if (refuse_while_capturing(dialog))
            return;
        // The restoration buttons take the AC sinus Freq as well.
        if (v.mode >= MODE_DEHUM)
            read_ac_freq_box(dialog);
        read_threshold_box(dialog);
        char counter_before[sizeof app.track_name];
        copy_text(counter_before, sizeof counter_before, app.track_name);
        // The pass works on the last track recorded, or on the track the
        // user chose, as it is named.
        if (!app.track_chosen)
            step_back_track_counter();
        format_text(app.status_text, sizeof app.status_text, ui_text(v.status_format), app.track_name);
        app.track_open = 1;
        app.track_open_button = v.own_id;
        get_window_text(dialog_item(dialog, v.own_id), app.track_open_caption, sizeof app.track_open_caption);
        const int32_t result = process_track(dialog, app.track_name, v.mode);
        if (result == 0)
            open_preview(app.cleaned_file_name);
        if (!app.track_chosen)
            advance_track_counter();
        set_item_text(dialog, IDC_STATUS, app.result_text);
        if (result != 0) {
            // Nothing was opened to preview or close: the dialog stays as it
            // was before the click, the counter on the same track, so the
            // user can mend the cause and press the button again.
            app.track_open = 0;
            copy_text(app.track_name, sizeof app.track_name, counter_before);
            return;
        }
        set_item_text(dialog, v.own_id, ui_text("Close track"));
        enable_item(dialog, CMD_PLAY, true);
        enable_item(dialog, CMD_PAUSE, true);
        enable_other_cleaning(dialog, v, false);
        return;
    }
    // Close track. A preview still playing stops first: its next buffers
    // would be read from the file closed here.
    stop_playback();
    close_preview();
    app.track_open = 0;
    enable_item(dialog, CMD_PLAY, false);
    enable_item(dialog, CMD_PAUSE, false);
    advance_track_counter();
    set_item_text(dialog, v.own_id, v.closed_caption ? v.closed_caption : app.track_open_caption);
    app.track_open_button = 0;
    enable_other_cleaning(dialog, v, true);
}

void on_clean_command(window dialog, unsigned id)
{
    for (const clean_variant& v : clean_variants)
        if (unsigned(v.own_id) == id)
            on_clean(dialog, v);
}

// A device or playback event: the wave header it carries, if any. One
// without a header is dropped.
msg_result on_device_event(window dialog, unsigned message, lparam lp)
{
    auto* header = reinterpret_cast<wave_header*>(lp);
    if (message == MSG_PLAYBACK_REFILL)
        on_playback_refill();
    else if (!header)
        return 0;
    else if (message == MSG_RECORD_BUFFER)
        on_record_buffer(dialog, header);
    else if (message == MSG_MONITOR_BUFFER)
        on_monitor_buffer(dialog, header);
    else if (message == MSG_TRACK_BUFFER)
        on_track_buffer(dialog, header);
    else if (message == MSG_SIGNAL_BUFFER)
        on_signal_buffer(dialog, header);
    else
        on_playback_done(header);
    return 0;
}

msg_result on_command(window dialog, unsigned id)
{
    switch (id) {
    case CMD_RECORD: on_record(dialog); break;
    case CMD_EXIT: return on_exit(dialog);
    case CMD_CHANGE: on_change(dialog); break;
    case CMD_SELECT: on_select(); break;
    case CMD_MIXER: launch_mixer(); break;
    case CMD_MONITOR: on_monitor(dialog); break;
    case CMD_PLAY: on_play(dialog); break;
    case CMD_PAUSE: on_pause(dialog); break;
    case CMD_ABOUT: show_about_box(); break;
    case CMD_SIGNAL_RECORD: on_signal_record(dialog); break;
    case CMD_DECLICKER:
    case CMD_DENOISER:
    case CMD_AC_SINUS_REMOVE:
    case CMD_MONO_STEREO:
    case CMD_FADE_OUT:
    case CMD_FILTER_EX: on_clean_command(dialog, id); break;
    case CMD_BIAS_ADJUST: on_bias_adjust(dialog); break;
    case CMD_FADE_IN:
        if (refuse_while_capturing(dialog))
            break;
        stop_playback();   // the run replaces the preview file being played
        format_text(app.status_text, sizeof app.status_text, ui_text("fade in processing  - file %s"), app.track_name);
        if (process_track(dialog, app.track_name, MODE_FADE_IN) == 0)
            open_preview(app.cleaned_file_name);
        set_item_text(dialog, IDC_STATUS, app.result_text);
        break;
    default: break;   // not one of ours
    }
    return 0;
}

} // namespace

int accept_capture_file_name(window dialog, const char* earlier_name)
{
    const char* refusal = nullptr;
    if (std::strlen(app.capture_file_name) < 2)
        refusal = "Filename too short";
    else if (derive_track_name() != 0)
        refusal = "Filename too long";
    if (refusal) {
        copy_text(app.capture_file_name, sizeof app.capture_file_name, earlier_name);
        message_box(nullptr, ui_text(refusal), APP_CAPTION, MB_OK);
        return -1;
    }
    copy_text(app.capture_file_name, sizeof app.capture_file_name, app.track_name);
    set_item_text(dialog, IDC_FILE_BOX, app.capture_file_name);
    app.track_chosen = 0;   // the tracks are the takes again
    return 0;
}

msg_result signal_button_wnd_proc(window w, unsigned message, wparam wp, lparam lp)
{
    if (message == WM_ERASEBKGND) {
        if (app.signal_button_rect.right == 0)
            get_client_rect(w, &app.signal_button_rect);
        invert_rect(reinterpret_cast<dc>(wp), &app.signal_button_rect);
        return 1;
    }
    return call_window_proc(app.signal_button_proc, w, message, wp, lp);
}

msg_result main_dialog_proc(window dialog, unsigned message, wparam wp, lparam lp)
{
    switch (message) {
    case WM_INITDIALOG: return on_init_dialog(dialog, reinterpret_cast<const char*>(lp));
    case WM_DROPFILES: choose_track(dialog, reinterpret_cast<const char*>(lp)); return 1;
    case WM_COMMAND: return on_command(dialog, loword(wp));
    case WM_CTLCOLORBTN: return on_button_colors(dialog, reinterpret_cast<dc>(wp), reinterpret_cast<window>(lp));
    case MSG_SIGNAL_ARMED: return on_signal_armed(dialog);
    case MSG_BIAS_READY: return on_bias_ready(dialog);
    case MSG_PREVIEW_FRAME: return on_preview_frame(dialog, wp);
    case MSG_RECORD_BUFFER:
    case MSG_MONITOR_BUFFER:
    case MSG_TRACK_BUFFER:
    case MSG_SIGNAL_BUFFER:
    case MSG_PLAYBACK_DONE:
    case MSG_PLAYBACK_REFILL: return on_device_event(dialog, message, lp);
    case MSG_CAPTURE_STALLED: return on_capture_stalled(dialog);
    default: return 0;
    }
}
