// The per-buffer write path of a recording: the level of a buffer, whether a
// header is the running ring's, and a recorded buffer converted into the file.
//
// Threads: the dialog's thread (the device callbacks only post the buffers).
#pragma once
#include <cstdint>
#include "platform/sound/sound.h"

// The mean magnitude of every second frame of 16-bit stereo, per channel;
// 0 for a buffer without one whole measured frame.
void measure_levels(const uint8_t* buffer, uint32_t length, int32_t* left, int32_t* right);
// The header belongs to the running ring and the device has given it back
// (a stopped ring's late message for a header queued again is not).
bool returned_by_ring(const wave_header* header);

enum record_write_result {
    RECORD_WRITTEN = 0,        // the buffer went into the file whole
    RECORD_SHORT_WRITE,        // the file took less: the disk may be full
    RECORD_AT_SIZE_LIMIT,      // the buffer would carry the file past its 32-bit sizes
};
// Converts what the device recorded in `header` (never more than a record
// buffer) and appends it to the capture file.
record_write_result write_record_buffer(const wave_header* header);
