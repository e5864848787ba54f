// The fade-in pass: a gain ramp from silence up to unity over the start of
// the track, after which the samples pass unchanged.
#include <algorithm>
#include <cstring>
#include "core/app_state.h"
#include "clean/fade_in.h"
#include "clean/fade_ramp.h"
#include "clean/declicker.h"
#include "clean/process_track.h"
#include "clean/track_io.h"

namespace {

// Copies `samples` samples unchanged, buffer by buffer. PASS_OK when done
// or when the input ends early, PASS_WRITE_FAILED.
pass_result copy_rest(uint64_t samples)
{
    riff_info& in = app.track_in_info;
    riff_info& out = app.track_out_info;
    while (samples > 0) {
        if (input_data_end() - in.next < 2 && refill_input() != 0)
            return PASS_OK;
        if (out.end_write - out.next < 2 && write_output_buffer() != 0)
            return PASS_WRITE_FAILED;
        const uint64_t room = uint64_t(std::min(input_data_end() - in.next, out.end_write - out.next)) / 2;
        const uint64_t n = std::min(room, samples);
        std::memcpy(out.next, in.next, size_t(n) * 2);
        in.next += n * 2;
        out.next += n * 2;
        samples -= n;
    }
    return PASS_OK;
}

pass_result fade_start(pass_io*)
{
    if (!app.work_area && alloc_work_area(5) < 0)
        return PASS_NO_WORK_AREA;
    return PASS_OK;
}

pass_result fade_flow(pass_io* io)
{
    riff_info& in = *io->in;
    riff_info& out = *io->out;
    const int channels = track_channels();
    const uint32_t frames = track_frames();
    const wave_format format = track_wave_format();

    // The ramp lasts 0.2 x intro seconds at any rate and channel count; each
    // frame's gain comes from its own index, so nothing accumulates. An
    // intro of 0 s (or a rate of 0) gives no ramp: the track passes unchanged.
    fade_ramp ramp;
    fade_ramp_start(&ramp, FADE_IN, channels, format.samples_per_sec, app.intro_max_seconds, frames);
    for (uint32_t k = 0; k < frames; ++k) {
        const int32_t gain = fade_gain(&ramp, k);
        if (gain >= FADE_UNITY)   // the gain never falls again: the rest is copied
            return copy_rest(uint64_t(frames - k) * uint64_t(channels));
        for (int c = 0; c < channels; ++c) {
            if (input_data_end() - in.next < 2 && refill_input() != 0)
                return PASS_OK;
            if (out.end_write - out.next < 2 && write_output_buffer() != 0)
                return PASS_WRITE_FAILED;
            store_sample(out.next, fade_sample(load_sample(in.next), gain));
            in.next += 2;
            out.next += 2;
        }
    }
    return PASS_OK;
}

pass_result fade_drain(pass_io*, pass_result so_far)
{
    return so_far;
}

} // namespace

// The wide DeClicker follows on the rest of the track, whatever the fade gave.
const clean_pass fade_in_pass = {'f', fade_start, fade_flow, fade_drain, &declick_wide_pass};
