// The wave-input ring: the device's parameters and formats, the device and
// its 32 buffer headers. One instance, capture_ring, lives in AppState.
#pragma once
#include <cstdint>
#include "platform/audio_format.h"
#include "platform/sound/sound.h"

constexpr int CAPTURE_RING_HEADERS = 32;

struct CaptureBufferRing {
    int32_t sample_rate;        // frames per second for a PCM open
    int8_t bits_per_sample;     // sample size for a PCM open
    uint32_t buffer_bytes;      // length of every buffer (bytes)
    int8_t buffer_count;        // buffers in use, at most 32; <= 0 means none
    int8_t channels;            // channel count for a PCM open
    format_area capture_format; // the PCM format the device is opened with
    format_area chosen_format;  // the user's format (all zeros until chosen)
    wave_in device;             // null while closed
    wave_header headers[CAPTURE_RING_HEADERS];
};

// Stores the parameters of the next open. 0 for channels, bits or rate takes
// the value from chosen_format; a count above 32 is stored as 32.
void set_capture_params(CaptureBufferRing* ring, int channels, int bits, int rate,
                        uint32_t buffer_bytes, int count);
// Opens the default input device with a PCM format built from the parameters
// and allocates the buffers. 0, or -1 after any report.
int open_wave_in(CaptureBufferRing* ring, wave_callback callback);
// Opens the device in the PCM format from which chosen_format is made.
int open_wave_in_suggested(CaptureBufferRing* ring, wave_callback callback);
int start_sampling(CaptureBufferRing* ring);   // prepare, queue every buffer, start
int stop_sampling(CaptureBufferRing* ring);    // stop, return every queued buffer
int close_wave_in(CaptureBufferRing* ring);    // unprepare, free, close

// Failure reports shared by every capture routine.
void wave_in_error(unsigned code);               // "WaveIn Error" box, program goes on
[[noreturn]] void fatal_wave_in_error(unsigned code); // box, then the process ends with 1
// A recording the run ends without a proper end_capture (the process is
// going, the device would not stop): the audio already in the capture file
// keeps its place, under true sizes, and the file is closed.
void finish_capture_file();
void api_failure(const char* name);              // "Fatal Error" box, program goes on

// Test hook: the sample-memory allocation after `blocks` more successful ones
// fails (once); -1 turns it off.
void capture_ring_fail_alloc_after(int blocks);
