// The fade-in pass: a gain ramp from silence up to unity over the start of
// the track, after which the samples pass unchanged.
#include <algorithm>
#include <cmath>
#include <cstring>
#include "core/app_state.h"
#include "clean/fade_in.h"
#include "clean/declicker.h"
#include "clean/process_track.h"
#include "clean/track_io.h"

namespace {

constexpr int32_t UNITY = 32767;
constexpr float ONE_OVER_UNITY = 3.0518509e-05f;   // 1 / 32767 in single precision

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
    uint32_t frames = track_frames();
    wave_format format{};
    std::memcpy(&format, app.track_format, sizeof format);

    // The ramp reaches unity after 32767 / step frames. No ramp at all when
    // the intro is 0 s (or the rate 0): the track passes unchanged.
    const double span = 0.2 * double(app.intro_max_seconds) * channels * double(format.samples_per_sec);
    if (span <= 0)
        return copy_rest(uint64_t(frames) * uint64_t(channels));
    const float step = float(span * double(ONE_OVER_UNITY));
    float g = step;

    while (frames > 0) {
        const int32_t gain = g >= float(UNITY) ? UNITY : int32_t(std::floor(g));
        if (gain >= UNITY)
            return copy_rest(uint64_t(frames) * uint64_t(channels));
        for (int c = 0; c < channels; ++c) {
            if (input_data_end() - in.next < 2 && refill_input() != 0)
                return PASS_OK;
            if (out.end_write - out.next < 2 && write_output_buffer() != 0)
                return PASS_WRITE_FAILED;
            const int16_t s = load_sample(in.next);
            store_sample(out.next, int16_t(int32_t(s) * gain / UNITY));
            in.next += 2;
            out.next += 2;
        }
        g += step;
        --frames;
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
