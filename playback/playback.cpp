// Playback of the cleaned preview: two playback buffers take turns at the
// wave-output device while a periodic timer draws the part being heard.
//
// The view lock keeps the timer's thread and the dialog's thread apart: the
// timer routine holds it while it reads view_rows and view_cursor, writes
// the points and draws; the dialog's thread holds it while a fill writes
// view_rows and while a refill hands the buffer now heard to the timer
// (playing_frame). A refill therefore never shows a half-written half, and
// the timer waits at most one fill. The dialog's thread never kills the
// timer while it holds the lock (the kill waits for the routine).
#include "playback/playback.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include "core/ids.h"
#include "clean/track_io.h"
#include "ui/displays.h"
#include "platform/system/byte_order.h"
#include "platform/system/timer.h"
#include "res/ui_text.h"

namespace {

constexpr uint32_t TIMER_RESOLUTION_MS = 5;

std::mutex view_lock;

int32_t blocks_per_buffer()
{
    return app.play_buffer_blocks > 0 ? app.play_buffer_blocks : 0;
}

int32_t bytes_per_sample()
{
    return uint8_t(app.playback_record.bits_per_sample) >> 3;
}

// Bytes of one frame of the preview.
int32_t frame_bytes()
{
    return bytes_per_sample() * app.playback_record.channels;
}

// The rows of half `h` of view_rows (the tail follows half 1).
int16_t* rows_half(int h)
{
    return app.view_rows + int64_t(h) * blocks_per_buffer() * app.rows_per_block;
}

// Counters run in 16 bits and wrap on a long preview (a buffer of 128
// blocks of 8,192 bytes is about six seconds; 32,768 blocks is about 25
// minutes of CD sound). Compared through their difference they keep
// working across the wrap.
bool index_below(int16_t index, int16_t limit)
{
    return int16_t(uint16_t(limit) - uint16_t(index)) > 0;
}

unsigned write_buffer(wave_header* header)
{
    const unsigned e = wave_out_write(app.play_device, header, sizeof *header);
    if (e == MMSYSERR_NOERROR)
        ++app.headers_at_device;
    return e;
}

void start_view_timer()
{
    kill_play_timer();
    app.play_timer = timer_set_event(app.play_period, TIMER_RESOLUTION_MS, show_play_position,
                                     reinterpret_cast<uintptr_t>(&app.playback_record));
}

// Memory for this Play: two playback buffers of 2 x N x B bytes and the
// view rows, 2 x (N + 4) x Q of them. Kept from the first Play on and grown
// when a later preview needs more (larger blocks, or more rows per block
// from fewer channels); 0, or -1 with neither buffer left.
int reserve_memory(uint32_t buffer_bytes, int32_t rows)
{
    if (!app.play_buffers[0] || !app.play_buffers[1] || app.play_buffer_bytes < buffer_bytes) {
        std::free(app.play_buffers[0]);
        std::free(app.play_buffers[1]);
        app.play_buffers[0] = static_cast<uint8_t*>(std::calloc(buffer_bytes, 1));
        app.play_buffers[1] = static_cast<uint8_t*>(std::calloc(buffer_bytes, 1));
        app.play_buffer_bytes = buffer_bytes;
        if (!app.play_buffers[0] || !app.play_buffers[1]) {
            std::free(app.play_buffers[0]);
            std::free(app.play_buffers[1]);
            app.play_buffers[0] = app.play_buffers[1] = nullptr;
            app.play_buffer_bytes = 0;
            return -1;
        }
    }
    if (!app.view_rows || app.view_rows_count < rows) {
        std::free(app.view_rows);
        app.view_rows = static_cast<int16_t*>(std::calloc(size_t(rows), sizeof(int16_t)));
        app.view_rows_count = app.view_rows ? rows : 0;
        app.rows_cursor = app.view_rows;
        if (!app.view_rows)
            return -1;
    }
    return 0;
}

// Record comes back with the end of a preview only where it may be pressed:
// in Idle, or as the Stop of a recording it started. Monitor, the signal
// sampling and a take hold the one input ring, which Record would open a
// second time.
void enable_record_after_preview()
{
    const bool ring_in_use = app.monitoring || app.signal_waiting || (app.recording && app.take_recording);
    enable_item(app.main_dialog, CMD_RECORD, !ring_in_use);
}

// Puts the counters back as they are before a Play.
void rewind_counters()
{
    app.blocks_queued = int16_t(blocks_per_buffer());
    app.frame_counter = 1;
    app.blocks_filled = 0;
}

void unprepare_both()
{
    for (wave_header& h : app.play_headers) {
        app.current_header = &h;
        wave_out_unprepare_header(app.play_device, &h, sizeof h);
    }
}

// The preview has been played to its end (or the device refused a buffer):
// the device is reset, the view timer stopped, the cleaned file opened
// again at its start for the next Play.
void end_of_playback()
{
    unprepare_both();
    wave_out_reset(app.play_device);
    app.stale_done_events = int16_t(app.stale_done_events + app.headers_at_device);
    app.headers_at_device = 0;
    kill_play_timer();
    // A Pause pressed as the last buffer ended is undone by the restart
    // below: the button must not go on offering "Restart".
    if (app.playback_paused)
        set_item_text(app.main_dialog, CMD_PAUSE, ui_text("Pause"));
    app.playback_paused = 0;
    close_preview();
    reopen_preview(app.cleaned_file_name);
    wave_out_restart(app.play_device);
    rewind_counters();
    app.playback_running = 0;
    app.refill_due = 0;
    enable_item(app.main_dialog, CMD_PLAY, true);
    enable_record_after_preview();
    enable_item(app.main_dialog, CMD_PAUSE, false);
}

} // namespace

