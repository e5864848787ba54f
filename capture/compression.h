// The recording format: the chooser, the conversion stream of a recording,
// the per-buffer conversion and the report of a failing stream call.
#pragma once
#include <cstdint>
#include "capture/capture_ring.h"
#include "platform/acm/acm.h"

int choose_format(CaptureBufferRing* ring);     // 0 after a choice, -1 on cancel
// Opens, sizes and prepares the stream from source to destination; the
// stream, or null after the failing step was reported.
acm_stream open_conversion(const wave_format* source, const wave_format* destination);
uint32_t convert_buffer(acm_stream stream);     // bytes produced, 0 after a report
void acm_error(const char* operation, unsigned code);
