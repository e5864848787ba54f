// The track processing driver: opens the track, writes the cleaned file
// beside it through one of the passes, and reopens the result as the preview.
#include "clean/process_track.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "core/app_state.h"
#include "core/ids.h"
#include "clean/hum_remove.h"
#include "clean/pass.h"
#include "clean/track_io.h"
#include "platform/file/file.h"
#include "ui/displays.h"
#include "res/ui_text.h"

namespace {

constexpr int32_t DEFAULT_BUFFER_BYTES = 8192;
constexpr const char* WRITE_FAILED = "the cleaned file cannot be written: the disk may be full";

// The file a run writes, beside the cleaned file, until the run succeeded.
char cleaned_part_name[sizeof app.cleaned_file_name + 8] = "";

int fail(int code, const char* why)
{
    if (!app.clean_failure)
        app.clean_failure = why;
    return code;
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
// point every frame of half an input buffer, x prefilled with the columns;
// after them, in the same block, the picture, one point a column.
int create_view_points()
{
    const int32_t columns = std::max(0, app.wave_view_rect.right - app.wave_view_rect.left);
    const int32_t count = std::max((columns + 64) & ~15, app.track_in_info.buffer_size / 2);
    auto* points = static_cast<point*>(std::calloc(size_t(count) + size_t(columns), sizeof(point)));
    if (!points)
        return -1;
    for (int32_t i = 0; i <= columns && i < count; ++i)
        points[i].x = app.wave_view_rect.left + i;
    point* picture = points + count;
    for (int32_t i = 0; i < columns; ++i)
        picture[i].x = app.wave_view_rect.left + i;
    app.view_points = points;
    app.view_points_count = count;
    app.view_cursor = 0;
    app.view_picture = picture;
    app.view_picture_size = int16_t(columns);
    app.view_picture_count = 0;
    return 0;
}

// The passes' points go to the wave view, which shows the newest of them,
// one a column: a pass hands over one input buffer's points, and the last
// buffer of a track may give only one or two (or none), which alone would
// draw a dot, and a pass that took no points would draw the table's rest.
// The picture fills from the left and then moves left as points come.
void show_on_view(int16_t count, const point* points)
{
    const int32_t columns = std::min<int32_t>(app.view_width, app.view_picture_size);
    if (!app.view_picture || !points || columns <= 0)
        return;
    // The count is 16-bit: more points than that (a very large buffer) wrap it.
    const int32_t given = std::min<int32_t>(uint16_t(count), app.view_points_count);
    if (given <= 0)
        return;   // nothing new: the view keeps its picture
    point* picture = app.view_picture;
    const int32_t taken = std::min(given, columns);
    const point* newest = points + (given - taken);
    const int32_t kept = std::min<int32_t>(app.view_picture_count, columns - taken);
    const int32_t dropped = app.view_picture_count - kept;
    for (int32_t i = 0; i < kept; ++i)
        picture[i].y = picture[i + dropped].y;
    for (int32_t i = 0; i < taken; ++i)
        picture[kept + i].y = newest[i].y;
    app.view_picture_count = int16_t(kept + taken);
    draw_wave_view(app.view_picture_count, picture, nullptr);
}

// Whether the AC sinus Freq can be removed at the track's rate, asked on a
// second look at the track before the cleaned file is created, so that a
// refusal writes nothing. A track whose format cannot be read passes here
// and fails in the run as any would.
bool hum_freq_suits_track(const char* name)
{
    riff_info info{};
    riff_file f = riff_open(name, &info, MMIO_READ | MMIO_ALLOCBUF);
    if (!f)
        return true;
    riff_chunk riff{}, fmt{};
    fmt.id = FOURCC_FMT;
    wave_format format{};
    const bool read = riff_descend(f, &riff, nullptr, 0) == 0 && riff.form_type == FOURCC_WAVE &&
                      riff_descend(f, &fmt, &riff, MMIO_FINDCHUNK) == 0 && fmt.size >= 16 &&
                      riff_read(f, &format, 16) == 16;
    riff_close(f);
    if (!read || hum_freq_allowed(app.ac_sinus_freq, format.samples_per_sec))
        return true;
    char text[160];
    std::snprintf(text, sizeof text,
                  ui_text("AC sinus Freq %d Hz cannot be removed: it must lie between %d Hz and a quarter of the "
                          "track's rate (%u Hz)"),
                  int(app.ac_sinus_freq), HUM_LOWEST_FREQ, unsigned(format.samples_per_sec / 4));
    message_box(nullptr, text, APP_CAPTION, MB_OK);
    return false;
}

void close_file(riff_file* f, int* result)
{
    if (!*f)
        return;
    // The cleaned file's last bytes go out on close: a failure there is a
    // failed run, not a finished one.
    if (riff_close(*f) != 0 && result && *result == 0)
        *result = fail(-6, WRITE_FAILED);
    *f = nullptr;
}

// Steps 5 to 14 of a run, with the track open as track_in.
int clean_into_file(int mode)
{
    const int format_bytes = read_track_format();
    if (format_bytes < 0) {
        if (app.track_in_chunk.id == FOURCC_FMT && app.track_in_chunk.size > sizeof app.track_format) {
            message_box(nullptr, ui_text("Only 16-bit PCM tracks with one or two channels can be cleaned"),
                        APP_CAPTION, MB_OK);
            return fail(-1, "only 16-bit PCM tracks with one or two channels can be cleaned");
        }
        return fail(-1, "the track is not a WAV file that can be read");
    }
    if (!track_format_supported(format_bytes)) {
        message_box(nullptr, ui_text("Only 16-bit PCM tracks with one or two channels can be cleaned"), APP_CAPTION,
                    MB_OK);
        return fail(-1, "only 16-bit PCM tracks with one or two channels can be cleaned");
    }

    app.track_in_chunk = riff_chunk{};
    app.track_in_chunk.id = FOURCC_DATA;
    if (riff_descend(app.track_in, &app.track_in_chunk, &app.track_in_riff, MMIO_FINDCHUNK) != 0)
        return fail(-2, "the track has no sample data");

    if (plain_create_beside(app.cleaned_file_name, cleaned_part_name, sizeof cleaned_part_name) != 0) {
        cleaned_part_name[0] = '\0';
        return fail(-1, "the cleaned file cannot be created");
    }
    app.track_out = riff_open(cleaned_part_name, &app.track_out_info, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    if (!app.track_out)
        return fail(-1, "the cleaned file cannot be created");

    app.track_out_riff = riff_chunk{};
    app.track_out_riff.form_type = FOURCC_WAVE;
    if (riff_create_chunk(app.track_out, &app.track_out_riff, MMIO_CREATERIFF) != 0)
        return fail(-1, WRITE_FAILED);
    app.track_out_chunk = riff_chunk{};
    app.track_out_chunk.id = FOURCC_FMT;
    app.track_out_chunk.size = 16;
    // Mono >>Stereo makes two channels of a one-channel track: its file says
    // so. Every other pass writes the track's format chunk as it is.
    uint8_t out_format[sizeof app.track_format];
    std::memcpy(out_format, app.track_format, sizeof out_format);
    wave_format f = track_wave_format();
    if (mode == MODE_MONO_STEREO && f.channels == 1) {
        f.channels = 2;
        f.block_align = 4;
        f.avg_bytes_per_sec = f.samples_per_sec * 4;
        std::memcpy(out_format, &f, 16);
    }
    if (riff_create_chunk(app.track_out, &app.track_out_chunk, 0) != 0 ||
        riff_write(app.track_out, out_format, format_bytes) != format_bytes)
        return fail(-1, WRITE_FAILED);

    PlaybackRecord& play = app.playback_record;
    play.sample_rate = int32_t(f.samples_per_sec);
    play.bits_per_sample = int8_t(f.bits_per_sample);
    play.channels = int8_t(f.channels);
    play.active = 1;
    std::memset(&play.source_format, 0, sizeof play.source_format);
    std::memcpy(play.source_format.bytes, out_format, size_t(format_bytes));

    if (riff_ascend(app.track_out, &app.track_out_chunk, 0) != 0)
        return fail(-5, WRITE_FAILED);
    app.track_out_chunk = riff_chunk{};
    app.track_out_chunk.id = FOURCC_DATA;
    if (riff_create_chunk(app.track_out, &app.track_out_chunk, 0) != 0)
        return fail(-5, WRITE_FAILED);

    if (riff_get_info(app.track_in, &app.track_in_info) != 0)
        return fail(-3, "the track cannot be read");
    if (riff_get_info(app.track_out, &app.track_out_info) != 0)
        return fail(-5, WRITE_FAILED);
    play.data_bytes = app.track_in_chunk.size;
    if (app.track_in_info.buffer_size == 0)
        return fail(-3, "the track cannot be read");
    play.input_buffer_bytes = app.track_in_info.buffer_size;

    if (!app.view_points && create_view_points() != 0)
        return fail(-1, "not enough memory to clean the track");
    app.view_picture_count = 0;   // each run draws its own track from the left

    pass_io io = {&app.track_in_info, &app.track_out_info, show_on_view};
    const int result = run_clean_pass(pass_for_mode(mode), &io);
    // Fade In ends on its own line, not the wide DeClicker's count after it.
    if (result == 0 && mode == MODE_FADE_IN)
        std::snprintf(app.result_text, sizeof app.result_text, ui_text("fade in complete"));
    if (result == PASS_NO_WORK_AREA)
        fail(-1, "not enough memory to clean the track");
    else if (result == PASS_BAD_SETTING)
        fail(result, mode == MODE_FILTER_EX ? "FilterEx cannot work at the track's rate"
                                            : "the AC sinus frequency does not suit the track");
    else if (result != 0)
        fail(result, WRITE_FAILED);

    // The chunks are closed whatever the pass gave.
    app.track_out_info.flags |= MMIO_DIRTY;
    if (riff_set_info(app.track_out, &app.track_out_info) != 0 ||
        riff_ascend(app.track_out, &app.track_out_chunk, 0) != 0)
        return fail(-6, WRITE_FAILED);
    if (riff_ascend(app.track_out, &app.track_out_riff, 0) != 0)
        return fail(-5, WRITE_FAILED);
    return result;
}

} // namespace

// --- the driver ------------------------------------------------------------------

int32_t process_track(window dialog, const char* name, int mode)
{
    app.clean_failure = nullptr;
    // The preview of an earlier run (Fade In runs while one is open) is
    // replaced by this run's; its handle is not left behind.
    close_preview();

    app.track_out_info = riff_info{};
    app.track_in_info = riff_info{};
    int result = 0;
    if (!name || !pass_for_mode(mode)) {
        result = fail(-1, "no track to clean");
    } else if (!(app.track_in = riff_open(name, &app.track_in_info, MMIO_READ | MMIO_ALLOCBUF))) {
        report_open_error(app.track_in_info.error);
        result = fail(-1, "the track cannot be opened");
    } else if (make_cleaned_name(name, mode, app.cleaned_file_name, sizeof app.cleaned_file_name) != 0) {
        message_box(nullptr, ui_text("File name too long"), APP_CAPTION, MB_OK);
        result = fail(-1, "the track's file name is too long");
    } else if (std::strcmp(app.cleaned_file_name, name) == 0 || plain_same_file(app.cleaned_file_name, name)) {
        // The track's name already carries the letter, or the cleaned name
        // leads to the track (a symbolic or hard link): the run would
        // replace the track itself.
        message_box(nullptr, ui_text("The cleaned file would overwrite the track itself"), APP_CAPTION, MB_OK);
        result = fail(-1, "the cleaned file would overwrite the track");
    } else if (mode == MODE_DEHUM && !hum_freq_suits_track(name)) {
        result = fail(PASS_BAD_SETTING, "the AC sinus frequency does not suit the track");
    } else {
        show_text(dialog, IDC_STATUS, app.status_text);
        std::snprintf(app.capture_file_name, sizeof app.capture_file_name, "%s", name);
        show_text(dialog, IDC_FILE_BOX, app.cleaned_file_name);
        // The run writes into a file of its own beside the cleaned file;
        // only a run that succeeded gives it the cleaned file's name, so a
        // failed run leaves an earlier cleaned file as it was.
        cleaned_part_name[0] = '\0';
        result = clean_into_file(mode);
        close_file(&app.track_out, &result);
        if (cleaned_part_name[0]) {
            if (result == 0 && plain_rename(cleaned_part_name, app.cleaned_file_name) != 0)
                result = fail(-6, "the cleaned file cannot be given its name");
            if (result != 0)
                plain_remove(cleaned_part_name);   // no half-written file is left behind
        }
    }
    close_file(&app.track_in, nullptr);
    // A failed run says so in the status line, not the last good run's line.
    if (result != 0)
        std::snprintf(app.result_text, sizeof app.result_text, ui_text("cleaning failed: %s"),
                      ui_text(app.clean_failure ? app.clean_failure : WRITE_FAILED));
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
