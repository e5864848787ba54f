// The preview's part of the state record: the output device, the two
// playback buffers, the view rows and the timer that follows the sound.
//
// Writers: playback/ on the dialog's thread; the timer routine writes
// shown_frame and play_position (playback.h). app_state_reset resets it.
#pragma once
#include <cstdint>
#include "platform/acm/acm.h"
#include "platform/audio_format.h"
#include "platform/sound/sound.h"

// The preview's format record for the wave-output device; open_preview
// (playback.cpp) writes it when the cleaned file is reopened.
struct PlaybackRecord {
    int32_t sample_rate;           // frames per second of the track (Hz)
    int8_t bits_per_sample;        // of the track
    int32_t input_buffer_bytes;    // B: size of track_in's I/O buffer (bytes), one block
    int8_t active;                 // set to 1; not read
    int8_t channels;               // of the track, 1 or 2
    format_area source_format;     // copy of the track's format chunk
    format_area play_format;       // the format the device is opened with
    wave_out device;               // the opened wave-output device
    uint32_t data_bytes;           // bytes in the data chunk of track_in
};

// Unless said otherwise, playback.cpp writes these on the dialog's thread;
// release_resources frees the memory and the device at the end of a run.
struct PreviewState {
    PlaybackRecord playback_record = {};
    wave_out play_device = nullptr;      // the output device while a preview is open; open_preview
    uint8_t* play_buffers[2] = {nullptr, nullptr};   // the two playback buffers, play_buffer_bytes each
    wave_header play_headers[2] = {};    // their headers; the device's thread holds one while it plays
    wave_header* current_header = nullptr;  // the header filled next
    wave_header* previous_header = nullptr; // the one before it, null at the start
    uint16_t header_parity = 0;          // index (0 or 1) of the buffer filled last
    uint32_t play_buffer_bytes = 0;      // bytes in each of play_buffers
    int16_t* view_rows = nullptr;        // the wave view's rows (pixel y) of the buffers queued
    int32_t view_rows_count = 0;         // rows allocated in view_rows
    int16_t* rows_cursor = nullptr;      // where the next block's rows go
    int32_t rows_per_block = 0;          // Q: rows of one block
    int8_t view_decimation = 4;          // frames skipped between rows (one row per five frames); never written
    int16_t blocks_queued = 0;           // blocks handed to fill so far (blocks)
    int16_t preview_blocks = 0;          // blocks in the whole track (blocks)
    int16_t blocks_filled = 0;           // blocks read into the buffers so far (blocks)
    int16_t fill_index = 0;              // block being read into a buffer
    int16_t frame_counter = 0;           // number of the last buffer written (under the view lock)
    int16_t playing_frame = 0;           // number of the buffer being heard (under the view lock)
    int16_t shown_frame = 0;             // the buffer number the view last showed; the timer routine
    uintptr_t play_timer = 0;            // the view timer, 0 when none; playback.cpp, release_resources
    uint32_t play_period = 0;            // timer period (ms), one block
    mm_time play_position = {};          // the device's position (frames); the timer routine, under the view lock
    char preview_status[256] = "";       // the preview's status line (UTF-8)
    int32_t status_number_pos = 0;       // byte index in preview_status where the buffer number goes
    int8_t playback_running = 0;         // from Play until the end of the preview or a stop
    int8_t refill_due = 0;               // a refill has been asked for and not yet run
    int16_t headers_at_device = 0;       // playback buffers written and not yet come back
    int16_t stale_done_events = 0;       // buffer-done events of a stopped playback still to come
};
