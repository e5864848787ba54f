// The cleaning's part of the state record: the track and the cleaned file
// being written, the work area, and the running pass's state.
//
// Writers: process_track (the files), the passes (their own state); the
// dialog's thread only. app_state_reset puts every field back.
#pragma once
#include <cstdint>
#include <vector>
#include "clean/fade_ramp.h"
#include "clean/hum_remove.h"
#include "platform/file/riff.h"

struct event_record;
struct filterex_state;

// The histories of a running pass, kept for speed as one line of frames,
// oldest first: the window + 2 frames of history, then the frames of the
// current call. A channel's running sum covers its window + 2 newest
// entries, so a mean costs one add, one subtract and one multiplication,
// and equals moving_mean's on the same history bit for bit.
struct history_line {
    int16_t* frames;     // interleaved, `channels` samples a frame
    int channels;        // 1 or 2
    int window;          // 1..45
    int32_t sum[2];      // per channel: the window + 2 newest entries
    int64_t multiplier;  // mean_multiplier(window)
};
// One channel's histories, previous value and trigger, handed from one
// stretch of frames to the next (each keeps them in registers while it
// runs) and back to AppState when the pass ends.
struct denoise_channel {
    int16_t y0, y1, y2, y3;   // samples, newest first
    int16_t d0, d1, d2, d3;   // differences, newest first
    int16_t previous;         // y0 after the channel's last step
    int8_t trigger;           // signed 8-bit, wraps
};


// The DeNoiser's run, kept between its steps; only denoiser.cpp writes it.
struct denoise_state {
    denoise_channel left, right;
    int16_t bias_left, bias_right;   // the bias levels the histories restart from
    int32_t corrections;             // samples corrected so far
    int16_t points;                  // view points taken since the last drawing
    uint8_t* block_start;            // the output buffer's start when it was begun
    uint32_t frames_left;            // frames still to take
};

// State of the running pass between calls; only declicker.cpp writes it.
// The histories live in the line while the pass runs and go back to the
// work area's tables when it ends, so the next pass finds its two unreset
// entries where they were.
struct declick_state {
    history_line line;
    int32_t frames_left;    // frames of the track the pass has still to take
    int16_t kept_threshold; // filter_threshold before the wide pass set it to 45
    std::vector<int16_t> line_frames;   // the line's memory, sized when a pass starts
    int pushed[2];          // frames of this call each channel's history has taken in
    int16_t smoothed_left, smoothed_right;   // last smoothed samples (sample units)
    uint32_t residual_sum;  // sum of |sample - smoothed| so far (sample units)
    int32_t slope_run;      // steep steps in the current slope (frames), per call
    int32_t wi;             // write position: samples into the current output block
    int32_t block_cap;      // samples the current output block holds
    uint8_t* block_start;   // the output buffer's position when the block began
    int event_current, event_last;   // indexes into events
    int event_records;      // records in the list (the work blocks setting)
    int channels;           // 1 or 2
    int window;             // smoothing window (frames), 1..45
    bool line_loaded;       // the histories are in the line, not in the work area
    int16_t* smoothed;      // area 0 of the work area
    int16_t* image;         // the output image: the samples are put right into the
                            // output buffer, repairs and all (area 3 stays unused)
    event_record* events;
};

// The frame-by-frame restoration passes' run (frame_pass.cpp, and
// filter_ex_pass.cpp for FilterEx's fields): the kernel's state and the
// scratch its output goes through, sized when a pass starts.
struct restore_state {
    hum_remove hum;         // AC Sinus Remove's kernel
    fade_ramp ramp;         // Fade Out's (and Fade In's) ramp
    int mono_channels;      // the track's channels (1 or 2) for Mono >>Stereo
    filterex_state* filterex;   // FilterEx's kernel while its pass runs, else null
    bool filterex_drained;      // its held frames are out
    std::vector<int16_t> filterex_in;   // a run of input frames, aligned for the kernel
    std::vector<uint8_t> scratch;   // output bytes of one call
    uint64_t written;       // frames of output so far (the view's frame count)
};

struct CleanState {
    // The files: process_track opens and finishes them (track_io.cpp closes);
    // open_preview (playback/) reopens track_in as the preview file.
    riff_file track_in = nullptr;        // track being read; afterwards the preview file
    riff_info track_in_info = {};        // its RIFF reader state
    riff_chunk track_in_riff = {};       // its RIFF and data chunks
    riff_chunk track_in_chunk = {};
    riff_file track_out = nullptr;       // cleaned file being written
    riff_info track_out_info = {};
    riff_chunk track_out_riff = {};
    riff_chunk track_out_chunk = {};
    uint8_t track_format[32] = {};       // copy of the track's format chunk (bytes as stored)
    char cleaned_file_name[160] = "";    // UTF-8 path; process_track (the batch tool may name it)
    uint8_t* work_area = nullptr;        // DeClicker scratch memory; process_track, freed by release_resources
    int32_t work_area_bytes = 0;         // its size (bytes); process_track
    int32_t correction_count = 0;        // corrections (samples) of the running pass; the DeClicker, the DeNoiser
    uint32_t buffers_done = 0;           // input buffers finished by DeClicker passes; the DeClicker
    int16_t slope_limit = 4500;          // largest smoothed step (sample units) that is not a slope; never written
    int32_t work_blocks = 256;           // event records per output block; never written
    int16_t sample_hist_left[4] = {};    // DeNoiser histories (sample units), newest first; the DeNoiser
    int16_t sample_hist_right[4] = {};
    int16_t diff_hist_left[4] = {};
    int16_t diff_hist_right[4] = {};

    const char* clean_failure = nullptr; // why the running run failed, null while none did; process_track
    declick_state declick_run = {};      // the DeClicker's run (declicker.cpp)
    denoise_state denoise_run = {};      // the DeNoiser's run (denoiser.cpp)
    restore_state restore_run = {};      // AC Sinus Remove's, Mono >>Stereo's, Fade Out's or FilterEx's run
                                         // (frame_pass.cpp, filter_ex_pass.cpp)
};
