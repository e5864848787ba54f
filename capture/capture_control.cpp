// Moving the one wave-input ring between its three uses (Monitor, signal
// sampling, recording), owning the capture file while a recording runs, and
// the four wave-input callbacks that hand each filled buffer to the dialog.
//
// Every start that fails gives back what it took before it returns: the
// ring is stopped and closed, the conversion stream released, and a file it
// had already begun is finished as an empty recording and closed. The next
// start then finds everything free.
#include "capture/capture_control.h"

#include "core/app_state.h"
#include "core/ids.h"
#include "capture/capture_ring.h"
#include "capture/capture_watch.h"
#include "capture/compression.h"
#include "capture/wav_writer.h"
#include "ui/displays.h"
#include "platform/file/file.h"
#include "platform/system/system.h"
#include "platform/window/window.h"
#include "res/ui_text.h"

namespace {

constexpr uint32_t MONITOR_BUFFER_BYTES = 4096;
constexpr int MONITOR_RATE = 44100;
constexpr int SAMPLING_BUFFER_FACTOR = 6;    // signal sampling runs 6 times as many buffers

// Device thread: hands the filled header to the dialog as private message
// `event`.
void post_buffer(unsigned message, unsigned event, uintptr_t header)
{
    if (message == WIM_DATA)
        post_message(app.main_dialog, event, 0, lparam(header));
}

// A ring that started badly: stop and close it, quietly.
void close_ring()
{
    stop_sampling(&app.capture_ring);
    close_wave_in(&app.capture_ring);
}

// Starts the opened ring; on failure reports it (the ring has already shown
// its own box) and closes the ring again.
int start_opened_ring()
{
    if (start_sampling(&app.capture_ring) != 0) {
        api_failure("start_sampling");
        close_ring();
        return -1;
    }
    return 0;
}

// A capture file that was begun but will receive nothing: finished as an
// empty recording (true sizes, not the placeholders) and closed.
void finish_unused_capture_file()
{
    if (!app.capture_file_handle)
        return;
    patch_wav_sizes(app.capture_file_handle, &app.capture_file_format, 0);
    plain_close(app.capture_file_handle);
    app.capture_file_handle = nullptr;
}

// A ring without buffers (a Number of Buffers of 0) would run without ever
// delivering a sample: refused as a parameter the device cannot use.
bool refuse_empty_ring()
{
    if (app.capture_ring.buffer_count >= 1)
        return false;
    wave_in_error(MMSYSERR_INVALPARAM);
    return true;
}

// The chooser while no format has been chosen yet. 0, or -1 on a cancel.
int ensure_format_chosen()
{
    if (!app.format_chosen && choose_format(&app.capture_ring) != 0)
        return -1;
    app.format_chosen = 1;
    return 0;
}

} // namespace

void record_buffer_callback(void*, unsigned message, uintptr_t, uintptr_t p1, uintptr_t)
{
    if (message == WIM_DATA)
        capture_watch_delivered();
    post_buffer(message, MSG_RECORD_BUFFER, p1);
}

void monitor_buffer_callback(void*, unsigned message, uintptr_t, uintptr_t p1, uintptr_t)
{
    post_buffer(message, MSG_MONITOR_BUFFER, p1);
}

void track_buffer_callback(void*, unsigned message, uintptr_t, uintptr_t p1, uintptr_t)
{
    if (message == WIM_DATA)
        capture_watch_delivered();
    post_buffer(message, MSG_TRACK_BUFFER, p1);
}

void signal_buffer_callback(void*, unsigned message, uintptr_t, uintptr_t p1, uintptr_t)
{
    post_buffer(message, MSG_SIGNAL_BUFFER, p1);
}

int start_monitor()
{
    if (app.recording)
        return -1;
    set_capture_params(&app.capture_ring, 2, 16, MONITOR_RATE, MONITOR_BUFFER_BYTES, app.num_buffers);
    if (refuse_empty_ring())
        return -1;
    if (open_wave_in(&app.capture_ring, monitor_buffer_callback) != 0)
        return -1;
    if (start_opened_ring() != 0)
        return -1;
    app.monitoring = 1;
    return 0;
}

int start_signal_sampling(window dialog)
{
    if (app.signal_waiting)
        return -1;
    if (ensure_format_chosen() != 0)
        return -1;
    // Widened first: a large typed count must not wrap into a small one.
    int64_t count = int64_t(SAMPLING_BUFFER_FACTOR) * app.num_buffers;
    if (count > CAPTURE_RING_HEADERS)
        count = CAPTURE_RING_HEADERS;
    // Sampled in the PCM that the take will record from: for a compressed
    // format that is the PCM it is made from, not a PCM with the codec's
    // few bits per sample, which no device opens.
    int channels = 0, bits = 0, rate = 0;
    const wave_format& chosen = app.capture_ring.chosen_format.fmt;
    format_area pcm = {};
    if (chosen.format_tag != WAVE_FORMAT_PCM &&
        acm_format_suggest(&chosen, &pcm.fmt, FORMAT_AREA_BYTES, ACM_FORMATSUGGESTF_NONE) == MMSYSERR_NOERROR) {
        channels = pcm.fmt.channels;
        bits = pcm.fmt.bits_per_sample;
        rate = int(pcm.fmt.samples_per_sec);
    }
    set_capture_params(&app.capture_ring, channels, bits, rate, app.sampling_buffer_bytes & 0xFFFF, int(count));
    if (refuse_empty_ring())
        return -1;
    app.silence_countdown = app.silence_countdown_base >> 9;
    if (app.monitoring) {
        stop_monitor();
        set_item_text(dialog, CMD_MONITOR, "Monitor");
    }
    if (open_wave_in(&app.capture_ring, signal_buffer_callback) != 0)
        return -1;
    if (start_opened_ring() != 0)
        return -1;
    app.signal_buffer_count = 0;
    return 0;
}

