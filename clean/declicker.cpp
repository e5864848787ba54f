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

// State of the running pass. The histories live in the ring copies while
// the pass runs and go back to the work area's tables when it ends, so the
// next pass finds its two unreset entries where they were.
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
    int32_t slope_run;
    bool rings_loaded;
};
declick_state run;

int32_t block_bytes()
{
    return (app.work_area_bytes - 12288) / 4 - 16 * app.work_blocks;
}
int16_t* smoothed_area() { return reinterpret_cast<int16_t*>(app.work_area); }
int16_t* output_image() { return reinterpret_cast<int16_t*>(app.work_area + 3 * block_bytes()); }
event_record* events() { return reinterpret_cast<event_record*>(app.work_area + 4 * block_bytes()); }
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
// The step to the next record; false at the end of the block's list, where
// the step does not happen.
inline bool next_record()
{
    if (run.event_current + 1 >= run.event_records)
        return false;
    ++run.event_current;
    return true;
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
    run.block_cap = int32_t((out.end_write - out.next) / 2);
    run.wi = 0;
    run.event_current = run.event_last = 0;
    clear_record(&events()[0]);
    return 0;
}

// One sample is in the output image: when the block is full, write it out.
inline int sample_done()
{
    if (++run.wi < run.block_cap)
        return 0;
    if (flush_output_block(run.block_start + 2 * run.wi) < 0)
        return -6;
    return start_block();
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
    int16_t* image = output_image();
    for (int f = 0; f < primed; ++f) {
        int16_t x = load_sample(pos);
        ring_push(&run.left, x);
        image[run.wi] = x;
        left_sum += uint32_t(int32_t(x));
        pos += 2;
        if (sample_done() != 0) {
            *position = pos;
            return -6;
        }
        if (run.channels == 2) {
            x = load_sample(pos);
            ring_push(&run.right, x);
            image[run.wi] = x;
            right_sum += uint32_t(int32_t(x));
            pos += 2;
            if (sample_done() != 0) {
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

// The left sample of frame i (n = i + 1): smoothing, slope and residual events.
void left_sample(int16_t x, int32_t i)
{
    int16_t* image = output_image();
    int16_t* smoothed = smoothed_area();
    event_record* list = events();
    const int32_t wi = run.wi;
    image[wi] = x;
    const int16_t m = ring_mean(&run.left, x);
    smoothed[wi] = m;

    const int16_t d = clamp_difference(int32_t(m) - run.smoothed_left);
    event_record* cur = &list[run.event_current];
    if (magnitude(d) > app.slope_limit) {
        ++run.slope_run;
        if (cur->peak == 0)
            cur->peak = m;
        ++cur->length;
    } else if (cur->peak != 0 && run.slope_run != 0 && cur->end_value == 0) {
        cur->end_value = m;
        if (i > (cur->length >> 1))
            repair_event(cur);   // a slope's repair is not counted
        if (run.event_current == run.event_last && next_record())
            clear_record(&list[run.event_current]);
        run.slope_run = 0;
    }
    run.smoothed_left = m;

    if (i % VIEW_EVERY == 0 && app.view_cursor < app.view_points_count) {
        app.view_points[app.view_cursor].y = sample_to_view_row(m);
        ++app.view_cursor;
        ++app.view_count;
    }

    const int16_t r = clamp_difference(int32_t(x) - m);
    const uint32_t a = uint32_t(magnitude(r));
    run.residual_sum += a;
    cur = &list[run.event_current];
    if (cur->length != 0)
        ++cur->length;

    const uint32_t n = uint32_t(i) + 1;
    if (n < WARM_UP_FRAMES && app.buffers_done < 1)
        return;
    // a > max(min(residual_sum / n, cap), floor): the division only when it can matter.
    if (a <= RESIDUAL_FLOOR || a <= std::min(run.residual_sum / n, RESIDUAL_CAP))
        return;
    event_record* last = &list[run.event_last];
    if (last->peak == 0) {
        if (!next_record())
            return;   // no record left in this block: the event is not opened
        event_record* e = &list[run.event_current];
        e->peak = r;
        e->end_value = 0;
        e->length = int16_t(run.window >> 1);
        run.event_last = run.event_current;
    } else if (int32_t(last->peak) * r > 0) {
        cur = &list[run.event_current];
        if (r >= 0 ? r > cur->peak : r < cur->peak)
            cur->peak = r;
        if (cur->peak == r)
            --cur->length;
    } else {
        last->end_value = r;
        repair_event(last);
        ++app.correction_count;
        if (next_record()) {
            event_record* e = &list[run.event_current];
            clear_record(e);
            run.event_last = run.event_current;
        }
    }
}

// The right sample of frame i: smoothing, its step limited while a slope runs.
void right_sample(int16_t x, int32_t i)
{
    const int32_t wi = run.wi;
    output_image()[wi] = x;
    int16_t m = ring_mean(&run.right, x);
    const int16_t d = clamp_difference(int32_t(m) - run.smoothed_right);
    if (magnitude(d) > app.slope_limit) {
        event_record* cur = &events()[run.event_current];
        if (i > (cur->length >> 1))
            m = int16_t(d < 0 ? run.smoothed_right - SLOPE_STEP : run.smoothed_right + SLOPE_STEP);
        ++run.slope_run;
        ++cur->length;
    }
    run.smoothed_right = m;
    smoothed_area()[wi] = m;
}

int run_pass(int window_setting)
{
    if (!app.work_area || block_bytes() < app.track_out_info.buffer_size) {
        if (alloc_work_area(5) < 0)
            return -1;
    }
    std::memset(app.work_area, 0, size_t(2 * block_bytes()));
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
    const int length = record->length;
    const int n = length + 2;
    if (length > REPAIR_MAX_LENGTH || n <= 0)
        return;
    // Back from the position after the current frame's left sample, that
    // position included; never before this block (already written) nor past
    // its end (the next frame's sample of a mono track, read over anyway).
    const int32_t after_left = run.wi + 1;
    const int32_t from = std::max(0, after_left - n * run.channels + 1);
    const int32_t to = std::min(after_left, run.block_cap - 1);
    int16_t* image = output_image();
    const int16_t* smoothed = smoothed_area();
    for (int32_t p = from; p <= to; ++p)
        image[p] = smoothed[p];
}

int32_t flush_output_block(uint8_t* end)
{
    riff_info& out = app.track_out_info;
    const size_t bytes = size_t(end - out.next);
    std::memcpy(out.next, output_image(), bytes);
    out.next = end;
    const int64_t before = out.disk_offset;
    if (write_output_buffer() != 0)
        return -6;
    return int32_t(std::max<int64_t>(0, out.disk_offset - before));
}

int declick_frames(uint8_t** position, const uint8_t* end, int window, int count, const uint8_t* carried)
{
    const int frame_bytes = 2 * run.channels;
    int32_t i = 0;
    run.window = std::clamp(window, 1, MAX_WINDOW);
    run.slope_run = 0;
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
    clear_record(&events()[run.event_current]);
    uint8_t* pos = *position;
    while (i < count) {
        const uint8_t* frame;
        if (carried) {
            frame = carried;
            carried = nullptr;
        } else {
            if (end && end - pos < frame_bytes) {
                *position = pos;
                return 0;
            }
            frame = pos;
            pos += frame_bytes;
        }
        left_sample(load_sample(frame), i);
        if (sample_done() != 0) {
            *position = pos;
            return -6;
        }
        if (run.channels == 2) {
            right_sample(load_sample(frame + 2), i);
            if (sample_done() != 0) {
                *position = pos;
                return -6;
            }
        }
        ++i;
    }
    // The next buffer starts with this one's mean residual counted as one frame.
    run.residual_sum /= uint32_t(i + 1);
    *position = pos;
    return i;
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
