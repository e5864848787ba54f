// Reading the track and writing the cleaned file for the passes: the track's
// format, the end of its sample data, buffer refill and write-out, names.
#include "clean/track_io.h"

#include <algorithm>
#include <cstring>
#include "core/ids.h"
#include "clean/pass.h"
#include "res/ui_text.h"

wave_format track_wave_format()
{
    wave_format f{};
    std::memcpy(&f, app.track_format, sizeof f);
    return f;
}

int track_channels()
{
    return track_wave_format().channels;
}

int track_frame_bytes()
{
    return track_wave_format().block_align;
}

uint32_t track_frames()
{
    const int frame = track_frame_bytes();
    return frame > 0 ? app.track_in_chunk.size / uint32_t(frame) : 0;
}

uint8_t* track_data_end(const riff_info* in)
{
    const int64_t data_end = int64_t(app.track_in_chunk.data_offset) + app.track_in_chunk.size;
    const int64_t in_buffer = data_end - in->buffer_disk_offset;
    uint8_t* end = in->end_read;
    if (in_buffer < end - in->buffer)
        end = in->buffer + std::max<int64_t>(in_buffer, 0);
    return std::max(end, in->next);
}

uint8_t* input_data_end()
{
    return track_data_end(&app.track_in_info);
}

int refill_input()
{
    if (riff_advance(app.track_in, &app.track_in_info, MMIO_READ) != 0)
        return -1;
    return input_data_end() > app.track_in_info.next ? 0 : -1;
}

int write_output_buffer()
{
    app.track_out_info.flags |= MMIO_DIRTY;
    return riff_advance(app.track_out, &app.track_out_info, MMIO_WRITE) == 0 ? 0 : -6;
}

int make_cleaned_name(const char* name, int mode, char* out, int size)
{
    const clean_pass* pass = pass_for_mode(mode);
    const char letter = pass ? pass->letter : 'f';
    const size_t length = std::strlen(name);
    const char* slash = std::strrchr(name, '/');
    const size_t part = slash ? size_t(slash - name) + 1 : 0;   // where the file-name part starts
    // The letter takes the fifth character's place, unless that would land
    // on the extension or its dot (side.wav, a.wav): then it goes in front,
    // so the cleaned file keeps the track's extension.
    const char* dot = std::strrchr(name + part, '.');
    const size_t stem = dot ? size_t(dot - name) - part : length - part;
    const bool in_front = stem <= 4;
    if (length + (in_front ? 1 : 0) + 1 > size_t(size))
        return -1;
    std::memcpy(out, name, part);
    if (in_front) {
        out[part] = letter;
        std::memcpy(out + part + 1, name + part, length - part + 1);
    } else {
        std::memcpy(out + part, name + part, length - part + 1);
        out[part + 4] = letter;
    }
    return 0;
}

int read_track_format()
{
    app.track_in_riff = riff_chunk{};
    if (riff_descend(app.track_in, &app.track_in_riff, nullptr, 0) != 0)
        return -1;
    if (app.track_in_riff.id != FOURCC_RIFF || app.track_in_riff.form_type != FOURCC_WAVE)
        return -1;
    app.track_in_chunk = riff_chunk{};
    app.track_in_chunk.id = FOURCC_FMT;
    if (riff_descend(app.track_in, &app.track_in_chunk, &app.track_in_riff, MMIO_FINDCHUNK) != 0)
        return -1;
    const uint32_t size = app.track_in_chunk.size;
    if (size > sizeof app.track_format)
        return -1;   // does not fit: the caller refuses the format
    std::memset(app.track_format, 0, sizeof app.track_format);
    if (riff_read(app.track_in, app.track_format, int32_t(size)) != int32_t(size))
        return -1;
    // Past an odd-sized format chunk's pad byte, where the next chunk starts.
    if ((size & 1) && riff_ascend(app.track_in, &app.track_in_chunk, 0) != 0)
        return -1;
    return int(size);
}

void report_open_error(unsigned code)
{
    if (code == MMIOERR_FILENOTFOUND || code == MMIOERR_ACCESSDENIED || code == MMIOERR_INVALIDFILE)
        message_box(nullptr, ui_text("File not found/protected"), APP_CAPTION, MB_OK);
}

void close_preview()
{
    if (app.track_in) {
        riff_close(app.track_in);   // the handle is gone whatever the close says
        app.track_in = nullptr;
    }
}
