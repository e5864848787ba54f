// Mono >>Stereo: each frame's channels become their mean in both channels of
// a two-channel frame, for a mono record played with a stereo cartridge.
//
// Threads: any; the routine keeps no state.
#pragma once
#include <cstdint>

// The mean of two samples rounded to the nearest value, halves away from zero.
inline int16_t mono_mean(int16_t a, int16_t b)
{
    const int32_t sum = int32_t(a) + b;
    return int16_t((sum + (sum < 0 ? -1 : 1)) / 2);
}

// `frames` frames of `in_channels` (1 or 2) little-endian 16-bit samples at
// `in` become as many two-channel frames at `out`: the mean of a stereo
// frame, or a mono frame's sample, in both channels. `out` must not overlap
// `in` unless both have two channels.
void mono_mix_flow(int in_channels, const uint8_t* in, uint8_t* out, uint32_t frames);
