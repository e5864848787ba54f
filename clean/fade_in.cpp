// The fade-in pass: a gain ramp from silence up to unity over the start of
// the track, after which the samples pass unchanged.
#include <algorithm>
#include <cmath>
#include <cstring>
#include "core/app_state.h"
#include "clean/process_track.h"
#include "clean/track_io.h"

namespace {

constexpr int32_t UNITY = 32767;
constexpr float ONE_OVER_UNITY = 3.0518509e-05f;   // 1 / 32767 in single precision

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
                return 0;
            if (out.end_write - out.next < 2 && write_output_buffer() != 0)
                return -6;
            const int16_t s = load_sample(in.next);
            store_sample(out.next, int16_t(int32_t(s) * gain / UNITY));
            in.next += 2;
            out.next += 2;
        }
        g += step;
        --frames;
    }
    return 0;
}
