// FilterEx: a streaming restoration kernel for one track, clicks and crackle
// repaired from an autoregressive model, then hiss reduced spectrally.
//
// Hiss is reduced by spectral subtraction against the noise of the track's
// quietest second, found by a first pass over the track.
//
// How a pass drives it (16-bit interleaved frames, 1 or 2 channels):
//
//   filterex_state* fx = nullptr;
//   if (filterex_start(&fx, channels, rate, threshold) != FX_OK) ...refuse
//   // optional first pass: the noise profile (without it no hiss is removed)
//   for each buffer of the track: filterex_profile_feed(fx, buf, frames);
//   filterex_profile_end(fx);
//   // second pass: the restoration
//   for each buffer: filterex_flow(fx, buf, frames, out, &n); write n frames of out
//   filterex_drain(fx, out, &n); write n frames of out
//   filterex_free(fx);
//
// - threshold is the Threshold box, 1 (gentle) .. 45 (hard); 11 is the
//   usual choice. Values outside are refused.
// - filterex_flow takes all `frames` input frames and writes exactly as many
//   output frames as have left the kernel's fixed delay of
//   filterex_latency(fx) frames: never more than `frames`, so `out` needs room
//   for `frames` frames. filterex_drain writes the rest, at most
//   filterex_latency(fx) frames. Over a run, frames out = frames in.
// - The output is the same whatever the buffer sizes the caller uses.
// - All memory is taken in filterex_start; feed, flow and drain allocate
//   nothing and use memory independent of the track's length.
// - Threads: a state belongs to one thread. filterex_start and filterex_free
//   plan and free FFT buffers, which must not run on two threads at once.
// - Results: FX_OK, FX_BAD_ARGUMENT (nothing changed), FX_NO_MEMORY (start
//   only; *state stays null).
#pragma once
#include <cstdint>

enum filterex_result {
    FX_OK = 0,
    FX_BAD_ARGUMENT = -1,
    FX_NO_MEMORY = -2,
};

constexpr int FX_THRESHOLD_MIN = 1;
constexpr int FX_THRESHOLD_MAX = 45;
constexpr int FX_THRESHOLD_DEFAULT = 11;
constexpr int FX_LOWEST_RATE = 4000;      // frames a second
constexpr int FX_HIGHEST_RATE = 384000;

// Whether the kernel works at `rate` frames a second.
bool filterex_rate_allowed(uint32_t rate);

struct filterex_state;

int filterex_start(filterex_state** state, int channels, int rate, int threshold);
void filterex_free(filterex_state* state);

// The pre-scan: every frame of the track once, in order, in buffers of any
// size; then filterex_profile_end picks the quietest second (per channel;
// a second of digital silence does not count) as the noise to remove, when
// it is a quiet passage of hiss: a track of music all through keeps its
// hiss rather than lose music to it.
int filterex_profile_feed(filterex_state* state, const int16_t* in, int frames);
int filterex_profile_end(filterex_state* state);

int filterex_flow(filterex_state* state, const int16_t* in, int frames, int16_t* out, int* out_frames);
int filterex_drain(filterex_state* state, int16_t* out, int* out_frames);
int filterex_latency(const filterex_state* state);

// What the last run did, for the pass's result line.
struct filterex_counts {
    int64_t repaired_gaps;      // clicks and crackle bursts interpolated, all channels
    int64_t repaired_samples;   // samples they covered
    bool denoising;             // a noise profile was found
    bool no_quiet_passage;      // none was: the quietest second was music, not hiss
};
filterex_counts filterex_report(const filterex_state* state);
