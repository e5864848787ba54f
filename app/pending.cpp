// Routines whose subsystems are not built yet. Each does nothing visible and
// reports failure where it has a result, so the dialog's commands that call
// them leave everything as it was. A subsystem that brings the real routine
// removes its line here in the same change.
#include <cstdlib>
#include "app/app_state.h"
#include "app/capture_modes.h"
#include "capture/capture_ring.h"
#include "capture/compression.h"
#include "capture/wav_writer.h"
#include "capture/capture_control.h"
#include "clean/process_track.h"
#include "playback/displays.h"
#include "playback/playback.h"
#include "ui/about.h"

// capture start and stop
int start_monitor() { return -1; }
int start_signal_sampling(window) { return -1; }
int stop_monitor() { return -1; }
int start_capture(const char*, wave_callback) { return -1; }
int end_capture() { return 0; }
void record_buffer_callback(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}
void monitor_buffer_callback(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}
void track_buffer_callback(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}
void signal_buffer_callback(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}
void playback_done_callback(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}

// capture modes and auto-track
void measure_levels(const uint8_t*, uint32_t, int32_t* left, int32_t* right) { *left = *right = 0; }
void on_record(window) {}
void on_monitor(window) {}
void on_bias_adjust(window) {}
msg_result on_bias_ready(window) { return 1; }
void on_monitor_buffer(window, wave_header*) {}
void on_record_buffer(window, wave_header*) {}
void on_signal_record(window) {}
msg_result on_signal_armed(window) { return 1; }
void on_signal_buffer(window, wave_header*) {}
void on_track_buffer(window, wave_header*) {}

// playback
int open_wave_out(PlaybackRecord*, wave_callback) { return -1; }
int32_t start_playback() { return -1; }
void on_playback_done(wave_header*) {}
void on_playback_refill() {}
void restart_play_timer() {}
void kill_play_timer() {}
