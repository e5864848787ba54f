// The wave-input ring: its parameters, the open on the default device in a
// PCM format, the sample memory, start, stop and close, and the three
// failure reports that every capture routine uses.
#include "capture/capture_ring.h"
#include "capture/capture_watch.h"
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include "core/app_state.h"
#include "capture/wav_writer.h"
#include "platform/acm/acm.h"
#include "platform/file/file.h"
#include "platform/system/system.h"
#include "platform/window/window.h"
#include "res/ui_text.h"

namespace {

constexpr int ERROR_TEXT_BYTES = 256;      // the device's text: at most 255 characters
constexpr int API_FAILURE_BYTES = 80;      // the "... failed" line is cut to fit this

int allocations_before_failure = -1;       // test hook; -1: every allocation works

// Sample memory of one buffer, zero-filled.
uint8_t* alloc_block(uint32_t bytes)
{
    if (allocations_before_failure == 0) {
        allocations_before_failure = -1;
        return nullptr;
    }
    if (allocations_before_failure > 0)
        --allocations_before_failure;
    // A zero-length buffer still gets a block of its own: the device, not
    // the allocation, is the one to refuse it.
    return static_cast<uint8_t*>(std::calloc(1, bytes ? bytes : 1));
}

// Opens the device in capture_format and gives each used header its memory.
int open_and_allocate(CaptureBufferRing* ring, wave_callback callback)
{
    wave_in device = nullptr;
    unsigned e = wave_in_open(&device, WAVE_MAPPER, &ring->capture_format.fmt, callback,
                              reinterpret_cast<uintptr_t>(ring), CALLBACK_FUNCTION);
    if (e != MMSYSERR_NOERROR) {
        wave_in_error(e);
        return -1;
    }
    ring->device = device;
    for (int i = 0; i < ring->buffer_count; ++i) {
        uint8_t* block = alloc_block(ring->buffer_bytes);
        if (!block) {
            // Without its memory the ring cannot run: give back what this
            // open took, so the device is free for the next attempt and
            // nothing is left behind.
            for (int j = 0; j < i; ++j) {
                std::free(ring->headers[j].data);
                ring->headers[j].data = nullptr;
            }
            wave_in_close(ring->device);
            ring->device = nullptr;
            return -1;
        }
        ring->headers[i].data = block;
    }
    return 0;
}

void show_wave_in_error(unsigned code, const char* caption)
{
    char text[ERROR_TEXT_BYTES];
    wave_in_get_error_text(code, text, sizeof text);
    message_box(nullptr, ui_text(text), caption, MB_OK);   // the device reports in English
}

}  // namespace

void capture_ring_fail_alloc_after(int blocks) { allocations_before_failure = blocks; }

void finish_capture_file()
{
    stop_capture_watch();
    if (!app.recording || !app.capture_file_handle)
        return;
    patch_wav_sizes(app.capture_file_handle, &app.capture_file_format, app.data_bytes_written);
    plain_sync(app.capture_file_handle);   // a finished take is on the disk, not only in the cache
    plain_close(app.capture_file_handle);
    app.capture_file_handle = nullptr;
}

void set_capture_params(CaptureBufferRing* ring, int channels, int bits, int rate,
                        uint32_t buffer_bytes, int count)
{
    const wave_format& chosen = ring->chosen_format.fmt;
    ring->sample_rate = rate ? rate : int32_t(chosen.samples_per_sec);
    ring->channels = int8_t(channels ? channels : (chosen.channels & 0xFF));
    ring->bits_per_sample = int8_t(bits ? bits : (chosen.bits_per_sample & 0xFF));
    ring->buffer_bytes = buffer_bytes;
    // The count field is 8 bits wide: every count above the capacity is
    // limited before it is narrowed, so 128 and more also run 32 buffers.
    if (count > CAPTURE_RING_HEADERS)
        count = CAPTURE_RING_HEADERS;
    ring->buffer_count = int8_t(count < 0 ? 0 : count);
}

int open_wave_in(CaptureBufferRing* ring, wave_callback callback)
{
    wave_format& f = ring->capture_format.fmt;
    f.format_tag = WAVE_FORMAT_PCM;
    f.channels = uint16_t(ring->channels);
    f.samples_per_sec = uint32_t(ring->sample_rate);
    f.bits_per_sample = uint16_t(ring->bits_per_sample);
    f.block_align = uint16_t(ring->channels * (ring->bits_per_sample / 8));
    f.avg_bytes_per_sec = uint32_t(f.block_align) * uint32_t(ring->sample_rate);
    f.cb_size = 0;
    return open_and_allocate(ring, callback);
}

int open_wave_in_suggested(CaptureBufferRing* ring, wave_callback callback)
{
    if (acm_format_suggest(&ring->chosen_format.fmt, &ring->capture_format.fmt, FORMAT_AREA_BYTES,
                           ACM_FORMATSUGGESTF_NONE) != MMSYSERR_NOERROR)
        return -1;
    return open_and_allocate(ring, callback);
}

int start_sampling(CaptureBufferRing* ring)
{
    if (!ring->device)
        return -1;
    for (int i = 0; i < ring->buffer_count; ++i) {
        wave_header* h = &ring->headers[i];
        h->flags = 0;
        h->loops = 0;
        h->buffer_length = ring->buffer_bytes;
        unsigned e = wave_in_prepare_header(ring->device, h, sizeof *h);
        if (e == MMSYSERR_NOERROR)
            e = wave_in_add_buffer(ring->device, h, sizeof *h);
        if (e != MMSYSERR_NOERROR) {
            wave_in_error(e);
            return -1;
        }
    }
    unsigned e = wave_in_start(ring->device);
    if (e != MMSYSERR_NOERROR) {
        wave_in_error(e);
        return -1;
    }
    return 0;
}

int stop_sampling(CaptureBufferRing* ring)
{
    if (!ring->device)
        return -1;
    unsigned e = wave_in_stop(ring->device);
    if (e == MMSYSERR_NOERROR)
        e = wave_in_reset(ring->device);
    if (e != MMSYSERR_NOERROR) {
        wave_in_error(e);
        return -1;
    }
    return 0;
}

int close_wave_in(CaptureBufferRing* ring)
{
    if (!ring->device)
        return -1;
    for (int i = 0; i < ring->buffer_count; ++i) {
        wave_header* h = &ring->headers[i];
        unsigned e = wave_in_unprepare_header(ring->device, h, sizeof *h);
        if (e != MMSYSERR_NOERROR) {
            wave_in_error(e);
            return -1;
        }
        std::free(h->data);
        h->data = nullptr;
    }
    unsigned e = wave_in_close(ring->device);
    if (e != MMSYSERR_NOERROR) {
        wave_in_error(e);
        return -1;
    }
    ring->device = nullptr;
    return 0;
}

void wave_in_error(unsigned code) { show_wave_in_error(code, ui_text("WaveIn Error")); }

void fatal_wave_in_error(unsigned code)
{
    finish_capture_file();
    show_wave_in_error(code, ui_text("Fatal WaveIn Error"));
    // At once: the device and its thread are left running, so nothing may
    // run the program's static destructors under them.
    std::fflush(nullptr);
    _exit(1);
}

void api_failure(const char* name)
{
    int code = int(get_last_error());
    char text[API_FAILURE_BYTES];
    std::snprintf(text, sizeof text, ui_text("%s failed: GetLastError returned %d\n"), name, code);
    message_box(nullptr, text, ui_text("Fatal Error"), MB_OK);
}