int stop_monitor()
{
    if (app.monitoring) {
        if (stop_sampling(&app.capture_ring) != 0)
            return -1;
        close_wave_in(&app.capture_ring);
        draw_level_bars(0, 0, app.bar_full_scale, app.bar_full_scale);
    }
    app.monitoring = 0;
    return 0;
}

int start_capture(const char* file_name, wave_callback callback)
{
    app.recording = 0;
    if (ensure_format_chosen() != 0)
        return -1;
    CaptureBufferRing* ring = &app.capture_ring;
    set_capture_params(ring, 0, 0, 0, app.record_buffer_bytes, app.num_buffers);
    if (refuse_empty_ring())
        return -1;
    if (open_wave_in_suggested(ring, callback) != 0)
        return -1;
    // Buffers too small for one frame would never deliver a sample either.
    if (ring->buffer_bytes < ring->capture_format.fmt.block_align) {
        wave_in_error(MMSYSERR_INVALPARAM);
        close_wave_in(ring);
        return -1;
    }
    app.conversion_stream = open_conversion(&ring->capture_format.fmt, &ring->chosen_format.fmt);
    if (!app.conversion_stream) {
        close_ring();
        return -1;
    }
    bool existed = false;
    app.capture_file_handle = plain_open_or_create(file_name, &existed);
    if (!app.capture_file_handle) {
        api_failure("CreateFile");
        release_conversion();
        close_ring();
        return -1;
    }
    if (existed && message_box(nullptr, ui_text("Overwrite current file ?!"), APP_CAPTION,
                               MB_YESNO | MB_ICONQUESTION | MB_TOPMOST) == IDNO) {
        // Nothing has been written: the existing file is left as it was.
        plain_close(app.capture_file_handle);
        app.capture_file_handle = nullptr;
        release_conversion();
        close_ring();
        return -1;
    }
    // Yes to the question: the old file is overwritten, all of it, so no old
    // tail lies beyond the new recording's end.
    if (existed && plain_truncate(app.capture_file_handle, 0) != 0) {
        api_failure(file_name);
        plain_close(app.capture_file_handle);
        app.capture_file_handle = nullptr;
        release_conversion();
        close_ring();
        return -1;
    }
    if (write_wav_header(app.capture_file_handle, &ring->chosen_format) != 0) {
        // A file without its header is no recording (a full disk): told,
        // not begun, and no empty file is left to pass for one.
        plain_close(app.capture_file_handle);
        app.capture_file_handle = nullptr;
        plain_remove(file_name);
        release_conversion();
        close_ring();
        message_box(nullptr,
                    ui_text("The recording file could not be written: the disk may be full.\n"
                            "Nothing was recorded."),
                    "Trackmill", MB_OK | MB_ICONWARNING);
        return -1;
    }
    if (start_sampling(ring) != 0) {
        api_failure("start_sampling");
        finish_unused_capture_file();
        release_conversion();
        close_ring();
        return -1;
    }
    app.record_start_tick = get_tick_count();
    app.data_bytes_written = 0;
    app.recording = 1;
    start_capture_watch();
    return 0;
}

int end_capture()
{
    // The device may still be running: the recording goes on and the
    // caller may try again.
    if (stop_sampling(&app.capture_ring) != 0)
        return -1;
    stop_capture_watch();
    close_wave_in(&app.capture_ring);
    int result = 0;
    if (app.recording) {
        app.recording = 0;
        // The codec's last block and look-ahead belong to the recording too,
        // unless a buffer before them was lost to a full disk or the largest
        // size: the file then ends with the last buffer that went in whole.
        if (app.conversion_stream && app.capture_file_handle && !capture_append_fell_short())
            {
            const uint32_t tail = finish_conversion(app.conversion_stream);
            append_capture_data(app.conversion_output, tail);
        }
        unsigned code = acm_stream_unprepare_header(app.conversion_stream, &app.conversion_header, 0);
        if (code) {
            acm_error("acmStreamUnprepareHeader", code);
            result = -1;
        } else if ((code = acm_stream_close(app.conversion_stream, 0)) != 0) {
            acm_error("acmStreamClose", code);
            result = -1;
        } else {
            app.conversion_stream = nullptr;
        }
        // Whatever the stream says, the audio is in the file already: the
        // stream is let go and the file gets its true sizes.
        if (result != 0)
            release_conversion();
        free_conversion_block();
        if (app.capture_file_handle &&
            patch_wav_sizes(app.capture_file_handle, &app.capture_file_format, app.data_bytes_written) != 0)
            api_failure("WriteFile");
    }
    if (app.capture_file_handle) {
        // A finished recording is on the disk, not only in the cache, when Stop returns.
        if (plain_sync(app.capture_file_handle) != 0)
            api_failure("FlushFileBuffers");
        plain_close(app.capture_file_handle);
        app.capture_file_handle = nullptr;
    }
    return result;
}