// --- the preview file and the device ------------------------------------------------

int reopen_preview(const char* name)
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
        app.playback_record.data_bytes = app.track_in_chunk.size;
        if (riff_get_info(app.track_in, &app.track_in_info) != 0)
            result = -5;
    }
    if (result != 0) {
        // A preview that cannot be played is not left open for Play.
        riff_close(app.track_in);
        app.track_in = nullptr;
    }
    return result;
}

int open_preview(const char* name)
{
    const int result = reopen_preview(name);
    if (result != 0) {
        std::snprintf(app.result_text, sizeof app.result_text,
                      ui_text("cleaning failed: the cleaned file cannot be reopened"));
        return result;
    }
    // Without any output device the preview stays open all the same: the
    // cleaned file is made, and Play says why it cannot be heard.
    if (wave_out_get_num_devs() > 0)
        open_wave_out(&app.playback_record, playback_done_callback);
    return 0;
}

void playback_done_callback(void*, unsigned message, uintptr_t, uintptr_t header, uintptr_t)
{
    // The position record is read in samples; the timer's thread writes the
    // same field, so both store it atomically.
    std::atomic_ref<uint32_t>(app.play_position.type).store(TIME_SAMPLES, std::memory_order_relaxed);
    if (message == WOM_DONE)
        post_message(app.main_dialog, MSG_PLAYBACK_DONE, 0, lparam(header));
}

int open_wave_out(PlaybackRecord* record, wave_callback completion)
{
    if (!record)
        return -1;
    // The device of an earlier run is closed before its successor opens:
    // one preview, one device.
    if (app.play_device) {
        stop_playback();
        wave_out_close(app.play_device);
        app.play_device = nullptr;
        record->device = nullptr;
    }
    if (acm_format_suggest(&record->source_format.fmt, &record->play_format.fmt, sizeof record->play_format,
                           ACM_FORMATSUGGESTF_NONE) != MMSYSERR_NOERROR)
        return -1;
    record->play_format.fmt.bits_per_sample = uint8_t(record->bits_per_sample);
    wave_out device = nullptr;
    const unsigned e = wave_out_open(&device, WAVE_MAPPER, &record->play_format.fmt, completion,
                                     reinterpret_cast<uintptr_t>(record), CALLBACK_FUNCTION);
    if (e != MMSYSERR_NOERROR) {
        wave_in_error(e);
        return -1;
    }
    app.play_device = device;
    record->device = device;
    return 0;
}

// --- Play ----------------------------------------------------------------------------

