// The capture file: the RIFF/WAVE header with placeholder sizes, the append
// of each converted buffer, the size patch, and the choice of the file name.
#include "capture/wav_writer.h"

#include <cstdio>
#include <cstring>
#include "core/app_state.h"
#include "platform/system/byte_order.h"
#include "platform/system/system.h"

namespace {

// Sizes the header carries while a recording runs; the patch replaces them.
constexpr uint32_t RUNNING_RIFF_SIZE = 0x07F00000;
constexpr uint32_t RUNNING_DATA_SIZE = 0x07E00000;

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
    uint8_t data_head[8];
    put_id(data_head, "data");
    store_le32(data_head + 4, RUNNING_DATA_SIZE);
    if (plain_write(file, head, sizeof head) != sizeof head ||
        plain_write(file, chosen_format->bytes, uint32_t(format_bytes)) != uint32_t(format_bytes) ||
        plain_write(file, data_head, sizeof data_head) != sizeof data_head)
        return -1;
    return 0;
}

// The largest data size whose RIFF size (20 + L + D) still fits in 32 bits.
uint32_t max_capture_data_bytes(const format_area* chosen_format)
{
    int32_t format_bytes = format_chunk_bytes(chosen_format);
    if (format_bytes < 0)
        format_bytes = FORMAT_AREA_BYTES;
    return UINT32_MAX - 20 - uint32_t(format_bytes);
}

void append_capture_data(const uint8_t* data, uint32_t n)
{
    if (n == 0) {
        app.last_write_count = 0;
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
    bool ok = plain_seek(file, 4, SEEK_SET) >= 0 && write_le32(20 + uint32_t(format_bytes) + data_bytes, file);
    ok = plain_seek(file, 24 + format_bytes, SEEK_SET) >= 0 && write_le32(data_bytes, file) && ok;
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
    if (save_file_dialog(app.main_dialog, "Wave Files", "*.wav", name, sizeof name, true) != 1)
        return 0;
    name[sizeof name - 1] = '\0';
    std::snprintf(app.capture_file_name, sizeof app.capture_file_name, "%s", name);
    return 1;
}
