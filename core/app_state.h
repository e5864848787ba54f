// The one record of the program's state: settings, constants, mode flags,
// run-time values and handles of the shell, and the subsystems' groups.
// Every field starts at its default; app_state_reset() puts them back (tests).
// Memory blocks kept to the end of the run (view_points, work_area,
// play_buffers, view_rows) come from std::calloc; release_resources frees them.
#pragma once
#include <cstdint>
#include "platform/audio_format.h"
#include "platform/window/window.h"
#include "platform/sound/sound.h"
#include "platform/acm/acm.h"
#include "platform/file/file.h"
#include "platform/file/riff.h"
#include "capture/capture_state.h"
#include "clean/clean_state.h"
#include "playback/preview_state.h"
#include "ui/display_state.h"

// Each subsystem's fields are its own struct, declared in its folder; they
// are bases, so every field is still reached as app.<field>.
struct AppState : CaptureState, CleanState, PreviewState, DisplayState {
    // Each field: its unit or range, then who writes it. "Dialog" is app/ on
    // the dialog's thread; the batch tool writes the settings as the dialog
    // does, from its options.

    // --- user settings (read from the dialog's boxes at the moment of use)
    char capture_file_name[256] = "./wavecap.wav"; // box 66, UTF-8 path; dialog (Change..., box),
                                                   // capture/ (save dialog), process_track (take name)
    char track_name[128] = "track0.wav";           // next track file's name, UTF-8; dialog (track_naming.cpp)
    int32_t track_digit_pos = 5;                   // byte index of the counter's first digit, -1 for none;
                                                   // track_naming.cpp, track_choice.cpp
    int8_t track_chosen = 0;                       // track_name is a track the user chose: passes clean it as
                                                   // named; track_choice.cpp, cleared by Change... and a take
    uint32_t record_buffer_bytes = 8192;           // box 69 (bytes); number_boxes.cpp
    int32_t num_buffers = 5;                       // box 68 (buffers in the ring); number_boxes.cpp
    int32_t intro_max_seconds = 10;                // box 1025 (s), 0..55; number_boxes.cpp
    int16_t filter_threshold = 11;                 // box 1014, DeClicker window (frames) 1..45; number_boxes.cpp,
                                                   // the DeClicker's wide pass (45 while it runs)
    int16_t ac_sinus_freq = 50;                    // box 1019 (Hz); number_boxes.cpp
    uint16_t signal_threshold[2] = {300, 300};     // left, right level (0..32767) that counts as signal; BiasAdjust
    uint16_t bias_level[2] = {300, 300};           // left, right measured noise level (0..32767); BiasAdjust

    // --- constants kept in the record (never written)
    int16_t level_full_value = 32767;              // level (sample units) that fills a bar
    uint32_t sampling_buffer_bytes = 1024;         // signal-sampling buffer (bytes; low 16 bits used)
    int32_t silence_countdown_base = 44100;        // countdown starts at this >> 9 = 86 (buffers)
    int32_t silence_countdown_max = 43;            // once-a-second raise stops here (buffers)
    int16_t play_buffer_blocks = 128;              // record buffers per playback buffer

    // --- mode flags (clear at start-up; 0 or 1 unless said)
    int32_t monitoring = 0;        // Monitor ring runs; capture_control.cpp, auto_track.cpp
    int32_t recording = 0;         // a capture is being written (Record or a take); capture_control.cpp
    int32_t signal_waiting = 0;    // SignalRecord armed; auto_track.cpp
    int32_t format_chosen = 0;     // the user has been through the format chooser; dialog, capture_control.cpp
    int8_t track_open = 0;         // a cleaned track is open ("Close track"); dialog
    int32_t track_open_button = 0; // control id of the cleaning button that shows "Close track", 0 when none; dialog
    char track_open_caption[40] = "";   // that button's caption before (UTF-8), given back at Close track; dialog
    int8_t playback_paused = 0;    // playback paused; dialog (Pause), playback.cpp
    int32_t bias_adjusting = 0;    // BiasAdjust measuring; capture_modes.cpp
    int8_t track_phase = 0;        // 0 Intro, 1 WaitSilence; auto_track.cpp
    int8_t take_recording = 0;     // the capture being written is an auto-track take, not Record's;
                                   // auto_track.cpp, capture_modes.cpp

