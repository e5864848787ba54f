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

// The preview's format record for the wave-output device.
struct PlaybackRecord {
    int32_t sample_rate;           // frames per second of the track
    int8_t bits_per_sample;        // of the track
    int32_t input_buffer_bytes;    // B: size of track_in's I/O buffer
    int8_t active;                 // set to 1; not read
    int8_t channels;               // of the track
    format_area source_format;     // copy of the track's format chunk
    format_area play_format;       // the format the device is opened with
    wave_out device;               // the opened wave-output device
    uint32_t data_bytes;           // bytes in the data chunk of track_in
};

struct PreviewState {
    PlaybackRecord playback_record = {};
    wave_out play_device = nullptr;      // wave_out
    uint8_t* play_buffers[2] = {nullptr, nullptr};
    wave_header play_headers[2] = {};
    wave_header* current_header = nullptr;
    wave_header* previous_header = nullptr;
    uint16_t header_parity = 0;
    uint32_t play_buffer_bytes = 0;      // bytes in each of play_buffers
    int16_t* view_rows = nullptr;
    int32_t view_rows_count = 0;         // rows allocated in view_rows
    int16_t* rows_cursor = nullptr;
    int32_t rows_per_block = 0;          // Q
    int8_t view_decimation = 4;          // one row per five frames
    int16_t blocks_queued = 0;
    int16_t preview_blocks = 0;
    int16_t blocks_filled = 0;
    int16_t fill_index = 0;
    int16_t frame_counter = 0;
    int16_t playing_frame = 0;
    int16_t shown_frame = 0;
    uintptr_t play_timer = 0;            // 0 when none
    uint32_t play_period = 0;            // ms, one block
    mm_time play_position = {};
    char preview_status[256] = "";
    int32_t status_number_pos = 0;
    int8_t playback_running = 0;         // from Play until the end of the preview or a stop
    int8_t refill_due = 0;               // a refill has been asked for and not yet run
    int16_t headers_at_device = 0;       // playback buffers written and not yet come back
    int16_t stale_done_events = 0;       // buffer-done events of a stopped playback still to come
};
