// The restoration passes that work frame by frame (AC Sinus Remove, Mono
// >>Stereo, Fade Out): their kernels run over the track's I/O buffers.
//
// Threads: the dialog's thread only (the passes run inside the command).
#pragma once
#include <cstdint>

// A kernel over interleaved 16-bit frames: `in_channels` samples a frame in,
// `out_channels` out. `flow` takes `frames` (at most FRAME_KERNEL_RUN) whole
// frames at `in` and writes the frames it has ready to `out`, at most
// `frames` + `extra` of them, returning their count; a kernel with latency
// gives the frames it still holds to `drain` (null when it holds none),
// which writes up to `room` of them and returns 0 when all are out.
constexpr uint32_t FRAME_KERNEL_RUN = 4096;
struct frame_kernel {
    int in_channels;
    int out_channels;
    void* state;
    uint32_t (*flow)(void* state, const uint8_t* in, uint32_t frames, uint8_t* out);
    uint32_t (*drain)(void* state, uint8_t* out, uint32_t room);
    uint32_t extra;
};

// Runs `k` over every frame of the open track into the cleaned file,
// drawing the output's left channel in the wave view as it goes. Frames cut
// by a buffer's end are gathered whole first. 0 (also when the track's data
// ends early), -1 when the kernel's scratch cannot be had, or -6 when an
// output buffer cannot be written.
int run_frame_kernel(const frame_kernel& k);

// Reads the data chunk of the track file `name` from its start, a run of
// at most FRAME_KERNEL_RUN whole frames at a time, and hands each run to
// `take` (for a pass that must see the whole track before it cleans it).
// The pass's own buffers are not touched. 0, or -1 when the file cannot be
// read as a 16-bit PCM track.
int scan_track_frames(const char* name, void (*take)(void* state, const int16_t* frames, uint32_t count),
                      void* state);

// The passes. Each leaves its result line in result_text when it completes.
// AC Sinus Remove: 0, -6, or -8 when the AC sinus Freq does not suit the
// track's rate (checked by process_track before anything is written).
int hum_remove_track();
int mono_stereo_track();
int fade_out_track();