    // --- run-time values of the shell (dialog's thread)
    int32_t current_level[2] = {0, 0};   // last measured levels (left, right), 0..32768; capture_modes.cpp, auto_track.cpp
    int32_t previous_level[2] = {0, 0};  // the levels before them, same unit and writers
    uint16_t bias_buffer_count = 0;      // BiasAdjust buffers summed so far; capture_modes.cpp
    uint32_t bias_sum[2] = {0, 0};       // BiasAdjust's level sums (left, right), wide enough for 32 loud buffers; BiasAdjust
    uint32_t signal_buffer_count = 0;    // signal-sampling buffers since arming; auto_track.cpp, capture_control.cpp
    int8_t blink_on = 0;                 // WaitSignal blink state (0 or 1); auto_track.cpp
    uint8_t track_buffer_parity = 0;     // a take buffer is measured only while even; auto_track.cpp, dialog (set-up)
    int32_t silence_countdown = 0;       // silence budget of a take (buffers); auto_track.cpp, capture_control.cpp
    uint32_t signal_wait_tick = 0;       // clock tick (ms) when SignalRecord armed; auto_track.cpp
    uint32_t status_second = 0;          // seconds of capture last shown; capture_modes.cpp
    uint32_t record_start_tick = 0;      // clock tick (ms) at the start of a capture; capture_control.cpp
    uint32_t data_bytes_written = 0;     // bytes appended to the data chunk; wav_writer.cpp, capture_control.cpp
    uint32_t last_write_count = 0;       // bytes the last append actually wrote; wav_writer.cpp

    // --- texts (UTF-8, always terminated)
    char capture_directory[256] = "";    // capture file's directory with trailing '/'; capture_modes.cpp
    char status_text[128] = "";          // scratch line for the status line; dialog
    char result_text[96] = "";           // line a cleaning pass leaves for the status line; clean/, playback.cpp
    char signal_button_caption[16] = ""; // SignalRecord's caption, saved at set-up; dialog

    // --- handles owned by the shell (dialog; released by release_resources)
    window main_dialog = nullptr;        // the main dialog while it runs; dialog (set-up)
    window status_control = nullptr;     // control 70; dialog (set-up)
    window signal_button = nullptr;      // control 92; dialog (set-up)
    window_proc signal_button_proc = nullptr; // SignalRecord's procedure before subclassing; dialog (set-up)
    font dialog_font = nullptr;          // borrowed from the dialog, never deleted; dialog (set-up)
    font underlined_font = nullptr;      // the blinking SignalRecord's font; dialog (set-up)
    gdi bar_erase_pen = nullptr;         // level bars' pens; create_display_pens, freed at Exit
    gdi bar_low_pen = nullptr;
    gdi bar_high_pen = nullptr;
    gdi play_wave_pen = nullptr;         // the wave view's line; create_display_pens
    gdi level_low_brush = nullptr;       // the dial's wedges; create_display_brushes
    gdi level_mid_brush = nullptr;
    gdi level_high_brush = nullptr;
    rect signal_button_rect = {0, 0, 0, 0}; // SignalRecord's client rectangle (pixels), taken at its first erase; dialog

    // --- About box link (ui/about.cpp)
    window link_control = nullptr;       // the link's static control while the box is open
    window_proc static_base_proc = nullptr; // a static's own procedure, before the link's subclass
    font link_font = nullptr;            // the underlined font the link shows in
};

extern AppState app;

// Puts every field back to its default (tests; the program starts with them).
void app_state_reset();
