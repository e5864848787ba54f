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
    // --- user settings (read from the dialog's boxes at the moment of use)
    char capture_file_name[256] = "./wavecap.wav"; // box 66; the file Record writes
    char track_name[128] = "track0.wav";           // next track file's name
    int32_t track_digit_pos = 5;                   // index of the counter character, -1 for none
    int8_t track_chosen = 0;                       // track_name is a track the user chose: passes clean it as named
    uint32_t record_buffer_bytes = 8192;           // box 69 (bytes)
    int32_t num_buffers = 5;                       // box 68 (buffers)
    int32_t intro_max_seconds = 10;                // box 1025 (s), 0..55
    int16_t filter_threshold = 11;                 // box 1014, DeClicker window 1..45
    int16_t ac_sinus_freq = 50;                    // box 1019 (Hz), stored only
    uint16_t signal_threshold[2] = {300, 300};     // left, right level that counts as signal
    uint16_t bias_level[2] = {300, 300};           // left, right measured noise level

    // --- constants kept in the record (never written)
    int16_t level_full_value = 32767;              // level that fills a bar
    uint32_t sampling_buffer_bytes = 1024;         // signal-sampling buffer (low 16 bits used)
    int32_t silence_countdown_base = 44100;        // countdown starts at this >> 9 = 86
    int32_t silence_countdown_max = 43;            // once-a-second raise stops here
    int16_t play_buffer_blocks = 128;              // blocks per playback buffer

    // --- mode flags (clear at start-up)
    int32_t monitoring = 0;        // Monitor ring runs
    int32_t recording = 0;         // a capture is being written (Record or a take)
    int32_t signal_waiting = 0;    // SignalRecord armed
    int32_t format_chosen = 0;     // the user has been through the format chooser
    int8_t track_open = 0;         // a cleaned track is open ("Close track")
    int32_t track_open_button = 0; // the cleaning button that shows "Close track" (its id), 0 when none
    char track_open_caption[40] = "";   // that button's caption before, given back at Close track
    int8_t playback_paused = 0;    // playback paused
    int32_t bias_adjusting = 0;    // BiasAdjust measuring
    int8_t track_phase = 0;        // 0 Intro, 1 WaitSilence
    int8_t take_recording = 0;     // the capture being written is an auto-track take, not Record's

    // --- run-time values of the shell
    int32_t current_level[2] = {0, 0};   // last measured levels (left, right), 0..32768
    int32_t previous_level[2] = {0, 0};  // the levels before them
    uint16_t bias_buffer_count = 0;      // BiasAdjust buffers summed so far
    uint32_t signal_buffer_count = 0;    // signal-sampling buffers since arming
    int8_t blink_on = 0;                 // WaitSignal blink state
    uint8_t track_buffer_parity = 0;     // a take buffer is measured only while even
    int32_t silence_countdown = 0;       // silence budget of a take
    uint32_t signal_wait_tick = 0;       // tick (ms) when SignalRecord armed
    uint32_t status_second = 0;          // seconds of capture last shown
    uint32_t record_start_tick = 0;      // tick (ms) at the start of a capture
    uint32_t data_bytes_written = 0;     // bytes appended to the data chunk
    uint32_t last_write_count = 0;       // bytes the last append actually wrote

    // --- texts
    char capture_directory[256] = "";    // capture file's directory with trailing '/'
    char status_text[128] = "";          // scratch line for the status line
    char result_text[96] = "";           // line a cleaning pass leaves for the status line
    char signal_button_caption[16] = ""; // SignalRecord's caption, saved at set-up

    // --- handles owned by the shell
    window main_dialog = nullptr;
    window status_control = nullptr;     // control 70
    window signal_button = nullptr;      // control 92
    window_proc signal_button_proc = nullptr; // SignalRecord's procedure before subclassing
    font dialog_font = nullptr;          // borrowed from the dialog, never deleted
    font underlined_font = nullptr;
    gdi bar_erase_pen = nullptr;
    gdi bar_low_pen = nullptr;
    gdi bar_high_pen = nullptr;
    gdi play_wave_pen = nullptr;
    gdi level_low_brush = nullptr;
    gdi level_mid_brush = nullptr;
    gdi level_high_brush = nullptr;
    rect signal_button_rect = {0, 0, 0, 0};

    // --- About box link
    window link_control = nullptr;
    window_proc static_base_proc = nullptr;
    font link_font = nullptr;
};

extern AppState app;

// Puts every field back to its default (tests; the program starts with them).
void app_state_reset();