int32_t start_playback()
{
    // A timer left from an earlier Play must not read the memory about to
    // be sized again.
    kill_play_timer();
    if (app.playback_running)
        stop_playback();

    const PlaybackRecord& record = app.playback_record;
    const int32_t n = blocks_per_buffer();
    const int32_t block = record.input_buffer_bytes;
    if (!app.track_in || !app.play_device || n == 0 || block <= 0 || frame_bytes() <= 0 || record.sample_rate <= 0)
        return -1;   // nothing that could be played

    const uint32_t frames = uint32_t(block) / uint32_t(bytes_per_sample()) / uint32_t(record.channels);
    if (frames == 0)
        return -1;
    app.preview_blocks = int16_t(record.data_bytes / uint32_t(bytes_per_sample()) / uint32_t(record.channels) / frames);
    app.rows_per_block = int32_t(frames / uint32_t(app.view_decimation + 1));
    app.play_period = uint32_t(uint64_t(frames) * 1000 / uint32_t(record.sample_rate));

    const int32_t q = app.rows_per_block;
    // A wave header counts its bytes in 32 bits: larger buffers cannot be
    // played at all, and are refused like memory that cannot be had.
    const uint64_t buffer_bytes = 2ull * uint64_t(n) * uint64_t(block);
    const uint64_t rows = 2ull * uint64_t(n + 4) * uint64_t(q);
    if (buffer_bytes > UINT32_MAX || rows > INT32_MAX || reserve_memory(uint32_t(buffer_bytes), int32_t(rows)) != 0)
        return PLAYBACK_NO_MEMORY;

    // The tail after half 1: a flat line along the view's top.
    std::fill_n(rows_half(2), q, int16_t(app.wave_view_rect.top));
    app.rows_cursor = rows_half(0);

    start_view_timer();

    app.blocks_queued = int16_t(n);
    for (int i = 0; i < 2; ++i) {
        wave_header& h = app.play_headers[i];
        h = wave_header{};
        h.data = app.play_buffers[i];
        h.buffer_length = uint32_t(n) * uint32_t(block);
    }
    {
        std::lock_guard<std::mutex> held(view_lock);
        app.frame_counter = 1;
        app.playing_frame = 1;
    }
    app.blocks_filled = 0;
    app.header_parity = 0;
    app.current_header = &app.play_headers[0];
    app.previous_header = nullptr;
    app.rows_cursor = rows_half(0);
    app.refill_due = 0;

    int16_t filled;
    {
        std::lock_guard<std::mutex> held(view_lock);
        filled = fill_playback_buffer(0, app.play_buffers[0], app.current_header);
    }
    if (filled < 0)
        return filled;
    // A preview without a single sample has nothing to play: the device
    // would never give the buffer back.
    if (app.current_header->buffer_length == 0)
        return -1;
    app.blocks_filled = filled;
    app.blocks_queued = int16_t(app.blocks_queued + n);
    return filled;
}

void begin_playback()
{
    app.playback_running = 1;
    if (write_buffer(app.current_header) != MMSYSERR_NOERROR) {
        end_of_playback();
        return;
    }
    app.refill_due = 1;
    on_playback_refill();
}

// --- the two buffers -------------------------------------------------------------

void on_playback_refill()
{
    // A refill asked for by a playback that has since stopped is dropped.
    if (!app.refill_due || !app.playback_running)
        return;
    app.refill_due = 0;
    bool first_buffer = false;
    {
        std::lock_guard<std::mutex> held(view_lock);
        app.previous_header = app.current_header;
        app.header_parity ^= 1;
        const int h = app.header_parity;
        app.rows_cursor = rows_half(h);
        app.current_header = &app.play_headers[h];
        app.current_header->flags = 0;
        app.current_header->loops = 0;
        app.current_header->buffer_length = 0;   // nothing to play unless this fill brings it
        if (!app.track_open)
            return;
        const int16_t filled = fill_playback_buffer(app.blocks_filled, app.play_buffers[h], app.current_header);
        if (filled < 0)
            return;
        app.blocks_filled = filled;
        app.playing_frame = app.frame_counter;
        first_buffer = app.frame_counter == 1;
    }
    if (first_buffer) {
        const int length = std::snprintf(app.preview_status, sizeof app.preview_status,
                                         ui_text("File:%s after cleaning preview - frame  %d"), app.cleaned_file_name,
                                         int(app.frame_counter));
        app.status_number_pos = std::clamp(length, 1, int(sizeof app.preview_status) - 1) - 1;
        set_item_text(app.main_dialog, IDC_STATUS, app.preview_status);
    }
    app.frame_counter = int16_t(app.frame_counter + 1);
}

