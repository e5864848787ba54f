// The recording format: the chooser with its refusal of 8-bit PCM, the
// recording's conversion stream with its one header and memory block, the
// per-buffer conversion, and the report of a failing stream call.
#include "capture/compression.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "app/app_state.h"
#include "app/ids.h"
#include "platform/window/window.h"
#include "res/strings.h"

namespace {
bool block_alloc_fails = false;
}

void conversion_block_fail_next() { block_alloc_fails = true; }

int choose_format(CaptureBufferRing* ring)
{
    if (!ring)
        return -1;
    const format_choice* choices = nullptr;
    int count = acm_format_choices(&choices);
    if (count <= 0)
        return -1;
    for (;;) {
        int index = format_chooser_dialog(app.main_dialog, choices, count);
        if (index < 0 || index >= count)
            return -1;   // cancelled: the stored format and both texts stay as they were
        const format_choice& c = choices[index];
        const auto* f = reinterpret_cast<const wave_format*>(c.format);
        if (c.format_bytes < int(sizeof(wave_format)) || c.format_bytes > FORMAT_AREA_BYTES)
            return -1;
        // 8-bit PCM is refused before it reaches chosen_format, so a cancel
        // after the refusal leaves the earlier choice whole.
        if (f->format_tag == WAVE_FORMAT_PCM && f->bits_per_sample == 8) {
            message_box(app.main_dialog, "8 bits PCM format not supported - choose 16 bits", "Trackmill", MB_OK);
            continue;
        }
        std::memset(&ring->chosen_format, 0, sizeof ring->chosen_format);
        std::memcpy(ring->chosen_format.bytes, c.format, size_t(c.format_bytes));
        set_item_text(app.main_dialog, IDC_FORMAT_TAG, c.tag_name);
        set_item_text(app.main_dialog, IDC_FORMAT_NAME, c.description);
        return 0;
    }
}

void free_conversion_block()
{
    std::free(app.conversion_block);
    app.conversion_block = nullptr;
    app.conversion_output = nullptr;
}

void release_conversion()
{
    if (app.conversion_stream) {
        acm_stream_unprepare_header(app.conversion_stream, &app.conversion_header, 0);
        acm_stream_close(app.conversion_stream, 0);
        app.conversion_stream = nullptr;
    }
    free_conversion_block();
}

acm_stream open_conversion(const wave_format* source, const wave_format* destination)
{
    // What a failed start left behind would hold the header and leak the block.
    release_conversion();

    acm_stream stream = nullptr;
    unsigned code = acm_stream_open(&stream, source, destination, 0);
    if (code) {
        acm_error("acmStreamOpen", code);
        return nullptr;
    }
    uint32_t output_bytes = 0;
    code = acm_stream_size(stream, app.record_buffer_bytes, &output_bytes, ACM_STREAMSIZEF_SOURCE);
    if (code) {
        acm_error("acmStreamSize", code);
        acm_stream_close(stream, 0);
        return nullptr;
    }
    app.conversion_output_bytes = output_bytes;

    uint64_t total = uint64_t(app.record_buffer_bytes) + output_bytes;
    uint8_t* block = nullptr;
    if (!block_alloc_fails)
        block = static_cast<uint8_t*>(std::calloc(size_t(total), 1));
    block_alloc_fails = false;
    if (!block) {
        acm_error("acmStreamPrepareHeader", MMSYSERR_NOMEM);
        acm_stream_close(stream, 0);
        return nullptr;
    }
    app.conversion_block = block;
    app.conversion_output = block + app.record_buffer_bytes;
    app.conversion_header = {};
    app.conversion_header.struct_size = sizeof(acm_stream_header);
    app.conversion_header.src = block;
    app.conversion_header.src_length = app.record_buffer_bytes;
    app.conversion_header.dst = app.conversion_output;
    app.conversion_header.dst_length = output_bytes;

    code = acm_stream_prepare_header(stream, &app.conversion_header, 0);
    if (code) {
        acm_error("acmStreamPrepareHeader", code);
        free_conversion_block();
        acm_stream_close(stream, 0);
        return nullptr;
    }
    return stream;
}

uint32_t convert_buffer(acm_stream stream)
{
    // Every buffer on its own: only whole source blocks are taken, and the
    // reset leaves the codec's history in place for the next buffer.
    unsigned code = acm_stream_convert(stream, &app.conversion_header, ACM_STREAMCONVERTF_BLOCKALIGN);
    if (code) {
        acm_error("acmStreamConvert", code);
        return 0;
    }
    code = acm_stream_reset(stream, 0);
    if (code) {
        acm_error("acmStreamReset", code);
        return 0;
    }
    return app.conversion_header.dst_length_used;
}

void acm_error(const char* operation, unsigned code)
{
    char text[80];
    if (load_string(code, text, int(sizeof text)) == 0)
        std::snprintf(text, sizeof text, "Unknown ACM error: %d", int(code));
    message_box(app.main_dialog, text, operation ? operation : "", MB_OK);
}
