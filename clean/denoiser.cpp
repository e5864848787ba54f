// The DeNoiser pass: zigzag detection on each channel's differences, a
// trigger per channel, and the flattening of the three newest samples.
#include "clean/denoiser.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>
#include "core/app_state.h"
#include "clean/track_io.h"
#include "ui/displays.h"
#include "res/ui_text.h"

namespace {

constexpr int32_t QUIET_STEPS = 503;   // three steps below this in sum are left alone
constexpr int8_t TRIGGER_FIRES = 3;    // a trigger above this fires the correction
constexpr int VIEW_EVERY = 6;
inline int32_t magnitude(int16_t v)
{
    return v < 0 ? -int32_t(v) : int32_t(v);
}

using channel_state = denoise_channel;
denoise_state& run = app.denoise_run;

// One flattening step of smooth_last_three on a channel_state: the sample
// and its step, then the write unless `write` is the channel's first sample
// in the block. False where the correction stops.
[[gnu::always_inline]] inline bool smooth_step(int16_t& y, int16_t& d, uint8_t*& write, const uint8_t* block_start,
                                               int frame_bytes)
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
[[gnu::always_inline]] inline void denoise_sample(channel_state& c, const uint8_t* in, uint8_t* out,
                                                  const uint8_t* block_start, int frame_bytes, int32_t& corrections)
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
            smooth_step(c.y0, c.d0, w, block_start, frame_bytes) &&
                smooth_step(c.y1, c.d1, w, block_start, frame_bytes) &&
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

// One channel's samples of n frames lying whole in both buffers, the first
// at `in` and `out`; the output holds a copy of the input already, so only
// corrections are written. Frame j takes a view point (VIEW: channel 0)
// when `frames_left` - j is a multiple of 6. The first sample goes through
// denoise_sample, as after a refill its previous value is not entry 0 of
// the history (from then on it is); so do those in the block's first three
// frames, whose corrections stop at the block's start, and the last one,
// whose move into entry 3 is the one kept. In between, the state runs in
// registers, three or six samples a turn, so that the histories move by
// renaming alone and the view point falls on the same step of every turn.
template <int CHANNELS, bool VIEW>
[[gnu::noinline]] void channel_run(channel_state& c, const uint8_t* in, uint8_t* out, const uint8_t* block_start,
                                   uint32_t n, uint32_t frames_left, int32_t& corrections, int16_t& points)
{
    constexpr int FRAME_BYTES = 2 * CHANNELS;
    uint32_t view_wait = frames_left % VIEW_EVERY;   // 0: this frame takes a view point
    auto view = [&](int16_t y0, int16_t y1, int16_t y2) {
        if (VIEW) {
            if (view_wait == 0) {
                take_view_point(y0, y1, y2, points);
                view_wait = VIEW_EVERY;
            }
            --view_wait;
        }
    };
    // The first sample, and those among the block's first three frames,
    // whose corrections stop at the block's start.
    const uint32_t frame_in_block = uint32_t((out - block_start) / FRAME_BYTES);
    const uint32_t head = std::min(n, std::max(1u, 3 - std::min(frame_in_block, 3u)));
    for (uint32_t j = 0; j < head; ++j) {
        denoise_sample(c, in, out, block_start, FRAME_BYTES, corrections);
        view(c.y0, c.y1, c.y2);
        if (j + 1 < n)
            in += FRAME_BYTES, out += FRAME_BYTES;
    }
    if (n <= head)
        return;
    in -= FRAME_BYTES, out -= FRAME_BYTES;   // `in` and `out` stand on the last sample done
    const std::ptrdiff_t to_out = out - in;

    // ya, yb, yc and da, db, dc hold entries 0, 1, 2 of the histories at
    // the start of a turn; each step puts the new sample where the oldest
    // entry was.
    int32_t ya = c.y0, yb = c.y1, yc = c.y2;
    int32_t da = c.d0, db = c.d1, dc = c.d2;
    // The trigger plus 128, in 32 bits: between steps it lies in 0..131
    // (the trigger in -128..3), one step takes it to -1..133, and it fires
    // at 132 and 133 and at -1 (a trigger of -129, which as an 8-bit value
    // wraps to 127): one unsigned comparison.
    int32_t level = c.trigger + 128;
    // Whether the newest two differences have opposite signs: this sample's
    // "turned", the next one's "twice".
    int32_t turned = da * db < 0;
    // The step of the sample k frames on from `in` and `out`, which move
    // once a turn.
    auto step = [&](int k, int32_t& y0, int32_t& y1, int32_t& y2, int32_t& d0, int32_t& d1,
                    int32_t& d2) __attribute__((always_inline)) {
        const int32_t s = load_sample(in + k * FRAME_BYTES);
        y0 = s;
        d0 = int16_t(s - y1);
        // A change of sign adds 2 after another one, else takes 1 away; a
        // product of 0 is no change. Worked without branches: on noise the
        // signs are a coin toss that no branch predictor guesses.
        const int32_t twice = turned;
        turned = int32_t(uint32_t(d0 * d1) >> 31);
        level += turned * (3 * twice - 1);
        if (uint32_t(level) > uint32_t(TRIGGER_FIRES + 128)) {
            if (std::abs(d0) + std::abs(d1) + std::abs(d2) >= QUIET_STEPS) {
                // smooth_step three times, on the registers; all three
                // samples lie in the block (from its fourth frame on).
                // Entry 0 less its step is entry 1.
                uint8_t* w = const_cast<uint8_t*>(in) + to_out + k * FRAME_BYTES;
                y0 = int16_t(y1 + (d0 >> 2));
                y1 = int16_t(y1 + (d1 >> 2) - d1);
                y2 = int16_t(y2 + (d2 >> 2) - d2);
                d0 >>= 2;
                d1 >>= 2;
                d2 >>= 2;
                store_sample(w, int16_t(y0));
                store_sample(w - FRAME_BYTES, int16_t(y1));
                store_sample(w - 2 * FRAME_BYTES, int16_t(y2));
                turned = d0 * d1 < 0;
            }
            corrections += 3;
            level = 128;
        }
    };
    // One step keeping entry 0 in ya, with its view point.
    auto single = [&]() __attribute__((always_inline)) {
        step(1, yc, ya, yb, dc, da, db);
        in += FRAME_BYTES;
        std::swap(ya, yc), std::swap(yb, yc);   // (yc, ya, yb) back to (ya, yb, yc)
        std::swap(da, dc), std::swap(db, dc);
        view(int16_t(ya), int16_t(yb), int16_t(yc));
    };
    // The samples between the head and the last; `out` follows from `in`.
    const uint8_t* const middle_end = in + size_t(n - head - 1) * FRAME_BYTES;
    if (VIEW) {
        // Six samples a turn with the view point always after the third.
        while (in != middle_end && view_wait != 2)
            single();
        for (const uint8_t* turns_end = in + (middle_end - in) / (6 * FRAME_BYTES) * (6 * FRAME_BYTES);
             in != turns_end; in += 6 * FRAME_BYTES) {
            step(1, yc, ya, yb, dc, da, db);
            step(2, yb, yc, ya, db, dc, da);
            step(3, ya, yb, yc, da, db, dc);
            take_view_point(int16_t(ya), int16_t(yb), int16_t(yc), points);
            step(4, yc, ya, yb, dc, da, db);
            step(5, yb, yc, ya, db, dc, da);
            step(6, ya, yb, yc, da, db, dc);
        }
    } else {
        for (const uint8_t* turns_end = in + (middle_end - in) / (3 * FRAME_BYTES) * (3 * FRAME_BYTES);
             in != turns_end; in += 3 * FRAME_BYTES) {
            step(1, yc, ya, yb, dc, da, db);
            step(2, yb, yc, ya, db, dc, da);
            step(3, ya, yb, yc, da, db, dc);
        }
    }
    while (in != middle_end)
        single();
    out = const_cast<uint8_t*>(in) + to_out;
    // Entry 3 holds what the last sample's step moves out of entry 2.
    c.y0 = int16_t(ya), c.y1 = int16_t(yb), c.y2 = int16_t(yc);
    c.d0 = int16_t(da), c.d1 = int16_t(db), c.d2 = int16_t(dc);
    c.trigger = int8_t(level - 128);
    c.previous = int16_t(ya);
    denoise_sample(c, in + FRAME_BYTES, out + FRAME_BYTES, block_start, FRAME_BYTES, corrections);
    view(c.y0, c.y1, c.y2);
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

namespace {

pass_result denoise_start(pass_io* io)
{
    // Sample histories from the bias levels (entry 3 keeps what it held),
    // difference histories, previous values and triggers from 0. Each
    // channel keeps its own trigger.
    run.bias_left = int16_t(app.bias_level[0]);
    run.bias_right = int16_t(app.bias_level[1]);
    run.left = {run.bias_left, run.bias_left, run.bias_left, app.sample_hist_left[3], 0, 0, 0, 0, 0, 0};
    run.right = {run.bias_right, run.bias_right, run.bias_right, app.sample_hist_right[3], 0, 0, 0, 0, 0, 0};
    run.corrections = 0;
    run.points = 0;
    app.view_cursor = 0;
    run.block_start = io->out->next;
    run.frames_left = track_frames();
    return PASS_OK;
}

pass_result denoise_flow(pass_io* io)
{
    riff_info& in = *io->in;
    riff_info& out = *io->out;
    const int channels = track_channels();
    const int frame_bytes = 2 * channels;
    // The run's values live in locals (registers) while the frames go by.
    const int16_t bias_left = run.bias_left, bias_right = run.bias_right;
    channel_state left = run.left, right = run.right;
    int32_t corrections = run.corrections;
    int16_t points = run.points;
    uint8_t* block_start = run.block_start;
    uint32_t frames = run.frames_left;
    pass_result result = PASS_OK;

    while (frames > 0) {
        // Frames lying whole in both buffers go through without checks.
        const uint32_t in_frames = uint32_t((input_data_end() - in.next) / frame_bytes);
        const uint32_t out_frames = uint32_t((out.end_write - out.next) / frame_bytes);
        uint32_t run_frames = std::min({frames, in_frames, out_frames});
        if (run_frames > 0) {
            // The samples go across as they are, then each channel's
            // corrections are written over them.
            std::memcpy(out.next, in.next, size_t(run_frames) * size_t(frame_bytes));
            if (channels == 2) {
                channel_run<2, true>(left, in.next, out.next, block_start, run_frames, frames, corrections, points);
                channel_run<2, false>(right, in.next + 2, out.next + 2, block_start, run_frames, frames, corrections,
                                      points);
            } else {
                channel_run<1, true>(left, in.next, out.next, block_start, run_frames, frames, corrections, points);
            }
            in.next += size_t(run_frames) * size_t(frame_bytes);
            out.next += size_t(run_frames) * size_t(frame_bytes);
            frames -= run_frames;
            continue;
        }
        // A frame at a buffer's end: the buffers are refilled and written out
        // between samples, so a frame cut by a buffer's end is read whole.
        for (int c = 0; c < channels; ++c) {
            if (input_data_end() - in.next < 2) {
                app.view_cursor = 0;
                io->show_points(points, app.view_points);
                points = 0;
                if (refill_input() != 0)
                    goto end;
                left.y0 = left.y1 = left.y2 = bias_left;
                right.y0 = right.y1 = right.y2 = bias_right;
                app.view_cursor = 0;
            }
            if (out.end_write - out.next < 2) {
                if (write_output_buffer() != 0) {
                    result = PASS_WRITE_FAILED;
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
    run.left = left;
    run.right = right;
    run.corrections = corrections;
    run.points = points;
    run.block_start = block_start;
    run.frames_left = frames;
    return result;
}

pass_result denoise_drain(pass_io* io, pass_result so_far)
{
    for (const auto& [c, y, d] : {std::tuple{run.left, app.sample_hist_left, app.diff_hist_left},
                                  std::tuple{run.right, app.sample_hist_right, app.diff_hist_right}}) {
        y[0] = c.y0, y[1] = c.y1, y[2] = c.y2, y[3] = c.y3;
        d[0] = c.d0, d[1] = c.d1, d[2] = c.d2, d[3] = c.d3;
    }
    app.correction_count = run.corrections;
    if (so_far != PASS_OK)
        return so_far;   // no result line
    app.view_cursor = 0;
    io->show_points(run.points, app.view_points);
    std::snprintf(app.result_text, sizeof app.result_text, ui_text("denoise process complete %d corrections"),
                  int(app.correction_count));
    return PASS_OK;
}

} // namespace

const clean_pass denoiser_pass = {'n', denoise_start, denoise_flow, denoise_drain, nullptr};