void on_playback_done(wave_header* header)
{
    (void)header;   // buffers come back in the order written: it is previous_header
    if (app.stale_done_events > 0) {
        --app.stale_done_events;   // returned by a reset that stopped its playback
        return;
    }
    if (!app.playback_running)
        return;
    if (app.headers_at_device > 0)
        --app.headers_at_device;

    wave_header* prepared = app.current_header;
    if (prepared && prepared->buffer_length > 0) {
        if (app.previous_header &&
            wave_out_unprepare_header(app.play_device, app.previous_header, sizeof *app.previous_header) == MMSYSERR_NOERROR) {
            app.previous_header->flags = 0;
            app.previous_header->loops = 0;
        }
        app.blocks_queued = int16_t(app.blocks_queued + blocks_per_buffer());
        // Asked for before the write: a device that plays the buffer at
        // once must find the refill ahead of its next buffer-done event.
        app.refill_due = 1;
        post_message(app.main_dialog, MSG_PLAYBACK_REFILL, 0, 0);
        if (write_buffer(prepared) != MMSYSERR_NOERROR)
            end_of_playback();
        return;
    }
    end_of_playback();
}

int16_t fill_playback_buffer(int16_t first, uint8_t* buffer, wave_header* header)
{
    const int32_t q = app.rows_per_block;
    uint32_t appended = 0;
    app.fill_index = first;
    riff_info& in = app.track_in_info;
    while (index_below(app.fill_index, app.blocks_queued)) {
        if (!app.track_in || in.next >= track_data_end(&in)) {
            if (!app.track_in || riff_advance(app.track_in, &in, MMIO_READ) != 0 || track_data_end(&in) <= in.next) {
                if (!app.play_device)
                    return -1;
                break;
            }
        }
        uint8_t* end = track_data_end(&in);
        const uint32_t bytes = std::min<uint32_t>(uint32_t(end - in.next), app.play_buffer_bytes - appended);
        if (bytes == 0)
            break;   // the buffer is full (a block larger than the one it was sized for)
        compute_view_rows(&in, app.rows_cursor);
        std::memcpy(buffer + appended, in.next, bytes);
        appended += bytes;
        in.next += bytes;
        app.rows_cursor += q;
        app.fill_index = int16_t(app.fill_index + 1);
    }
    header->buffer_length = appended;
    header->flags = 0;
    header->loops = 0;
    wave_out_prepare_header(app.play_device, header, sizeof *header);
    return app.fill_index;
}

int32_t compute_view_rows(const riff_info* in, int16_t* rows)
{
    const int32_t q = app.rows_per_block;
    const int32_t frame = frame_bytes();
    int32_t written = 0;
    // Rows go only where the block's Q rows lie inside view_rows.
    if (frame > 0 && rows && app.view_rows && rows >= app.view_rows &&
        rows + q <= app.view_rows + app.view_rows_count) {
        const uint8_t* p = in->next;
        // Where the data does not start on the block's frame grid (a format
        // chunk of 18 bytes puts it at byte 46), a block opens inside a
        // frame: its rest is stepped over, so that every row is made of
        // left samples.
        const int64_t into_data = in->buffer_disk_offset + (p - in->buffer) - int64_t(app.track_in_chunk.data_offset);
        const int64_t phase = into_data > 0 ? into_data % frame : 0;
        if (phase != 0)
            p = std::min(p + (frame - phase), static_cast<const uint8_t*>(track_data_end(in)));
        const int64_t available = (track_data_end(in) - p) / frame;
        const uint32_t frames = uint32_t(app.playback_record.input_buffer_bytes) / uint32_t(frame);
        const int64_t count = std::min<int64_t>(available, frames);
        int16_t slots[5] = {};
        int c = app.view_decimation;
        for (int64_t i = 0; i < count; ++i, p += frame) {
            // The left sample (a mono file's only one), little-endian.
            slots[c] = load_le16_signed(p);
            if (c == 0) {
                if (written < q)
                    rows[written++] = int16_t(level_to_view_row(slots, 4));
                c = 5;
            }
            --c;
        }
    }
    app.view_cursor = 0;
    return written;
}

// --- the view timer --------------------------------------------------------------

