// The per-buffer write path of a recording: the level of a buffer, whether a
// header is the running ring's, and a recorded buffer converted into the file.
#include "capture/record_path.h"

#include "core/app_state.h"
#include "capture/compression.h"
#include "capture/wav_writer.h"
#include "platform/system/byte_order.h"

void measure_levels(const uint8_t* buffer, uint32_t length, int32_t* left, int32_t* right)
{
    // Every second frame of 16-bit stereo. The sums are kept wide so that
    // a buffer of any size gives its true mean; D is the number of frames
    // measured, and a buffer without one whole measured frame reads as 0.
    const uint32_t frames = length / 4;
    const uint32_t measured = length / 8;
    if (!buffer || measured == 0) {
        *left = *right = 0;
        return;
    }
    uint64_t sum_left = 0, sum_right = 0;
    for (uint32_t k = 0; k < frames; k += 2) {
        const uint8_t* p = buffer + 4 * size_t(k);
        int32_t l = load_le16_signed(p);
        int32_t r = load_le16_signed(p + 2);
        sum_left += uint32_t(l < 0 ? -l : l);
        sum_right += uint32_t(r < 0 ? -r : r);
    }
    *left = int32_t(sum_left / measured);
    *right = int32_t(sum_right / measured);
}

bool returned_by_ring(const wave_header* header)
{
    const CaptureBufferRing& ring = app.capture_ring;
    if (!header || !ring.device || header < ring.headers || header >= ring.headers + ring.buffer_count)
        return false;
    // A header that a stopped ring returned may have been queued again by
    // the ring opened after it: its old message is not for this ring.
    return header->data && (header->flags & WHDR_DONE) && !(header->flags & WHDR_INQUEUE);
}

record_write_result write_record_buffer(const wave_header* header)
{
    // What the device recorded, never more: a buffer whose size is not a
    // whole number of frames ends in bytes the device did not fill, and
    // those must not go into the file between two frames.
    const uint32_t take =
        header->bytes_recorded < app.record_buffer_bytes ? header->bytes_recorded : app.record_buffer_bytes;
    uint32_t n = 0;
    if (app.conversion_block && app.conversion_stream)
        n = convert_buffer(app.conversion_stream, header->data, take);
    // Whether this buffer would carry the file past what its 32-bit sizes hold.
    const bool at_size_limit = n > max_capture_data_bytes(&app.capture_file_format) - app.data_bytes_written;
    append_capture_data(app.conversion_output, n);
    if (app.last_write_count == n)
        return RECORD_WRITTEN;
    return at_size_limit ? RECORD_AT_SIZE_LIMIT : RECORD_SHORT_WRITE;
}
