// The fade-in pass: a gain ramp from silence up to unity over the start of
// the track, after which the samples pass unchanged.
#include <algorithm>
#include <cstring>
#include "app/app_state.h"
#include "clean/fade_ramp.h"
#include "clean/process_track.h"
#include "clean/track_io.h"

namespace {

// Copies `samples` samples unchanged, buffer by buffer. 0 when done or when
// the input ends early, -6 when the output cannot be written.
int copy_rest(uint64_t samples)
{
    riff_info& in = app.track_in_info;
    riff_info& out = app.track_out_info;
    while (samples > 0) {
        if (input_data_end() - in.next < 2 && refill_input() != 0)
            return 0;
        if (out.end_write - out.next < 2 && write_output_buffer() != 0)
            return -6;
        const uint64_t room = uint64_t(std::min(input_data_end() - in.next, out.end_write - out.next)) / 2;
        const uint64_t n = std::min(room, samples);
        std::memcpy(out.next, in.next, size_t(n) * 2);
        in.next += n * 2;
        out.next += n * 2;
        samples -= n;
    }
    return 0;
}

} // namespace

int fade_in_track()
{
    if (!app.work_area && alloc_work_area(5) < 0)
        return -1;
    riff_info& in = app.track_in_info;
    riff_info& out = app.track_out_info;
    const int channels = track_channels();
    const uint32_t frames = track_frames();
    wave_format format{};
    std::memcpy(&format, app.track_format, sizeof format);

    // The ramp lasts 0.2 x intro seconds at any rate and channel count; each
    // frame's gain comes from its own index, so nothing accumulates. An
    // intro of 0 s (or a rate of 0) gives no ramp: the track passes unchanged.
    fade_ramp ramp;
    fade_start(&ramp, FADE_IN, channels, format.samples_per_sec, app.intro_max_seconds, frames);
    for (uint32_t k = 0; k < frames; ++k) {
        const int32_t gain = fade_gain(&ramp, k);
        if (gain >= FADE_UNITY)   // the gain never falls again: the rest is copied
            return copy_rest(uint64_t(frames - k) * uint64_t(channels));
        for (int c = 0; c < channels; ++c) {
            if (input_data_end() - in.next < 2 && refill_input() != 0)
                return 0;
            if (out.end_write - out.next < 2 && write_output_buffer() != 0)
                return -6;
            store_sample(out.next, fade_sample(load_sample(in.next), gain));
            in.next += 2;
            out.next += 2;
        }
    }
    return 0;
}
