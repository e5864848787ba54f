// The DeNoiser pass: zigzag detection on each channel's differences, a
// trigger per channel, and the flattening of the three newest samples.
#include "clean/denoiser.h"

#include <cstdio>
#include <cstring>
#include "app/app_state.h"
#include "clean/track_io.h"
#include "playback/displays.h"

namespace {

constexpr int32_t QUIET_STEPS = 503;   // three steps below this in sum are left alone
constexpr int8_t TRIGGER_FIRES = 3;    // a trigger above this fires the correction
constexpr int VIEW_EVERY = 6;

inline int32_t magnitude(int16_t v)
{
    return v < 0 ? -int32_t(v) : int32_t(v);
}

void reset_sample_histories()
{
    for (int j = 0; j < 3; ++j) {
        app.sample_hist_left[j] = int16_t(app.bias_level[0]);
        app.sample_hist_right[j] = int16_t(app.bias_level[1]);
    }
}

} // namespace

void shift_history(int16_t* history)
{
    history[3] = history[2];
    history[2] = history[1];
    history[1] = history[0];
}

void smooth_last_three(uint8_t* write, const uint8_t* block_start, int16_t* diffs, int16_t* samples,
                       int channels)
{
    if (magnitude(diffs[0]) + magnitude(diffs[1]) + magnitude(diffs[2]) < QUIET_STEPS)
        return;
    const int frame_bytes = 2 * channels;
    for (int i = 0; i < 3; ++i) {
        samples[i] = int16_t(samples[i] + (diffs[i] >> 2) - diffs[i]);
        diffs[i] = int16_t(diffs[i] >> 2);
        // The channel's first sample in this block: the one before it has
        // been written out already (or lies before the sample data).
        if (write - block_start < frame_bytes)
            return;
        store_sample(write, samples[i]);
        write -= frame_bytes;
    }
}

int denoise_track()
{
    riff_info& in = app.track_in_info;
    riff_info& out = app.track_out_info;
    const int channels = track_channels();

    std::memset(app.diff_hist_left, 0, sizeof app.diff_hist_left);
    std::memset(app.diff_hist_right, 0, sizeof app.diff_hist_right);
    reset_sample_histories();
    app.correction_count = 0;
    // Each channel keeps its own trigger; a signed 8-bit count that wraps.
    int8_t trigger[2] = {0, 0};
    int16_t previous[2] = {0, 0};
    int16_t* samples[2] = {app.sample_hist_left, app.sample_hist_right};
    int16_t* diffs[2] = {app.diff_hist_left, app.diff_hist_right};
    int16_t points = 0;
    app.view_cursor = 0;
    uint8_t* block_start = out.next;

    uint32_t frames = track_frames();
    while (frames > 0) {
        for (int c = 0; c < channels; ++c) {
            // Buffers are refilled and written out between samples, so a
            // frame cut by a buffer's end is read and written whole.
            if (input_data_end() - in.next < 2) {
                app.view_cursor = 0;
                draw_wave_view(points, app.view_points, nullptr);
                points = 0;
                if (refill_input() != 0)
                    goto end;
                reset_sample_histories();
                app.view_cursor = 0;
            }
            if (out.end_write - out.next < 2) {
                if (write_output_buffer() != 0)
                    return -6;
                block_start = out.next;
            }
            uint8_t* const p = out.next;
            const int16_t s = load_sample(in.next);
            int16_t* y = samples[c];
            int16_t* dh = diffs[c];
            shift_history(y);
            y[0] = s;
            shift_history(dh);
            const int16_t d = int16_t(s - previous[c]);
            dh[0] = d;
            if (int32_t(d) * dh[1] < 0)
                trigger[c] = int8_t(int32_t(dh[1]) * dh[2] < 0 ? trigger[c] + 2 : trigger[c] - 1);
            store_sample(p, s);
            if (trigger[c] > TRIGGER_FIRES) {
                smooth_last_three(p, block_start, dh, y, channels);
                app.correction_count += 3;
                trigger[c] = 0;
            }
            previous[c] = y[0];
            if (c == 0 && frames % VIEW_EVERY == 0 && app.view_cursor < app.view_points_count) {
                app.view_points[app.view_cursor].y = int32_t(level_to_view_row(y, 3));
                ++app.view_cursor;
                ++points;
            }
            in.next += 2;
            out.next += 2;
        }
        --frames;
    }
end:
    app.view_cursor = 0;
    draw_wave_view(points, app.view_points, nullptr);
    std::snprintf(app.result_text, sizeof app.result_text, "denoise process complete %d corrections",
                  int(app.correction_count));
    return 0;
}
