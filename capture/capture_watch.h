// The watch over a running recording: a device that stops delivering (a
// sound server that ended, a USB card pulled out) is noticed, and the main
// dialog is told with MSG_CAPTURE_STALLED, so the recording can end.
//
// Threads: capture_watch_delivered runs on the device's thread, the watch's
// own check on the timer's thread; everything else on the dialog's thread.
#pragma once
#include <cstdint>

// How long the open ring may go without a buffer before its device counts
// as stopped, in ms of the program's clock: twice the time one buffer takes
// to fill, but at least 1 s once buffers come, and at least 3 s before the
// first one (a device's first buffers may come late). 3 s without a ring.
uint32_t capture_stall_limit_ms(bool delivering);

// From the start of a recording (start_capture) to its end (end_capture).
void start_capture_watch();
void stop_capture_watch();
// Device thread: the ring has handed a filled buffer back.
void capture_watch_delivered();
// Whether the recording's device has delivered nothing for longer than its limit.
bool capture_stalled();
// The dialog has handled MSG_CAPTURE_STALLED: the watch may post it again
// while the device still delivers nothing (its stop had failed).
void capture_watch_acknowledge();
