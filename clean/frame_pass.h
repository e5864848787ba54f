// The restoration passes that work frame by frame (AC Sinus Remove, Mono
// >>Stereo, Fade Out): their kernels run over the track's I/O buffers.
//
// Threads: the dialog's thread only (the passes run inside the command).
#pragma once
#include <cstdint>
#include "clean/pass.h"

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

// Sizes the scratch the kernel's output goes through. PASS_OK or
// PASS_NO_WORK_AREA.
pass_result start_frame_kernel(const frame_kernel& k);
// Runs `k` over every frame of the track from the input's position into
// the output, showing the output's left channel in the wave view as it
// goes. Frames cut by a buffer's end are gathered whole first. PASS_OK
// (also when the track's data ends early) or PASS_WRITE_FAILED.
pass_result flow_frame_kernel(pass_io* io, const frame_kernel& k);
// Writes out what the kernel still holds. PASS_OK or PASS_WRITE_FAILED.
pass_result drain_frame_kernel(pass_io* io, const frame_kernel& k);

// Reads the data chunk of the track file `name` from its start, a run of
// at most FRAME_KERNEL_RUN whole frames at a time, and hands each run to
// `take` (for a pass that must see the whole track before it cleans it).
// The pass's own buffers are not touched. 0, or -1 when the file cannot be
// read as a 16-bit PCM track.
int scan_track_frames(const char* name, void (*take)(void* state, const int16_t* frames, uint32_t count),
                      void* state);

extern const clean_pass hum_remove_pass;    // "a"
extern const clean_pass mono_stereo_pass;   // "m"
extern const clean_pass fade_out_pass;      // "o"
