// The capture's part of the state record: the wave-input ring, the
// conversion stream of the running recording and the capture file.
//
// Writers: capture/ on the dialog's thread (the ring's buffers are also
// handed to the device's thread, capture_ring.h). app_state_reset resets it.
#pragma once
#include <cstdint>
#include "platform/acm/acm.h"
#include "platform/audio_format.h"
#include "platform/file/file.h"
#include "capture/capture_ring.h"

struct CaptureState {
    // --- wave-input ring (capture_control.cpp opens and closes it; the
    // device's thread owns a buffer from its queueing until it comes back)
    CaptureBufferRing capture_ring = {};

    // --- conversion stream of the running recording (compression.cpp, when
    // the capture begins and ends; record_path.cpp drives it per buffer)
    acm_stream conversion_stream = nullptr;
    acm_stream_header conversion_header = {};
    uint32_t conversion_output_bytes = 0; // bytes the stream may produce per buffer
    uint8_t* conversion_block = nullptr;  // one block: source area, conversion_output, then the held-over area
    uint8_t* conversion_output = nullptr; // where the stream's bytes land (inside conversion_block)
    uint32_t conversion_source_block = 0; // source bytes of one codec block
    uint32_t conversion_carry_bytes = 0;  // source bytes held over to the next buffer (< one block)

    // --- capture file (capture_control.cpp opens and closes it; wav_writer.cpp writes it)
    plain_file capture_file_handle = nullptr;
    format_area capture_file_format = {}; // the format its header describes (chosen when it was begun)
    bool append_fell_short = false;       // an append of this file went in short; wav_writer.cpp
    // PCM bytes the encoder took in for this file: those of the appends that
    // went whole, and those converted since the last append; wav_writer.cpp.
    uint64_t source_bytes_in_file = 0;
    uint64_t source_bytes_pending = 0;
    bool sizes_patched = false;           // its header's sizes were set while it is written; wav_writer.cpp
    uint32_t sizes_patched_second = 0;    // the clock's second (ms / 1000) of that patch; wav_writer.cpp
};
