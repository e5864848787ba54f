// Mono >>Stereo over interleaved frames: the rounded mean of a stereo frame,
// or a mono frame's sample, written to both channels.
#include "clean/mono_mix.h"

#include <cstring>

void mono_mix_flow(int in_channels, const uint8_t* in, uint8_t* out, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f) {
        int16_t s[2];
        if (in_channels == 2) {
            std::memcpy(s, in + size_t(f) * 4, 4);
            s[0] = s[1] = mono_mean(s[0], s[1]);
        } else {
            std::memcpy(s, in + size_t(f) * 2, 2);
            s[1] = s[0];
        }
        std::memcpy(out + size_t(f) * 4, s, 4);
    }
}
