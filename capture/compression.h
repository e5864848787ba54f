// The recording format: the chooser, the conversion stream of a recording,
// the per-buffer conversion and the report of a failing stream call.
#pragma once
#include <cstdint>
#include "capture/capture_ring.h"
#include "platform/acm/acm.h"

int choose_format(CaptureBufferRing* ring);     // 0 after a choice, -1 on cancel
// Opens, sizes and prepares the stream from source to destination; the
// stream, or null after the failing step was reported (and the stream and
// its block released). Allocates conversion_block (calloc): the source
// area, conversion_output, then room for one source block held over.
acm_stream open_conversion(const wave_format* source, const wave_format* destination);
// Converts the whole blocks of `length` bytes at `data` (copied into the
// source area unless they are there already, at most one record buffer); a
// partial block at the end is held over and converted in front of the next
// buffer. Bytes produced into conversion_output, 0 after a report (that
// buffer is dropped).
uint32_t convert_buffer(acm_stream stream, const uint8_t* data, uint32_t length);
// The end of a recording: converts the held-over tail, made up to a block
// with silence, and whatever the codec still holds (an encoder's look-ahead)
// into conversion_output. Bytes produced, 0 when there was nothing or after
// a report.
uint32_t finish_conversion(acm_stream stream);
void acm_error(const char* operation, unsigned code);

// Frees conversion_block (std::free) and clears it and conversion_output:
// the last step of a recording's teardown.
void free_conversion_block();
// Quietly unprepares and closes a conversion_stream that is still open and
// frees its block (a start that failed after the stream was opened);
// open_conversion does this itself before it opens a new stream.
void release_conversion();
// Test hook: the next allocation of conversion_block fails.
void conversion_block_fail_next();
