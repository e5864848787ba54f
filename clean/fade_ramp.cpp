// The fade ramps: the gain of a frame by its distance from the track's start
// or end, worked out afresh for every frame so that no error accumulates.
#include "clean/fade_ramp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void fade_ramp_start(fade_ramp* f, int direction, int channels, uint32_t rate, int intro_seconds, uint64_t total_frames)
{
    f->direction = direction;
    f->channels = channels;
    f->span = intro_seconds > 0 ? 0.2 * double(intro_seconds) * double(rate) : 0.0;
    f->total = total_frames;
    f->done = 0;
}

int32_t fade_gain(const fade_ramp* f, uint64_t k)
{
    if (f->span <= 0)
        return FADE_UNITY;
    // Frames counted toward unity: k + 1 from the start, or the frames still
    // to come after k.
    const uint64_t n = f->direction == FADE_IN ? k + 1 : (k + 1 < f->total ? f->total - 1 - k : 0);
    if (double(n) >= f->span)
        return FADE_UNITY;
    const double g = std::floor(double(n) * 32767.0 / f->span);
    return int32_t(std::min(g, double(FADE_UNITY)));
}

void fade_ramp_flow(fade_ramp* f, const uint8_t* in, uint8_t* out, uint32_t frames)
{
    const int channels = f->channels;
    const size_t frame_bytes = size_t(2 * channels);
    // Frames whose gain is unity for certain (n >= span) go across whole;
    // the rest take their gain frame by frame.
    uint32_t i = 0;
    while (i < frames) {
        const uint64_t k = f->done + i;
        uint64_t unity_run = 0;   // frames from k on that are certainly at unity
        if (f->span <= 0) {
            unity_run = frames - i;
        } else if (f->direction == FADE_IN) {
            if (double(k + 1) >= f->span)
                unity_run = frames - i;
        } else {
            // n = total - 1 - k falls as k grows: unity while n >= span.
            const double n = double(f->total > k ? f->total - 1 - k : 0);
            if (n >= f->span)
                unity_run = std::min<uint64_t>(frames - i, uint64_t(n - f->span) + 1);
        }
        if (unity_run > 0) {
            if (in != out)
                std::memmove(out + i * frame_bytes, in + i * frame_bytes, size_t(unity_run) * frame_bytes);
            i += uint32_t(unity_run);
            continue;
        }
        const int32_t gain = fade_gain(f, k);
        for (int c = 0; c < channels; ++c) {
            int16_t s;
            std::memcpy(&s, in + i * frame_bytes + size_t(2 * c), 2);
            s = fade_sample(s, gain);
            std::memcpy(out + i * frame_bytes + size_t(2 * c), &s, 2);
        }
        ++i;
    }
    f->done += frames;
}