void show_play_position(uintptr_t, unsigned, uintptr_t user, uintptr_t, uintptr_t)
{
    const auto* record = reinterpret_cast<const PlaybackRecord*>(user);
    mm_time position = {TIME_SAMPLES, 0};
    if (!app.play_device || wave_out_get_position(app.play_device, &position, sizeof position) != MMSYSERR_NOERROR ||
        position.value == 0)
        return;
    // The device's callback also writes the type field, from its thread.
    std::atomic_ref<uint32_t>(app.play_position.type).store(TIME_SAMPLES, std::memory_order_relaxed);
    if (!record || record->input_buffer_bytes <= 0)
        return;
    const uint32_t align = record->play_format.fmt.block_align;
    const uint32_t frames_per_block = align ? uint32_t(record->input_buffer_bytes) / align : 0;
    const uint32_t n = uint32_t(blocks_per_buffer());
    if (frames_per_block == 0 || n == 0)
        return;
    uint32_t b = position.value / frames_per_block;   // blocks heard since Play
    if (b > n)
        b %= n;

    int16_t frame;
    {
        std::lock_guard<std::mutex> held(view_lock);
        app.play_position.value = position.value;
        if (!app.view_rows || !app.view_points)
            return;
        const int32_t q = app.rows_per_block;
        frame = app.playing_frame;
        const int16_t* rows = rows_half(frame & 1 ? 0 : 1) + int64_t(b) * q;
        point* points = app.view_points + app.view_cursor;
        if (copy_view_rows(points, rows, q) != 0)
            return;
        draw_wave_view(int16_t(q), points, app.play_wave_pen);
        if (frame == app.shown_frame)
            return;
        app.shown_frame = frame;
    }
    // Even-numbered buffers are not shown. The status line belongs to the
    // dialog's thread: the number goes there by message.
    if (frame & 1)
        post_message(app.main_dialog, MSG_PREVIEW_FRAME, wparam(uint16_t(frame)), 0);
}

int copy_view_rows(point* points, const int16_t* rows, int32_t count)
{
    const int16_t* rows_end = app.view_rows + app.view_rows_count;
    const point* points_end = app.view_points + app.view_points_count;
    const int32_t top = app.wave_view_rect.top;
    const int32_t bottom = app.wave_view_rect.bottom;
    if (!rows || !points || rows < app.view_rows || points < app.view_points)
        return -2;
    for (int32_t i = 0; i < count; ++i) {
        if (rows + i >= rows_end || points + i >= points_end)
            return -2;
        const int32_t y = rows[i];
        if (y < top || y > bottom)
            return -1;
        points[i].y = y;
    }
    return 0;
}

msg_result on_preview_frame(window dialog, wparam number)
{
    // A number posted just before the playback stopped is not shown.
    if (!app.playback_running)
        return 1;
    const int pos = app.status_number_pos;
    if (pos >= 0 && pos < int(sizeof app.preview_status) - 1) {
        std::snprintf(app.preview_status + pos, sizeof app.preview_status - size_t(pos), "%d",
                      int(int16_t(uint16_t(number))));
        set_item_text(dialog, IDC_STATUS, app.preview_status);
    }
    return 1;
}

// --- stopping --------------------------------------------------------------------

void stop_playback()
{
    kill_play_timer();
    const bool was_running = app.playback_running != 0;
    if (was_running) {
        wave_out_reset(app.play_device);
        // The reset gave back every buffer written: their buffer-done
        // events are on their way and belong to this playback.
        app.stale_done_events = int16_t(app.stale_done_events + app.headers_at_device);
        app.headers_at_device = 0;
        unprepare_both();
        rewind_counters();
        app.playback_running = 0;
        app.refill_due = 0;
    }
    if (app.playback_paused) {
        wave_out_restart(app.play_device);   // a reset leaves a paused device paused
        app.playback_paused = 0;
        set_item_text(app.main_dialog, CMD_PAUSE, ui_text("Pause"));
    }
    if (was_running) {
        enable_record_after_preview();
        enable_item(app.main_dialog, CMD_PLAY, true);
        enable_item(app.main_dialog, CMD_PAUSE, false);
    }
}

void restart_play_timer()
{
    start_view_timer();
}

void kill_play_timer()
{
    if (app.play_timer)
        timer_kill_event(app.play_timer);
    app.play_timer = 0;
}
