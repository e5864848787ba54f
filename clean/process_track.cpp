// The track processing driver: opens the track, writes the cleaned file
// beside it through one of the passes, and reopens the result as the preview.
#include "clean/process_track.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "app/app_state.h"
#include "app/ids.h"
#include "capture/capture_control.h"
#include "clean/declicker.h"
#include "clean/denoiser.h"
#include "clean/track_io.h"
#include "playback/playback.h"

namespace {

constexpr const char* CAPTION = "Trackmill";
constexpr int32_t DEFAULT_BUFFER_BYTES = 8192;

// Why the running run failed, for result_text; null while nothing failed.
const char* failure = nullptr;

int fail(int code, const char* why)
{
    if (!failure)
        failure = why;
    return code;
}

wave_format track_wave_format()
{
    wave_format f{};
    std::memcpy(&f, app.track_format, sizeof f);
    return f;
}

// The passes read 16-bit samples, one or two to a frame.
bool track_format_supported(int bytes)
{
    const wave_format f = track_wave_format();
    return bytes >= 16 && f.format_tag == WAVE_FORMAT_PCM && (f.channels == 1 || f.channels == 2) &&
           f.bits_per_sample == 16 && f.block_align == 2 * f.channels;
}

void show_text(window dialog, int id, const char* text)
{
    if (dialog)
        set_item_text(dialog, id, text);
}

// The wave view's points: room for every column of the view and for a
// point every frame of half an input buffer, x prefilled with the columns.
int create_view_points()
{
    const int32_t columns = std::max(0, app.wave_view_rect.right - app.wave_view_rect.left);
    const int32_t count = std::max((columns + 64) & ~15, app.track_in_info.buffer_size / 2);
    auto* points = static_cast<point*>(std::calloc(size_t(count), sizeof(point)));
    if (!points)
        return -1;
    for (int32_t i = 0; i <= columns && i < count; ++i)
        points[i].x = app.wave_view_rect.left + i;
    app.view_points = points;
    app.view_points_count = count;
    app.view_cursor = 0;
    return 0;
}

void close_file(riff_file* f, int* result)
{
    if (!*f)
        return;
    // The cleaned file's last bytes go out on close: a failure there is a
    // failed run, not a finished one.
    if (riff_close(*f) != 0 && result && *result == 0)
        *result = fail(-6, "the cleaned file cannot be written");
    *f = nullptr;
}

// Steps 5 to 14 of a run, with the track open as track_in.
int clean_into_file(int mode)
{
    app.track_out = riff_open(app.cleaned_file_name, &app.track_out_info, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    if (!app.track_out)
        return fail(-1, "the cleaned file cannot be created");

    const int format_bytes = read_track_format();
    if (format_bytes < 0) {
        if (app.track_in_chunk.id == FOURCC_FMT && app.track_in_chunk.size > sizeof app.track_format) {
            message_box(nullptr, "Only 16-bit PCM tracks with one or two channels can be cleaned", CAPTION, MB_OK);
            return fail(-1, "only 16-bit PCM tracks with one or two channels can be cleaned");
        }
        return fail(-1, "the track is not a WAV file that can be read");
    }
    if (!track_format_supported(format_bytes)) {
        message_box(nullptr, "Only 16-bit PCM tracks with one or two channels can be cleaned", CAPTION, MB_OK);
        return fail(-1, "only 16-bit PCM tracks with one or two channels can be cleaned");
    }

    app.track_in_chunk = riff_chunk{};
    app.track_in_chunk.id = FOURCC_DATA;
    if (riff_descend(app.track_in, &app.track_in_chunk, &app.track_in_riff, MMIO_FINDCHUNK) != 0)
        return fail(-2, "the track has no sample data");

    app.track_out_riff = riff_chunk{};
    app.track_out_riff.form_type = FOURCC_WAVE;
    if (riff_create_chunk(app.track_out, &app.track_out_riff, MMIO_CREATERIFF) != 0)
        return fail(-1, "the cleaned file cannot be written");
    app.track_out_chunk = riff_chunk{};
    app.track_out_chunk.id = FOURCC_FMT;
    app.track_out_chunk.size = 16;
    if (riff_create_chunk(app.track_out, &app.track_out_chunk, 0) != 0 ||
        riff_write(app.track_out, app.track_format, format_bytes) != format_bytes)
        return fail(-1, "the cleaned file cannot be written");

    const wave_format f = track_wave_format();
    PlaybackRecord& play = app.playback_record;
    play.sample_rate = int32_t(f.samples_per_sec);
    play.bits_per_sample = int8_t(f.bits_per_sample);
    play.channels = int8_t(f.channels);
    play.active = 1;
    std::memset(&play.source_format, 0, sizeof play.source_format);
    std::memcpy(play.source_format.bytes, app.track_format, size_t(format_bytes));

    if (riff_ascend(app.track_out, &app.track_out_chunk, 0) != 0)
        return fail(-5, "the cleaned file cannot be written");
    app.track_out_chunk = riff_chunk{};
    app.track_out_chunk.id = FOURCC_DATA;
    if (riff_create_chunk(app.track_out, &app.track_out_chunk, 0) != 0)
        return fail(-5, "the cleaned file cannot be written");

    if (riff_get_info(app.track_in, &app.track_in_info) != 0)
        return fail(-3, "the track cannot be read");
    if (riff_get_info(app.track_out, &app.track_out_info) != 0)
        return fail(-5, "the cleaned file cannot be written");
    play.data_bytes = app.track_in_chunk.size;
    if (app.track_in_info.buffer_size == 0)
        return fail(-3, "the track cannot be read");
    play.input_buffer_bytes = app.track_in_info.buffer_size;

    if (!app.view_points && create_view_points() != 0)
        return fail(-1, "not enough memory to clean the track");

    int result;
    if (mode == MODE_DECLICK) {
        result = declick_pass();
    } else if (mode == MODE_DENOISE) {
        result = denoise_track();
    } else {
        // A fade that failed stays the run's result: the wide pass after it
        // must not turn a half-written file into a success.
        const int faded = fade_in_track();
        const int wide = declick_wide_pass();
        result = faded != 0 ? faded : wide;
        // The run's line is the fade's own, not the wide pass's count.
        if (result == 0)
            std::snprintf(app.result_text, sizeof app.result_text, "fade in complete");
    }
    if (result == -1)
        fail(-1, "not enough memory to clean the track");
    else if (result != 0)
        fail(result, "the cleaned file cannot be written");

    // The chunks are closed whatever the pass gave.
    app.track_out_info.flags |= MMIO_DIRTY;
    if (riff_set_info(app.track_out, &app.track_out_info) != 0 ||
        riff_ascend(app.track_out, &app.track_out_chunk, 0) != 0)
        return fail(-6, "the cleaned file cannot be written");
    if (riff_ascend(app.track_out, &app.track_out_riff, 0) != 0)
        return fail(-5, "the cleaned file cannot be written");
    return result;
}

} // namespace

// --- shared with the passes ----------------------------------------------------

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

uint8_t* input_data_end()
{
    riff_info& in = app.track_in_info;
    const int64_t data_end = int64_t(app.track_in_chunk.data_offset) + app.track_in_chunk.size;
    const int64_t in_buffer = data_end - in.buffer_disk_offset;
    uint8_t* end = in.end_read;
    if (in_buffer < end - in.buffer)
        end = in.buffer + std::max<int64_t>(in_buffer, 0);
    return std::max(end, in.next);
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
    const char letter = mode == MODE_DECLICK ? 'd' : mode == MODE_DENOISE ? 'n' : 'f';
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

// --- the driver ------------------------------------------------------------------

int32_t process_track(window dialog, const char* name, int mode)
{
    failure = nullptr;
    if (app.play_timer) {
        kill_play_timer();
        app.play_timer = 0;
    }
    // The preview of an earlier run (Fade In runs while one is open) is
    // replaced by this run's; its handle is not left behind.
    if (app.track_in) {
        riff_close(app.track_in);
        app.track_in = nullptr;
    }

    app.track_out_info = riff_info{};
    app.track_in_info = riff_info{};
    int result = 0;
    if (!name || (mode != MODE_DECLICK && mode != MODE_DENOISE && mode != MODE_FADE_IN)) {
        result = fail(-1, "no track to clean");
    } else if (!(app.track_in = riff_open(name, &app.track_in_info, MMIO_READ | MMIO_ALLOCBUF))) {
        report_open_error(app.track_in_info.error);
        result = fail(-1, "the track cannot be opened");
    } else if (make_cleaned_name(name, mode, app.cleaned_file_name, sizeof app.cleaned_file_name) != 0) {
        message_box(nullptr, "File name too long", CAPTION, MB_OK);
        result = fail(-1, "the track's file name is too long");
    } else if (std::strcmp(app.cleaned_file_name, name) == 0) {
        // The track's name already carries the letter: creating the cleaned
        // file would empty the track itself.
        message_box(nullptr, "The cleaned file would overwrite the track itself", CAPTION, MB_OK);
        result = fail(-1, "the cleaned file would overwrite the track");
    } else {
        show_text(dialog, IDC_STATUS, app.status_text);
        std::snprintf(app.capture_file_name, sizeof app.capture_file_name, "%s", name);
        show_text(dialog, IDC_FILE_BOX, app.cleaned_file_name);
        result = clean_into_file(mode);
        close_file(&app.track_out, &result);
    }
    close_file(&app.track_in, nullptr);
    if (result == 0) {
        result = reopen_cleaned_track(app.cleaned_file_name);
        if (result == 0)
            open_wave_out(&app.playback_record, playback_done_callback);
        else
            fail(result, "the cleaned file cannot be reopened");
    }
    // A failed run says so in the status line, not the last good run's line.
    if (result != 0)
        std::snprintf(app.result_text, sizeof app.result_text, "cleaning failed: %s",
                      failure ? failure : "the cleaned file cannot be written");
    return result;
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
        message_box(nullptr, "File not found/protected", CAPTION, MB_OK);
}

int reopen_cleaned_track(const char* name)
{
    app.track_in_info = riff_info{};
    app.track_in = riff_open(name, &app.track_in_info, MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!app.track_in) {
        report_open_error(app.track_in_info.error);
        return -7;
    }
    int result = 0;
    app.track_in_chunk = riff_chunk{};
    if (read_track_format() < 0) {
        result = -2;
    } else {
        app.track_in_chunk = riff_chunk{};
        app.track_in_chunk.id = FOURCC_DATA;
        if (riff_descend(app.track_in, &app.track_in_chunk, &app.track_in_riff, MMIO_FINDCHUNK) != 0)
            result = -2;
        else {
            app.playback_record.data_bytes = app.track_in_chunk.size;
            if (riff_get_info(app.track_in, &app.track_in_info) != 0)
                result = -5;
        }
    }
    if (result != 0) {
        // A preview that cannot be played is not left open for Play.
        riff_close(app.track_in);
        app.track_in = nullptr;
    }
    return result;
}

int32_t alloc_work_area(int delay)
{
    (void)delay;   // the delayed pointers belong to filters this program does not run
    const int32_t block = app.track_out_info.buffer_size > 0 ? app.track_out_info.buffer_size : DEFAULT_BUFFER_BYTES;
    const int32_t records = std::max<int32_t>(1, app.work_blocks);
    const size_t bytes = size_t(4) * size_t(block + 16 * records) + 12288;
    auto* area = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!area)
        return -1;
    std::free(app.work_area);
    app.work_area = area;
    app.work_area_bytes = int32_t(bytes);
    return block + 16 * records;
}
