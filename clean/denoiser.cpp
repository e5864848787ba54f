// The DeNoiser pass: zigzag detection on each channel's differences, a
// trigger per channel, and the flattening of the three newest samples.
#include "clean/denoiser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>
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

// One channel's histories, previous value and trigger. The pass keeps them
// in locals that live in registers (every routine touching them is inlined,
// none takes their address) and hands them back to AppState when it ends.
struct channel_state {
    int16_t y0, y1, y2, y3;   // samples, newest first
    int16_t d0, d1, d2, d3;   // differences, newest first
    int16_t previous;         // y0 after the channel's last step
    int8_t trigger;           // signed 8-bit, wraps
};

// One flattening step of smooth_last_three on a channel_state: the sample
// and its step, then the write unless `write` is the channel's first sample
// in the block. False where the correction stops.
[[gnu::always_inline]] inline bool smooth_step(int16_t& y, int16_t& d, uint8_t*& write, const uint8_t* block_start, int frame_bytes)
{
    y = int16_t(y + (d >> 2) - d);
    d = int16_t(d >> 2);
    if (write - block_start < frame_bytes)
        return false;
    store_sample(write, y);
    write -= frame_bytes;
    return true;
}

// One sample of a channel: read at `in`, written at `out`, with the zigzag
// test and, when the trigger fires, the correction.
[[gnu::always_inline]] inline void denoise_sample(channel_state& c, const uint8_t* in, uint8_t* out, const uint8_t* block_start,
                           int frame_bytes, int32_t& corrections)
{
    const int16_t s = load_sample(in);
    c.y3 = c.y2;
    c.y2 = c.y1;
    c.y1 = c.y0;
    c.y0 = s;
    c.d3 = c.d2;
    c.d2 = c.d1;
    c.d1 = c.d0;
    c.d0 = int16_t(s - c.previous);
    // A change of sign adds 2 after another one, else takes 1 away; a
    // product of 0 is no change. Worked without branches: on noise the
    // signs are a coin toss that no branch predictor guesses.
    const int turned = int32_t(c.d0) * c.d1 < 0;
    const int twice = int32_t(c.d1) * c.d2 < 0;
    c.trigger = int8_t(c.trigger + turned * (3 * twice - 1));
    store_sample(out, s);
    if (c.trigger > TRIGGER_FIRES) {
        if (magnitude(c.d0) + magnitude(c.d1) + magnitude(c.d2) >= QUIET_STEPS) {
            uint8_t* w = out;
            smooth_step(c.y0, c.d0, w, block_start, frame_bytes) && smooth_step(c.y1, c.d1, w, block_start, frame_bytes) &&
                smooth_step(c.y2, c.d2, w, block_start, frame_bytes);
        }
        corrections += 3;
        c.trigger = 0;
    }
    c.previous = c.y0;
}

void take_view_point(int16_t y0, int16_t y1, int16_t y2, int16_t& points)
{
    if (app.view_cursor >= app.view_points_count)
        return;
    const int16_t newest[3] = {y0, y1, y2};
    app.view_points[app.view_cursor].y = int32_t(level_to_view_row(newest, 3));
    ++app.view_cursor;
    ++points;
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
    const int frame_bytes = 2 * channels;

    // Sample histories from the bias levels (entry 3 keeps what it held),
    // difference histories, previous values and triggers from 0. Each
    // channel keeps its own trigger.
    const int16_t bias_left = int16_t(app.bias_level[0]), bias_right = int16_t(app.bias_level[1]);
    channel_state left = {bias_left, bias_left, bias_left, app.sample_hist_left[3], 0, 0, 0, 0, 0, 0};
    channel_state right = {bias_right, bias_right, bias_right, app.sample_hist_right[3], 0, 0, 0, 0, 0, 0};
    int32_t corrections = 0;
    int16_t points = 0;
    app.view_cursor = 0;
    uint8_t* block_start = out.next;
    int result = 0;

    uint32_t frames = track_frames();
    while (frames > 0) {
        // Frames lying whole in both buffers go through without checks.
        const uint32_t in_frames = uint32_t((input_data_end() - in.next) / frame_bytes);
        const uint32_t out_frames = uint32_t((out.end_write - out.next) / frame_bytes);
        uint32_t run = std::min({frames, in_frames, out_frames});
        if (run > 0) {
            const uint8_t* ip = in.next;
            uint8_t* op = out.next;
            uint32_t view_wait = frames % VIEW_EVERY;   // 0: this frame takes a view point
            for (uint32_t n = run; n > 0; --n) {
                denoise_sample(left, ip, op, block_start, frame_bytes, corrections);
                if (view_wait == 0) {
                    take_view_point(left.y0, left.y1, left.y2, points);
                    view_wait = VIEW_EVERY;
                }
                --view_wait;
                if (channels == 2)
                    denoise_sample(right, ip + 2, op + 2, block_start, frame_bytes, corrections);
                ip += frame_bytes;
                op += frame_bytes;
            }
            in.next += size_t(run) * size_t(frame_bytes);
            out.next += size_t(run) * size_t(frame_bytes);
            frames -= run;
            continue;
        }
        // A frame at a buffer's end: the buffers are refilled and written out
        // between samples, so a frame cut by a buffer's end is read whole.
        for (int c = 0; c < channels; ++c) {
            if (input_data_end() - in.next < 2) {
                app.view_cursor = 0;
                draw_wave_view(points, app.view_points, nullptr);
                points = 0;
                if (refill_input() != 0)
                    goto end;
                left.y0 = left.y1 = left.y2 = bias_left;
                right.y0 = right.y1 = right.y2 = bias_right;
                app.view_cursor = 0;
            }
            if (out.end_write - out.next < 2) {
                if (write_output_buffer() != 0) {
                    result = -6;
                    goto end;
                }
                block_start = out.next;
            }
            if (c == 0)
                denoise_sample(left, in.next, out.next, block_start, frame_bytes, corrections);
            else
                denoise_sample(right, in.next, out.next, block_start, frame_bytes, corrections);
            if (c == 0 && frames % VIEW_EVERY == 0)
                take_view_point(left.y0, left.y1, left.y2, points);
            in.next += 2;
            out.next += 2;
        }
        --frames;
    }
end:
    for (const auto& [c, y, d] : {std::tuple{left, app.sample_hist_left, app.diff_hist_left},
                                  std::tuple{right, app.sample_hist_right, app.diff_hist_right}}) {
        y[0] = c.y0, y[1] = c.y1, y[2] = c.y2, y[3] = c.y3;
        d[0] = c.d0, d[1] = c.d1, d[2] = c.d2, d[3] = c.d3;
    }
    app.correction_count = corrections;
    if (result != 0)
        return result;   // no result line
    app.view_cursor = 0;
    draw_wave_view(points, app.view_points, nullptr);
    std::snprintf(app.result_text, sizeof app.result_text, "denoise process complete %d corrections",
                  int(app.correction_count));
    return 0;
}
