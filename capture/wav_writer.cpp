// The capture file: the RIFF/WAVE header with placeholder sizes, the append
// of each converted buffer, the size patch, and the choice of the file name.
#include "capture/wav_writer.h"

#include <cstdio>
#include <cstring>
#include "core/app_state.h"
#include "platform/acm/acm.h"
#include "platform/system/byte_order.h"
#include "platform/system/system.h"
#include "res/ui_text.h"

namespace {

// Sizes the header carries while a recording runs; the patch replaces them.
constexpr uint32_t RUNNING_RIFF_SIZE = 0x07F00000;
constexpr uint32_t RUNNING_DATA_SIZE = 0x07E00000;

// The "fact" chunk: id, size and the frame count, in every file that is not
// PCM, between the format chunk and the data chunk.
constexpr uint32_t FACT_CHUNK_BYTES = 12;

void put_id(uint8_t* p, const char* id)
{
    std::memcpy(p, id, 4);
}

// L: the format chunk's body. A PCM format (no extra bytes) stores the
// 16-byte record, any other the 18-byte record and its extra bytes. -1 when
// the extra bytes would run past the format area.
int32_t format_chunk_bytes(const format_area* chosen_format)
{
    uint32_t extra = chosen_format->fmt.cb_size;
    if (extra == 0)
        return 16;
    if (extra > uint32_t(FORMAT_AREA_BYTES) - 18)
        return -1;
    return int32_t(18 + extra);
}

bool has_fact_chunk(const format_area* chosen_format)
{
    return chosen_format->fmt.format_tag != WAVE_FORMAT_PCM;
}

// Where the data chunk's header starts: after the format chunk and the fact
// chunk if there is one.
uint32_t data_chunk_at(const format_area* chosen_format, int32_t format_bytes)
{
    return 20 + uint32_t(format_bytes) + (has_fact_chunk(chosen_format) ? FACT_CHUNK_BYTES : 0);
}

// The frames one block of the stored format holds: the count the ADPCM and
// GSM formats carry in their extra bytes, one frame for G.711.
uint32_t frames_per_block(const format_area* chosen_format)
{
    const wave_format& f = chosen_format->fmt;
    switch (f.format_tag) {
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_GSM610:
        return f.cb_size >= 2 ? uint32_t(chosen_format->bytes[18] | chosen_format->bytes[19] << 8) : 0;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        return 1;
    default:
        return acm_source_block_bytes(&f) / (2u * f.channels);
    }
}

// The frames a decoder gets from data_bytes: every whole block's frames, or
// for MPEG the frames its encoder took in (a decoder drops the encoder's
// delay and the silence that fills its last frame by this count).
uint32_t fact_frames(const format_area* chosen_format, uint32_t data_bytes)
{
    const wave_format& f = chosen_format->fmt;
    if (f.channels == 0 || f.block_align == 0)
        return 0;
    uint64_t frames = f.format_tag == WAVE_FORMAT_MPEGLAYER3
                          ? app.source_bytes_in_file / (2u * f.channels)
                          : uint64_t(data_bytes / f.block_align) * frames_per_block(chosen_format);
    return frames > UINT32_MAX ? UINT32_MAX : uint32_t(frames);
}

// Once a second the header's sizes are set to the bytes the file holds by
// now, so a recording that is killed (or a machine that loses power) leaves
// a WAV file that lacks at most the last second. The data is written before
// the sizes that count it, and the appends go on at the file's end.
void keep_sizes_current()
{
    const uint32_t second = get_tick_count() / 1000;
    if (app.sizes_patched && second == app.sizes_patched_second)
        return;
    app.sizes_patched = true;
    app.sizes_patched_second = second;
    patch_wav_sizes(app.capture_file_handle, &app.capture_file_format, app.data_bytes_written);
    plain_seek(app.capture_file_handle, 0, SEEK_END);
}

} // namespace

int write_wav_header(plain_file file, const format_area* chosen_format)
{
    // The file keeps this format to its end, whatever the user chooses for
    // the recordings after it: its sizes are patched where this header has
    // them (or, for a format no header can hold, not at all).
    app.capture_file_format = *chosen_format;
    app.append_fell_short = false;
    app.source_bytes_in_file = 0;
    app.source_bytes_pending = 0;
    app.sizes_patched = false;
    int32_t format_bytes = format_chunk_bytes(chosen_format);
    if (format_bytes < 0)
        return -1;
    uint8_t head[20];
    put_id(head, "RIFF");
    store_le32(head + 4, RUNNING_RIFF_SIZE);
    put_id(head + 8, "WAVE");
    put_id(head + 12, "fmt ");
    store_le32(head + 16, uint32_t(format_bytes));
    // No frames in the fact chunk until the first size patch: a reader then
    // goes by the data it finds.
    uint8_t fact[FACT_CHUNK_BYTES];
    put_id(fact, "fact");
    store_le32(fact + 4, 4);
    store_le32(fact + 8, 0);
    const uint32_t fact_bytes = has_fact_chunk(chosen_format) ? FACT_CHUNK_BYTES : 0;
    uint8_t data_head[8];
    put_id(data_head, "data");
    store_le32(data_head + 4, RUNNING_DATA_SIZE);
    if (plain_write(file, head, sizeof head) != sizeof head ||
        plain_write(file, chosen_format->bytes, uint32_t(format_bytes)) != uint32_t(format_bytes) ||
        plain_write(file, fact, fact_bytes) != fact_bytes ||
        plain_write(file, data_head, sizeof data_head) != sizeof data_head)
        return -1;
    return 0;
}

