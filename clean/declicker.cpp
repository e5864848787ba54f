// The DeClicker pass: a moving mean of each channel, residual events on the
// left channel that close on an opposite-signed spike, slope events, and the
// repair of an event's frames from the smoothed area into the output image.
#include "clean/declicker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include "app/app_state.h"
#include "clean/process_track.h"
#include "clean/track_io.h"
#include "playback/displays.h"

namespace {

constexpr int MAX_WINDOW = 45;           // also the fade-in's wide pass
constexpr uint32_t RESIDUAL_FLOOR = 11500;
constexpr uint32_t RESIDUAL_CAP = 16383; // largest mean residual that counts
constexpr int REPAIR_MAX_LENGTH = 80;
constexpr uint32_t WARM_UP_FRAMES = 6;   // residual test off below this in the first buffer ever
constexpr int VIEW_EVERY = 6;            // a view point every 6th frame
constexpr int16_t SLOPE_STEP = 4500;     // the right channel's largest limited step

// State of the running pass between calls. The histories live in the ring
// copies while the pass runs and go back to the work area's tables when it
// ends, so the next pass finds its two unreset entries where they were.
struct declick_state {
    history_ring left, right;
    int16_t smoothed_left, smoothed_right;
    uint32_t residual_sum;
    int32_t wi;             // write position: samples into the current output block
    int32_t block_cap;      // samples the current output block holds
    uint8_t* block_start;   // the output buffer's position when the block began
    int event_current, event_last;
    int event_records;      // records in the list (the work blocks setting)
    int channels;
    int window;
    bool rings_loaded;
    int16_t* smoothed;      // area 0
    int16_t* image;         // the output image: the samples are put right into the
                            // output buffer, repairs and all (area 3 stays unused)
    event_record* events;
};
declick_state run;

int32_t block_bytes()
{
    return (app.work_area_bytes - 12288) / 4 - 16 * app.work_blocks;
}
int16_t* history_table(int channel)
{
    return reinterpret_cast<int16_t*>(app.work_area + 4 * block_bytes() + 16 * app.work_blocks + 1024 * channel);
}

// A difference below -32767 is clamped to -32760, then wraps into 16 bits.
inline int16_t clamp_difference(int32_t v)
{
    return int16_t(v < -32767 ? -32760 : v);
}
inline int32_t magnitude(int16_t v)
{
    return v < 0 ? -int32_t(v) : int32_t(v);
}
inline void clear_record(event_record* r)
{
    r->peak = 0;
    r->end_value = 0;
    r->length = 0;
}

// A new output block starts at the output buffer's position, with an empty
// event list. A buffer with no room left is written out first.
int start_block()
{
    riff_info& out = app.track_out_info;
    for (int tries = 0; out.end_write - out.next < 2; ++tries)
        if (tries == 2 || write_output_buffer() != 0)
            return -6;
    run.block_start = out.next;
    run.image = reinterpret_cast<int16_t*>(out.next);
    run.block_cap = int32_t((out.end_write - out.next) / 2);
    run.wi = 0;
    run.event_current = run.event_last = 0;
    clear_record(&run.events[0]);
    return 0;
}

// The block is full at `wi` samples: out with it, and on with the next.
int next_block(int32_t wi)
{
    if (flush_output_block(run.block_start + 2 * wi) < 0)
        return -6;
    return start_block();
}

// The record's length + 2 frames back from the position after the current
// frame's left sample (that position included), from the smoothed area into
// the output image; never before this block (already written) nor past its
// end (the next frame's sample of a mono track, read over anyway).
void repair_at(const event_record* record, int32_t wi)
{
    const int length = record->length;
    const int n = length + 2;
    if (length > REPAIR_MAX_LENGTH || n <= 0)
        return;
    const int32_t after_left = wi + 1;
    const int32_t from = std::max(0, after_left - n * run.channels + 1);
    const int32_t to = std::min(after_left, run.block_cap - 1);
    for (int32_t p = from; p <= to; ++p)
        run.image[p] = run.smoothed[p];
}

void finish_run()
{
    if (!run.rings_loaded)
        return;
    ring_store(&run.left, history_table(0));
    ring_store(&run.right, history_table(1));
    run.rings_loaded = false;
}

// The start of a run: histories and sums from the bias levels, then the
// first K / 2 + 1 frames primed without smoothing. The frames primed, or -6.
int start_step(uint8_t** position, int count)
{
    if (start_block() != 0)
        return -6;
    app.correction_count = 0;
    const int k = run.window;
    int16_t* left = history_table(0);
    int16_t* right = history_table(1);
    for (int j = 0; j < k; ++j) {
        left[j] = int16_t(app.bias_level[0] >> 1);
        right[j] = int16_t(app.bias_level[1] >> 1);
    }
    ring_load(&run.left, left, k);
    ring_load(&run.right, right, k);
    run.rings_loaded = true;
    // The sums are unsigned: a track that starts below zero wraps them.
    uint32_t left_sum = uint32_t(app.bias_level[0]) * uint32_t(k);
    uint32_t right_sum = uint32_t(app.bias_level[1]) * uint32_t(k);
    const int primed = std::min((k >> 1) + 1, count);
    uint8_t* pos = *position;
    for (int f = 0; f < primed; ++f) {
        for (int c = 0; c < run.channels; ++c) {
            const int16_t x = load_sample(pos);
            pos += 2;
            ring_push(c ? &run.right : &run.left, x);
            run.image[run.wi] = x;
            (c ? right_sum : left_sum) += uint32_t(int32_t(x));
            if (++run.wi == run.block_cap && next_block(run.wi) != 0) {
                *position = pos;
                return -6;
            }
        }
    }
    *position = pos;
    run.smoothed_left = int16_t(left_sum / uint32_t(k));
    run.smoothed_right = int16_t(right_sum / uint32_t(k));
    run.residual_sum = left_sum;
    return primed;
}

// The frames of one call after the start step. The state the frames change
// is kept in locals for the length of the call, so that the samples written
// through the areas' pointers cannot be taken to overwrite it.
template <int CHANNELS>
int process_frames(uint8_t** position, const uint8_t* end, int32_t i, int count, const uint8_t* carried)
{
    history_ring left = run.left, right = run.right;
    int16_t smoothed_left = run.smoothed_left, smoothed_right = run.smoothed_right;
    uint32_t residual_sum = run.residual_sum;
    int32_t wi = run.wi, block_cap = run.block_cap, slope_run = 0;
    int event_current = run.event_current, event_last = run.event_last;
    int32_t corrections = app.correction_count;
    const int event_records = run.event_records;
    const int k = run.window;
    constexpr int frame_bytes = 2 * CHANNELS;
    const int32_t slope_limit = app.slope_limit;
    const bool warm = app.buffers_done >= 1;   // a buffer done before: the residual test is on at once
    int16_t* image = run.image;
    int16_t* const smoothed = run.smoothed;
    event_record* const list = run.events;
    int view_wait = (VIEW_EVERY - i % VIEW_EVERY) % VIEW_EVERY;   // frames until i is a multiple of 6

    // The step to the next record; none at the end of the block's list.
    auto next_record = [&]() {
        if (event_current + 1 >= event_records)
            return false;
        ++event_current;
        return true;
    };
    // One sample is in the output image: when the block is full, write it out.
    auto sample_done = [&]() {
        if (++wi < block_cap)
            return 0;
        if (next_block(wi) != 0)
            return -6;
        wi = 0;
        block_cap = run.block_cap;
        image = run.image;
        event_current = event_last = 0;
        return 0;
    };

    uint8_t* pos = *position;
    // One frame; 0, or -6 when a full block cannot be written.
    auto frame_work = [&](const uint8_t* frame) __attribute__((always_inline)) {
        { // The left sample (the only one of a mono frame).
            const int16_t x = load_sample(frame);
            image[wi] = x;
            const int16_t m = ring_mean(&left, x);
            smoothed[wi] = m;

            const int16_t d = clamp_difference(int32_t(m) - smoothed_left);
            event_record* cur = &list[event_current];
            if (magnitude(d) > slope_limit) {
                ++slope_run;
                if (cur->peak == 0)
                    cur->peak = m;
                ++cur->length;
            } else if (slope_run != 0 && cur->peak != 0 && cur->end_value == 0) {
                cur->end_value = m;
                if (i > (cur->length >> 1))
                    repair_at(cur, wi);   // a slope's repair is not counted
                if (event_current == event_last && next_record())
                    clear_record(&list[event_current]);
                slope_run = 0;
            }
            smoothed_left = m;

            if (view_wait == 0) {
                if (app.view_cursor < app.view_points_count) {
                    app.view_points[app.view_cursor].y = sample_to_view_row(m);
                    ++app.view_cursor;
                    ++app.view_count;
                }
                view_wait = VIEW_EVERY;
            }
            --view_wait;

            const int16_t r = clamp_difference(int32_t(x) - m);
            const uint32_t a = uint32_t(magnitude(r));
            residual_sum += a;
            cur = &list[event_current];
            if (cur->length != 0)
                ++cur->length;

            // a > max(min(residual_sum / n, cap), floor), n = i + 1: the
            // division only when the floor is passed.
            if ((warm || uint32_t(i) + 1 >= WARM_UP_FRAMES) && a > RESIDUAL_FLOOR &&
                a > std::min(residual_sum / (uint32_t(i) + 1), RESIDUAL_CAP)) {
                event_record* last = &list[event_last];
                if (last->peak == 0) {
                    // Opening; with no record left in this block it does not happen.
                    if (next_record()) {
                        event_record* e = &list[event_current];
                        e->peak = r;
                        e->end_value = 0;
                        e->length = int16_t(k >> 1);
                        event_last = event_current;
                    }
                } else if (int32_t(last->peak) * r > 0) {
                    cur = &list[event_current];
                    if (r >= 0 ? r > cur->peak : r < cur->peak)
                        cur->peak = r;
                    if (cur->peak == r)
                        --cur->length;
                } else {
                    // An opposite spike closes the event: repaired and counted.
                    last->end_value = r;
                    repair_at(last, wi);
                    ++corrections;
                    if (next_record()) {
                        clear_record(&list[event_current]);
                        event_last = event_current;
                    }
                }
            }
        }
        if (sample_done() != 0)
            return -6;

        if (CHANNELS == 2) {
            // The right sample: smoothed, its step limited while a slope runs.
            const int16_t x = load_sample(frame + 2);
            image[wi] = x;
            int16_t m = ring_mean(&right, x);
            const int16_t d = clamp_difference(int32_t(m) - smoothed_right);
            if (magnitude(d) > slope_limit) {
                event_record* cur = &list[event_current];
                if (i > (cur->length >> 1))
                    m = int16_t(d < 0 ? smoothed_right - SLOPE_STEP : smoothed_right + SLOPE_STEP);
                ++slope_run;
                ++cur->length;
            }
            smoothed_right = m;
            smoothed[wi] = m;
            if (sample_done() != 0)
                return -6;
        }
        return 0;
    };

    int result = 0;
    if (carried && i < count) {
        if (frame_work(carried) != 0) {
            result = -6;
            goto out;
        }
        ++i;
    }
    while (i < count) {
        // Whole frames in the buffer run without a test of the data's end.
        const int32_t whole = end ? int32_t((end - pos) / frame_bytes) : count - i;
        if (whole <= 0)
            goto out;   // the data ends in this buffer: 0
        for (int32_t n = std::min(count - i, whole); n > 0; --n) {
            if (frame_work(pos) != 0) {
                result = -6;
                goto out;
            }
            pos += frame_bytes;
            ++i;
        }
    }
    // The next buffer starts with this one's mean residual counted as one frame.
    residual_sum /= uint32_t(i) + 1;
    result = i;
out:
    run.left = left;
    run.right = right;
    run.smoothed_left = smoothed_left;
    run.smoothed_right = smoothed_right;
    run.residual_sum = residual_sum;
    run.wi = wi;
    run.event_current = event_current;
    run.event_last = event_last;
    app.correction_count = corrections;
    *position = pos;
    return result;
}

int run_pass(int window_setting)
{
    if (!app.work_area || block_bytes() < app.track_out_info.buffer_size) {
        if (alloc_work_area(5) < 0)
            return -1;
    }
    std::memset(app.work_area, 0, size_t(2 * block_bytes()));
    run.smoothed = reinterpret_cast<int16_t*>(app.work_area);
    run.events = reinterpret_cast<event_record*>(app.work_area + 4 * block_bytes());
    int32_t total = int32_t(track_frames());
    run.channels = track_channels();
    run.window = std::clamp(window_setting, 1, MAX_WINDOW);
    run.event_records = std::max(1, int(app.work_blocks));
    run.rings_loaded = false;
    const int k = run.window;
    const int frame_bytes = track_frame_bytes();
    riff_info& in = app.track_in_info;

    int count = int((input_data_end() - in.next) / frame_bytes);
    int r = declick_frames(&in.next, nullptr, k, count, nullptr);
    if (r < 0) {
        finish_run();
        return r;
    }
    ++app.buffers_done;
    total -= r;

    uint8_t carry[4];
    while (total > 0) {
        const int left_over = int(input_data_end() - in.next);
        if (left_over >= frame_bytes)
            break;   // the buffer is not used up
        // A frame cut by the buffer's end is finished from the next buffer.
        std::memcpy(carry, in.next, size_t(left_over));
        in.next += left_over;
        draw_wave_view(app.view_count, app.view_points, nullptr);
        app.view_count = 0;
        app.view_cursor = 0;
        if (refill_input() != 0)
            break;
        const uint8_t* carried = nullptr;
        if (left_over > 0) {
            const int need = frame_bytes - left_over;
            if (input_data_end() - in.next < need)
                break;
            std::memcpy(carry + left_over, in.next, size_t(need));
            in.next += need;
            carried = carry;
        }
        r = declick_frames(&in.next, input_data_end(), k, in.buffer_size / frame_bytes, carried);
        if (r < 0) {
            finish_run();
            return r;
        }
        total -= r;
        ++app.buffers_done;
    }
    r = declick_frames(&in.next, input_data_end(), k, 0, nullptr);
    finish_run();
    if (r < 0)
        return r;
    std::snprintf(app.result_text, sizeof app.result_text, "declick process complete %d corrections",
                  int(app.correction_count));
    return 0;
}

} // namespace

