// The fade ramps of Fade In and Fade Out: a gain that rises from silence to
// unity over the track's first frames, or falls to silence over its last.
//
// Threads: any, one stream per state; nothing allocated.
#pragma once
#include <cstdint>

constexpr int32_t FADE_UNITY = 32767;   // the gain that passes a sample unchanged

enum fade_direction { FADE_IN = 0, FADE_OUT = 1 };

struct fade_ramp {
    int direction = FADE_IN;
    int channels = 1;        // 1 or 2
    double span = 0;         // frames of the ramp: 0.2 x intro (s) x rate; 0 = no ramp
    uint64_t total = 0;      // frames of the track (Fade Out counts back from its end)
    uint64_t done = 0;       // frames through fade_flow so far
};

// A ramp of 0.2 x `intro_seconds` seconds at `rate`; `total_frames` is the
// track's length, which Fade Out needs before its first frame.
void fade_ramp_start(fade_ramp* f, int direction, int channels, uint32_t rate, int intro_seconds, uint64_t total_frames);

// The gain of frame `k` (from 0): Fade In min(32767, floor((k + 1) x 32767 /
// span)); Fade Out the same with the frames after k in place of k + 1, so
// the last frame is silent. 32767 throughout when there is no ramp.
int32_t fade_gain(const fade_ramp* f, uint64_t k);

// A sample under gain G: s x G / 32767, truncated toward zero.
inline int16_t fade_sample(int16_t s, int32_t gain)
{
    return int16_t(int32_t(s) * gain / FADE_UNITY);
}

// The next `frames` frames from `in` to `out` (the same place allowed),
// interleaved little-endian 16-bit samples. Frames at unity are copied.
void fade_ramp_flow(fade_ramp* f, const uint8_t* in, uint8_t* out, uint32_t frames);
