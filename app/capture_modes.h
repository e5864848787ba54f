// The capture modes: Record, Monitor, BiasAdjust, the buffers that devices
// return, and auto-track (SignalRecord). All run on the dialog's thread.
#pragma once
#include <cstdint>
#include "platform/window/window.h"
#include "platform/sound/sound.h"
#include "capture/record_path.h"

// The level bars from current_level and previous_level.
void draw_meter();

void on_record(window dialog);                  // command 1
void on_monitor(window dialog);                 // command 82
void on_bias_adjust(window dialog);             // command 1007
msg_result on_bias_ready(window dialog);        // MSG_BIAS_READY
void on_monitor_buffer(window dialog, wave_header* header);   // MSG_MONITOR_BUFFER
void on_record_buffer(window dialog, wave_header* header);    // MSG_RECORD_BUFFER: the write path
// MSG_CAPTURE_STALLED: the device stopped delivering; the recording ends as
// on a full disk, its file finished, and the user is told.
msg_result on_capture_stalled(window dialog);

void on_signal_record(window dialog);           // command 92
msg_result on_signal_armed(window dialog);      // MSG_SIGNAL_ARMED
void on_signal_buffer(window dialog, wave_header* header);    // MSG_SIGNAL_BUFFER
void on_track_buffer(window dialog, wave_header* header);     // MSG_TRACK_BUFFER
// A take that a short write ended: its file is kept under its name, the
// track counter moves on and auto-track stops (the dialog shows Idle).
void stop_auto_track_after_short_write(window dialog);
