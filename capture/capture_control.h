// Moving the one wave-input ring between Monitor, signal sampling and
// recording, and owning the capture file while a recording runs.
#pragma once
#include "platform/window/window.h"
#include "platform/sound/sound.h"

int start_monitor();
int start_signal_sampling(window dialog);
int stop_monitor();
int start_capture(const char* file_name, wave_callback callback);
int end_capture();

// The device callbacks: each posts its command to the main dialog.
void record_buffer_callback(void* device, unsigned message, uintptr_t instance, uintptr_t p1, uintptr_t p2);
void monitor_buffer_callback(void* device, unsigned message, uintptr_t instance, uintptr_t p1, uintptr_t p2);
void track_buffer_callback(void* device, unsigned message, uintptr_t instance, uintptr_t p1, uintptr_t p2);
void signal_buffer_callback(void* device, unsigned message, uintptr_t instance, uintptr_t p1, uintptr_t p2);
