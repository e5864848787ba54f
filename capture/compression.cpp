// The recording format: the chooser with its refusal of 8-bit PCM, the
// recording's conversion stream with its one header and memory block, the
// per-buffer conversion, and the report of a failing stream call.
#include "capture/compression.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "core/app_state.h"
#include "core/ids.h"
#include "capture/wav_writer.h"
#include "platform/window/window.h"
#include "res/strings.h"
#include "res/ui_text.h"

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
            message_box(app.main_dialog, ui_text("8 bits PCM format not supported - choose 16 bits"), APP_CAPTION,
                        MB_OK);
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
    app.conversion_carry_bytes = 0;
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

    // Behind the output lies room for one source block held over from the
    // end of one buffer to the start of the next.
    const uint32_t source_block = acm_source_block_bytes(destination);
    uint64_t total = uint64_t(app.record_buffer_bytes) + output_bytes + source_block;
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
    app.conversion_source_block = source_block;
    app.conversion_carry_bytes = 0;
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

namespace {
// One conversion of `length` source bytes at src into the output from
// offset `at`; the header is put back as it was prepared. 0 or the code.
unsigned convert_part(acm_stream stream, uint8_t* src, uint32_t length, uint32_t at, uint32_t* used,
                      uint32_t* made)
{
    acm_stream_header& h = app.conversion_header;
    uint8_t* const prepared_src = h.src;
    const uint32_t prepared_length = h.src_length;
    h.src = src;
    h.src_length = length;
    h.dst = app.conversion_output + at;
    h.dst_length = app.conversion_output_bytes - at;
    unsigned code = acm_stream_convert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN);
    *used = h.src_length_used;
    *made = h.dst_length_used;
    h.src = prepared_src;
    h.src_length = prepared_length;
    h.dst = app.conversion_output;
    h.dst_length = app.conversion_output_bytes;
    return code;
}
} // namespace

uint32_t convert_buffer(acm_stream stream, const uint8_t* data, uint32_t length)
{
    // The codec takes whole blocks only. What is left at the end of a buffer
    // (less than a block) is held over and goes in front of the next buffer,
    // so a recording loses nothing between buffers; the reset leaves the
    // codec's history in place for the next buffer.
    acm_stream_header& h = app.conversion_header;
    uint8_t* const source = app.conversion_block;
    uint8_t* const held = app.conversion_output + app.conversion_output_bytes;
    if (data != source)
        std::memcpy(source, data, length);
    const uint32_t block = app.conversion_source_block;
    uint32_t start = 0, made = 0, used = 0, part = 0;
    unsigned code = 0;
    if (app.conversion_carry_bytes && block && held) {
        // Complete the held block with the head of this buffer.
        uint32_t need = block - app.conversion_carry_bytes;
        if (need > length)
            need = length;
        std::memcpy(held + app.conversion_carry_bytes, source, need);
        app.conversion_carry_bytes += need;
        start = need;
        if (app.conversion_carry_bytes == block)
            code = convert_part(stream, held, block, 0, &used, &made);
        if (!code && used == block)
            app.conversion_carry_bytes = 0;
    }
    if (!code && !app.conversion_carry_bytes)
        code = convert_part(stream, source + start, length - start, made, &used, &part);
    if (code) {
        app.conversion_carry_bytes = 0;   // this buffer is lost; the next starts clean
        acm_error("acmStreamConvert", code);
        return 0;
    }
    made += part;
    // Keep the tail that made no whole block.
    if (!app.conversion_carry_bytes && block) {
        uint32_t tail = length - start - used;
        if (tail >= block)
            tail = 0;   // no room was left for it: not expected with the sized output
        std::memcpy(held, source + start + used, tail);
        app.conversion_carry_bytes = tail;
    }
    h.src_length_used = length;
    h.dst_length_used = made;
    code = acm_stream_reset(stream, 0);
    if (code) {
        acm_error("acmStreamReset", code);
        return 0;
    }
    count_capture_source(length);
    return made;
}

uint32_t finish_conversion(acm_stream stream)
{
    if (!stream || !app.conversion_output)
        return 0;
    acm_stream_header& h = app.conversion_header;
    uint8_t* const held = app.conversion_output + app.conversion_output_bytes;
    // Without the block-align flag the short tail is padded, and the end flag
    // makes the codec give out what it holds back.
    uint8_t* const prepared_src = h.src;
    const uint32_t prepared_length = h.src_length;
    h.src = held;
    h.src_length = app.conversion_carry_bytes;
    h.dst = app.conversion_output;
    h.dst_length = app.conversion_output_bytes;
    unsigned code = acm_stream_convert(stream, &h, ACM_STREAMCONVERTF_END);
    const uint32_t made = h.dst_length_used;
    h.src = prepared_src;
    h.src_length = prepared_length;
    app.conversion_carry_bytes = 0;
    if (code) {
        acm_error("acmStreamConvert", code);
        return 0;
    }
    return made;
}

void acm_error(const char* operation, unsigned code)
{
    char text[80];
    if (load_string(code, text, int(sizeof text)) == 0)
        std::snprintf(text, sizeof text, ui_text("Unknown ACM error: %d"), int(code));
    message_box(app.main_dialog, text, operation ? operation : "", MB_OK);
}
