// The capture modes: Record, Monitor, BiasAdjust, the buffers that devices
// return, and auto-track (SignalRecord). All run on the dialog's thread.
#pragma once
#include <cstdint>
#include "platform/window/window.h"
#include "platform/sound/sound.h"

void measure_levels(const uint8_t* buffer, uint32_t length, int32_t* left, int32_t* right);
// The level bars from current_level and previous_level.
void draw_meter();
// The header belongs to the running ring and the device has given it back
// (a stopped ring's late message for a header queued again is not).
bool returned_by_ring(const wave_header* header);

void on_record(window dialog);                  // command 1
void on_monitor(window dialog);                 // command 82
void on_bias_adjust(window dialog);             // command 1007
msg_result on_bias_ready(window dialog);        // MSG_BIAS_READY
void on_monitor_buffer(window dialog, wave_header* header);   // 83
void on_record_buffer(window dialog, wave_header* header);    // 71: the write path

void on_signal_record(window dialog);           // command 92
msg_result on_signal_armed(window dialog);      // MSG_SIGNAL_ARMED
void on_signal_buffer(window dialog, wave_header* header);    // 85
void on_track_buffer(window dialog, wave_header* header);     // 84
// A take that a short write ended: its file is kept under its name, the
// track counter moves on and auto-track stops (the dialog shows Idle).
void stop_auto_track_after_short_write(window dialog);