// The largest data size whose RIFF size still fits in 32 bits: 20 + L + D
// for PCM; with the fact chunk and room for the pad byte an odd D needs,
// 33 + L + D for every other format.
uint32_t max_capture_data_bytes(const format_area* chosen_format)
{
    int32_t format_bytes = format_chunk_bytes(chosen_format);
    if (format_bytes < 0)
        format_bytes = FORMAT_AREA_BYTES;
    const uint32_t around = data_chunk_at(chosen_format, format_bytes) + (has_fact_chunk(chosen_format) ? 1 : 0);
    return UINT32_MAX - around;
}

void count_capture_source(uint32_t pcm_bytes)
{
    app.source_bytes_pending += pcm_bytes;
}

void append_capture_data(const uint8_t* data, uint32_t n)
{
    // What the encoder took in counts once its output went whole into the
    // file (a buffer may give no output yet: MPEG's look-ahead holds it).
    const uint64_t pending = app.source_bytes_pending;
    app.source_bytes_pending = 0;
    if (n == 0) {
        app.last_write_count = 0;
        app.source_bytes_in_file += pending;
        return;
    }
    // A buffer that would carry the data past what the header's sizes can
    // hold is not written: the short count ends the recording as a full disk
    // does, and the patched sizes stay true.
    uint32_t room = max_capture_data_bytes(&app.capture_file_format) - app.data_bytes_written;
    if (app.data_bytes_written > max_capture_data_bytes(&app.capture_file_format) || n > room) {
        app.last_write_count = 0;
        app.append_fell_short = true;
        return;
    }
    uint32_t written = plain_write(app.capture_file_handle, data, n);
    app.last_write_count = written;
    app.append_fell_short = app.append_fell_short || written != n;
    if (written == n)
        app.source_bytes_in_file += pending;
    // Only what reached the file counts, so the header never claims bytes
    // that a full disk refused.
    app.data_bytes_written += written;
    if (written > 0)
        keep_sizes_current();
}

bool capture_append_fell_short()
{
    return app.append_fell_short;
}

int patch_wav_sizes(plain_file file, const format_area* chosen_format, uint32_t data_bytes)
{
    int32_t format_bytes = format_chunk_bytes(chosen_format);
    if (format_bytes < 0)
        return 0;   // no header holds this format's sizes
    // The patch may come while the recording runs: the next append goes on
    // where the last one ended.
    const int64_t resume_at = plain_seek(file, 0, SEEK_CUR);
    const uint32_t data_at = data_chunk_at(chosen_format, format_bytes);
    // An odd data chunk is followed by a pad byte, which the RIFF size
    // counts only once the file holds it (a full disk may refuse it).
    uint32_t pad = 0;
    if (has_fact_chunk(chosen_format) && (data_bytes & 1) &&
        plain_seek(file, int64_t(data_at) + 8 + data_bytes, SEEK_SET) >= 0 && write_byte(0, file))
        pad = 1;
    bool ok = plain_seek(file, 4, SEEK_SET) >= 0 && write_le32(data_at + data_bytes + pad, file);
    ok = plain_seek(file, data_at + 4, SEEK_SET) >= 0 && write_le32(data_bytes, file) && ok;
    if (has_fact_chunk(chosen_format))
        ok = plain_seek(file, 20 + format_bytes + 8, SEEK_SET) >= 0 &&
             write_le32(fact_frames(chosen_format, data_bytes), file) && ok;
    if (resume_at >= 0 && plain_seek(file, resume_at, SEEK_SET) < 0)
        ok = false;
    return ok ? 0 : -1;
}

bool write_le32(uint32_t value, plain_file file)
{
    return write_le16(uint16_t(value & 0xFFFF), file) && write_le16(uint16_t(value >> 16), file);
}

bool write_le16(uint16_t value, plain_file file)
{
    return write_byte(uint8_t(value & 0xFF), file) && write_byte(uint8_t(value >> 8), file);
}

bool write_byte(uint8_t value, plain_file file)
{
    return plain_write(file, &value, 1) == 1;
}

int choose_capture_file()
{
    // The dialog works on a copy, so a cancelled dialog cannot leave a
    // half-edited name behind.
    char name[256];
    std::snprintf(name, sizeof name, "%s", app.capture_file_name);
    if (save_file_dialog(app.main_dialog, ui_text("Wave Files"), "*.wav", name, sizeof name, true) != 1)
        return 0;
    name[sizeof name - 1] = '\0';
    std::snprintf(app.capture_file_name, sizeof app.capture_file_name, "%s", name);
    return 1;
}