int16_t moving_mean(int16_t* history, int16_t sample, int window)
{
    push_history(history, sample, window);
    int32_t sum = 0;
    for (int j = 0; j <= window + 1; ++j)
        sum += history[j];
    return int16_t(sum / (window + 1));
}

void push_history(int16_t* history, int16_t sample, int window)
{
    std::memmove(history + 1, history, size_t(window + 1) * 2);
    history[0] = sample;
}

void ring_load(history_ring* ring, const int16_t* history, int window)
{
    std::memset(ring->entry, 0, sizeof ring->entry);
    ring->head = 0;
    ring->window = window;
    ring->reciprocal = (uint64_t(1) << 32) / uint64_t(window + 1) + 1;
    ring->sum = 0;
    for (int j = 0; j <= window + 1; ++j) {
        ring->entry[j] = history[j];
        ring->sum += history[j];
    }
}

void ring_store(const history_ring* ring, int16_t* history)
{
    for (int j = 0; j <= ring->window + 1; ++j)
        history[j] = ring->entry[(ring->head + uint32_t(j)) & 63];
}

void repair_event(const event_record* record)
{
    repair_at(record, run.wi);
}

int32_t flush_output_block(uint8_t* end)
{
    riff_info& out = app.track_out_info;
    out.next = end;
    const int64_t before = out.disk_offset;
    if (write_output_buffer() != 0)
        return -6;
    return int32_t(std::max<int64_t>(0, out.disk_offset - before));
}

int declick_frames(uint8_t** position, const uint8_t* end, int window, int count, const uint8_t* carried)
{
    run.window = std::clamp(window, 1, MAX_WINDOW);
    int32_t i = 0;
    if (!end) {
        i = start_step(position, count);
        if (i < 0)
            return -6;
    }
    if (count == 0) {
        if (flush_output_block(run.block_start + 2 * run.wi) < 0 || start_block() != 0)
            return -6;
        return 0;
    }
    clear_record(&run.events[run.event_current]);
    return run.channels == 2 ? process_frames<2>(position, end, i, count, carried)
                             : process_frames<1>(position, end, i, count, carried);
}

int declick_pass()
{
    return run_pass(app.filter_threshold);
}

int declick_wide_pass()
{
    const int16_t kept = app.filter_threshold;
    app.filter_threshold = MAX_WINDOW;
    const int r = run_pass(app.filter_threshold);
    if (r == 0)
        app.filter_threshold = kept;
    return r;
}
