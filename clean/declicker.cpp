// The DeClicker pass: a moving mean of each channel, residual events on the
// left channel that close on an opposite-signed spike, slope events, and the
// repair of an event's frames from the smoothed area into the output image.
#include "clean/declicker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>
#include "core/app_state.h"
#include "clean/process_track.h"
#include "clean/track_io.h"
#include "ui/displays.h"
#include "res/ui_text.h"

namespace {

constexpr int MAX_WINDOW = 45;           // also the fade-in's wide pass
constexpr uint32_t RESIDUAL_FLOOR = 11500;
constexpr uint32_t RESIDUAL_CAP = 16383; // largest mean residual that counts
constexpr int REPAIR_MAX_LENGTH = 80;
constexpr uint32_t WARM_UP_FRAMES = 6;   // residual test off below this in the first buffer ever
constexpr int VIEW_EVERY = 6;            // a view point every 6th frame
constexpr int16_t SLOPE_STEP = 4500;     // the right channel's largest limited step
constexpr int32_t SLOPE_LIMIT = 4500;    // slope_limit as it always is (quiet_frames counts on it)
constexpr int32_t QUIET_STRETCH = 8;     // quiet frames in a row worth a quiet try

declick_state& run = app.declick_run;

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

// One primed sample is in the output image: when the block is full, it
// goes out and the next one starts. 0, or -6.
int primed_sample_done()
{
    if (++run.wi < run.block_cap)
        return 0;
    if (flush_output_block(run.block_start + 2 * run.wi) < 0)
        return -6;
    return start_block();
}

// The record's length + 2 frames back from the position after the current
// frame's left sample (that position included), from the smoothed area into
// the output image, never before this block (already written). The position
// after the left sample itself is left out: it is the sample read next (the
// right one, or a mono track's next), whose raw value covers the repair.
void repair_at(const event_record* record, int32_t wi, int16_t* image)
{
    const int length = record->length;
    const int n = length + 2;
    if (length > REPAIR_MAX_LENGTH || n <= 0)
        return;
    const int32_t from = std::max(0, wi + 2 - n * run.channels);
    for (int32_t p = from; p <= wi; ++p)
        image[p] = run.smoothed[p];
}

void take_view_point(int16_t m)
{
    if (app.view_cursor < app.view_points_count) {
        app.view_points[app.view_cursor].y = sample_to_view_row(m);
        ++app.view_cursor;
        ++app.view_count;
    }
}

// The histories back into the work area's tables (a mono track's right
// table keeps what the start step put there).
void finish_run()
{
    if (!run.line_loaded)
        return;
    const int h = run.window + 2;
    line_store(&run.line, run.pushed[0] + h - 1, 0, history_table(0));
    if (run.channels == 2)
        line_store(&run.line, run.pushed[1] + h - 1, 1, history_table(1));
    run.line_loaded = false;
}

// The start of a run: the histories from the bias levels and the tables,
// the line's memory, the sums. The first K / 2 + 1 frames are primed by the
// first call.
int start_step()
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
    run.line.frames = run.line_frames.data();
    run.line.channels = run.channels;
    run.line.window = k;
    line_load(&run.line, left, right);
    run.pushed[0] = run.pushed[1] = 0;
    run.line_loaded = true;
    return 0;
}

// Frames `i` to `i` + n - 1 of the call (line frames h + i on) through
// every rule: frames with an event, a slope, or a block's end in them. The
// state the frames change is kept in locals for the length of the call, so
// that the samples written through the areas' pointers cannot be taken to
// overwrite it. 0, or -6.
template <int CHANNELS>
int loud_frames(int32_t i, int32_t n)
{
    const int h = run.window + 2;
    const int k = run.window;
    history_line line = run.line;
    int16_t smoothed_left = run.smoothed_left, smoothed_right = run.smoothed_right;
    uint32_t residual_sum = run.residual_sum;
    int32_t wi = run.wi, block_cap = run.block_cap, slope_run = run.slope_run;
    int event_current = run.event_current, event_last = run.event_last;
    int32_t corrections = app.correction_count;
    int pushed_left = run.pushed[0], pushed_right = run.pushed[1];
    const int event_records = run.event_records;
    const int32_t slope_limit = app.slope_limit;
    const bool warm = app.buffers_done >= 1;   // a buffer done before: the residual test is on at once
    int16_t* image = run.image;
    int16_t* const smoothed = run.smoothed;
    event_record* const list = run.events;

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
        run.wi = wi;
        if (flush_output_block(run.block_start + 2 * wi) < 0 || start_block() != 0)
            return -6;
        wi = 0;
        block_cap = run.block_cap;
        image = run.image;
        event_current = event_last = 0;
        return 0;
    };

    int result = 0;
    for (const int32_t last = i + n; i < last; ++i) {
        const int16_t* frame = line.frames + (h + i) * CHANNELS;
        { // The left sample (the only one of a mono frame).
            const int16_t x = frame[0];
            image[wi] = x;
            const int16_t m = line_mean(&line, h + i, 0);
            pushed_left = i + 1;
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
                    repair_at(cur, wi, image);   // a slope's repair is not counted
                if (event_current == event_last && next_record())
                    clear_record(&list[event_current]);
                slope_run = 0;
            }
            smoothed_left = m;
            if (i % VIEW_EVERY == 0)
                take_view_point(m);

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
                event_record* last_event = &list[event_last];
                if (last_event->peak == 0) {
                    // Opening; with no record left in this block it does not happen.
                    if (next_record()) {
                        event_record* e = &list[event_current];
                        e->peak = r;
                        e->end_value = 0;
                        e->length = int16_t(k >> 1);
                        event_last = event_current;
                    }
                } else if (int32_t(last_event->peak) * r > 0) {
                    cur = &list[event_current];
                    if (r >= 0 ? r > cur->peak : r < cur->peak)
                        cur->peak = r;
                    if (cur->peak == r)
                        --cur->length;
                } else {
                    // An opposite spike closes the event: repaired and counted.
                    last_event->end_value = r;
                    repair_at(last_event, wi, image);
                    ++corrections;
                    if (next_record()) {
                        clear_record(&list[event_current]);
                        event_last = event_current;
                    }
                }
            }
        }
        if (sample_done() != 0) {
            result = -6;
            break;
        }

        if (CHANNELS == 2) {
            // The right sample: smoothed, its step limited while a slope runs.
            const int16_t x = frame[1];
            image[wi] = x;
            int16_t m = line_mean(&line, h + i, 1);
            pushed_right = i + 1;
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
            if (sample_done() != 0) {
                result = -6;
                break;
            }
        }
    }
    run.line.sum[0] = line.sum[0];
    run.line.sum[1] = line.sum[1];
    run.smoothed_left = smoothed_left;
    run.smoothed_right = smoothed_right;
    run.residual_sum = residual_sum;
    run.wi = wi;
    run.slope_run = slope_run;
    run.event_current = event_current;
    run.event_last = event_last;
    run.pushed[0] = pushed_left;
    run.pushed[1] = CHANNELS == 2 ? pushed_right : pushed_left;
    app.correction_count = corrections;
    return result;
}

// What a run of quiet frames changes, in registers while it runs.
struct quiet_state {
    int32_t sum_left, sum_right;
    int16_t smoothed_left, smoothed_right;
    uint32_t residual_sum;
};

// Frames in which nothing happens but the means: no slope (both smoothed
// steps within the limit, so the 16-bit wrap and the clamp leave them
// alone), no residual above the floor (so no event can open, grow or
// close). `x` is the first frame in the line, `smoothed` its place in the
// smoothed area. Runs up to n frames and stops before the first frame that
// is not quiet, which the caller passes through every rule. The frames done.
template <int CHANNELS>
[[gnu::noinline]] int quiet_frames(const int16_t* x, int history_samples, int16_t* smoothed, int n, int64_t multiplier,
                                   quiet_state& state)
{
    // The state moves on with every frame; the loud frame's step is taken
    // back from memory, so that no copy of the state is kept in registers.
    int32_t sum_left = state.sum_left, sum_right = state.sum_right;
    int32_t smoothed_left = state.smoothed_left, smoothed_right = state.smoothed_right;
    uint32_t residual_sum = state.residual_sum;
    const int16_t* const first = x;
    const int16_t* const end = x + n * CHANNELS;
    const int16_t* old = x - history_samples;
    for (; x != end; x += CHANNELS, old += CHANNELS, smoothed += CHANNELS) {
        const int32_t left = x[0];
        sum_left += left - old[0];
        const int32_t m_left = mean_of_sum(sum_left, multiplier);
        const int32_t r = left - m_left;
        const uint32_t a = uint32_t(r < 0 ? -r : r);
        bool loud = uint32_t(m_left - smoothed_left + SLOPE_LIMIT) > 2 * SLOPE_LIMIT;
        smoothed_left = m_left;
        loud |= a > RESIDUAL_FLOOR;
        if (CHANNELS == 2) {
            sum_right += x[1] - old[1];
            const int32_t m_right = mean_of_sum(sum_right, multiplier);
            loud |= uint32_t(m_right - smoothed_right + SLOPE_LIMIT) > 2 * SLOPE_LIMIT;
            smoothed_right = m_right;
            smoothed[1] = int16_t(m_right);
        }
        smoothed[0] = int16_t(m_left);
        if (loud) {
            sum_left -= x[0] - old[0];
            if (CHANNELS == 2)
                sum_right -= x[1] - old[1];
            if (x != first) {
                smoothed_left = smoothed[-CHANNELS];
                if (CHANNELS == 2)
                    smoothed_right = smoothed[-1];
            } else {
                smoothed_left = state.smoothed_left;
                smoothed_right = state.smoothed_right;
            }
            break;
        }
        residual_sum += a;
    }
    state.sum_left = sum_left;
    state.sum_right = sum_right;
    state.smoothed_left = int16_t(smoothed_left);
    state.smoothed_right = int16_t(smoothed_right);
    state.residual_sum = residual_sum;
    return int(x - first) / CHANNELS;
}

// Whether the frames from here on can go through quiet_frames until one is
// not quiet: no slope waiting for its end, and a current record whose
// length, when counting, counts up from above 0 (it cannot reach 0 within
// a block).
bool quiet_possible()
{
    const event_record* cur = &run.events[run.event_current];
    if (run.slope_run != 0 && cur->peak != 0 && cur->end_value == 0)
        return false;
    return cur->length >= 0 && app.slope_limit == SLOPE_LIMIT;
}

// The frames of one call after the start step: frames `i` to `frames` - 1
// of the call, in the line. The frames done, or -6.
template <int CHANNELS>
int process_frames(int32_t i, int32_t frames)
{
    const int h = run.window + 2;
    while (i < frames) {
        const int32_t room = (run.block_cap - run.wi) / CHANNELS;
        int32_t loud = QUIET_STRETCH;
        if (room > 0 && quiet_possible()) {
            const int32_t wi = run.wi;
            const int16_t* x = run.line.frames + (h + i) * CHANNELS;
            quiet_state state = {run.line.sum[0], run.line.sum[1], run.smoothed_left, run.smoothed_right,
                                 run.residual_sum};
            const int n = std::min(frames - i, room);
            const int done = quiet_frames<CHANNELS>(x, h * CHANNELS, run.smoothed + wi, n, run.line.multiplier, state);
            if (done > 0) {
                std::memcpy(run.image + wi, x, size_t(done) * CHANNELS * 2);
                run.line.sum[0] = state.sum_left;
                run.line.sum[1] = state.sum_right;
                run.smoothed_left = state.smoothed_left;
                run.smoothed_right = state.smoothed_right;
                run.residual_sum = state.residual_sum;
                event_record* cur = &run.events[run.event_current];
                if (cur->length != 0)
                    cur->length = int16_t(cur->length + done);
                // The view points of these frames, from the smoothed area.
                for (int32_t f = (i + VIEW_EVERY - 1) / VIEW_EVERY * VIEW_EVERY; f < i + done; f += VIEW_EVERY)
                    take_view_point(run.smoothed[wi + (f - i) * CHANNELS]);
                i += done;
                run.pushed[0] = run.pushed[1] = i;
                run.wi += done * CHANNELS;
                if (run.wi == run.block_cap) {
                    if (flush_output_block(run.block_start + 2 * run.wi) < 0 || start_block() != 0)
                        return -6;
                }
                if (done == n)
                    continue;
            }
            // A long quiet run ended by one loud frame goes back to quiet
            // runs at once; loud stretches (noise, dense clicks) take a few
            // frames at a time through every rule rather than a quiet try each.
            if (done >= QUIET_STRETCH)
                loud = 1;
        }
        loud = std::min(loud, frames - i);
        if (loud_frames<CHANNELS>(i, loud) != 0)
            return -6;
        i += loud;
    }
    return i;
}

// Copies `n` frames into the line after the history, from `carried` (one
// frame, when not null) and then the input.
void gather(const uint8_t* carried, const uint8_t* input, int32_t n)
{
    const int frame_bytes = 2 * run.channels;
    uint8_t* to = reinterpret_cast<uint8_t*>(run.line.frames + (run.window + 2) * run.channels);
    if (carried && n > 0) {
        std::memcpy(to, carried, size_t(frame_bytes));
        to += frame_bytes;
        --n;
    }
    std::memcpy(to, input, size_t(n) * size_t(frame_bytes));
}

// The call's frames have entered the histories: the newest window + 2
// frames move to the front of the line for the next call.
void keep_history(int32_t frames)
{
    const int h = run.window + 2;
    std::memmove(run.line.frames, run.line.frames + frames * run.channels, size_t(h * run.channels) * 2);
    run.pushed[0] = run.pushed[1] = 0;
}

pass_result start_run(pass_io* io, int window_setting)
{
    if (!app.work_area || block_bytes() < io->out->buffer_size) {
        if (alloc_work_area(5) < 0)
            return PASS_NO_WORK_AREA;
    }
    // The line holds the history, a carried frame and a whole input buffer;
    // its memory is taken here, once for the pass, and kept for the next.
    const size_t line_samples = size_t(MAX_WINDOW + 2 + 1) * 2 + size_t(std::max(io->in->buffer_size, 0)) / 2;
    try {
        run.line_frames.resize(std::max(run.line_frames.size(), line_samples));
    } catch (const std::bad_alloc&) {
        return PASS_NO_WORK_AREA;
    }
    std::memset(app.work_area, 0, size_t(2 * block_bytes()));
    run.smoothed = reinterpret_cast<int16_t*>(app.work_area);
    run.events = reinterpret_cast<event_record*>(app.work_area + 4 * block_bytes());
    run.frames_left = int32_t(track_frames());
    run.channels = track_channels();
    run.window = std::clamp(window_setting, 1, MAX_WINDOW);
    run.event_records = std::max(1, int(app.work_blocks));
    run.line_loaded = false;
    riff_info& in = *io->in;

    const int count = int((input_data_end() - in.next) / track_frame_bytes());
    const int r = declick_frames(&in.next, nullptr, run.window, count, nullptr);
    if (r < 0) {
        finish_run();
        return pass_result(r);
    }
    ++app.buffers_done;
    run.frames_left -= r;
    return PASS_OK;
}

pass_result flow_run(pass_io* io)
{
    const int frame_bytes = track_frame_bytes();
    riff_info& in = *io->in;
    uint8_t carry[4];
    while (run.frames_left > 0) {
        const int left_over = int(input_data_end() - in.next);
        if (left_over >= frame_bytes)
            break;   // the buffer is not used up
        // A frame cut by the buffer's end is finished from the next buffer.
        std::memcpy(carry, in.next, size_t(left_over));
        in.next += left_over;
        io->show_points(app.view_count, app.view_points);
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
        const int r = declick_frames(&in.next, input_data_end(), run.window, in.buffer_size / frame_bytes, carried);
        if (r < 0)
            return pass_result(r);
        run.frames_left -= r;
        ++app.buffers_done;
    }
    return PASS_OK;
}

pass_result drain_run(pass_io* io, pass_result so_far)
{
    if (so_far != PASS_OK) {
        finish_run();
        return so_far;
    }
    const int r = declick_frames(&io->in->next, input_data_end(), run.window, 0, nullptr);
    finish_run();
    if (r < 0)
        return pass_result(r);
    std::snprintf(app.result_text, sizeof app.result_text, ui_text("declick process complete %d corrections"),
                  int(app.correction_count));
    return PASS_OK;
}

pass_result declick_start(pass_io* io)
{
    return start_run(io, app.filter_threshold);
}

// The wide pass after a fade-in: the window 45, from where the input stands.
// filter_threshold reads 45 while it runs and gets its value back when the
// pass succeeds.
pass_result wide_start(pass_io* io)
{
    run.kept_threshold = app.filter_threshold;
    app.filter_threshold = MAX_WINDOW;
    return start_run(io, app.filter_threshold);
}

pass_result wide_drain(pass_io* io, pass_result so_far)
{
    const pass_result r = drain_run(io, so_far);
    if (r == PASS_OK)
        app.filter_threshold = run.kept_threshold;
    return r;
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

void line_load(history_line* line, const int16_t* left, const int16_t* right)
{
    const int h = line->window + 2;
    const int16_t* tables[2] = {left, right};
    line->multiplier = mean_multiplier(line->window);
    for (int c = 0; c < line->channels; ++c) {
        line->sum[c] = 0;
        for (int j = 0; j < h; ++j) {
            line->frames[(h - 1 - j) * line->channels + c] = tables[c][j];
            line->sum[c] += tables[c][j];
        }
    }
    if (line->channels == 1)
        line->sum[1] = 0;
}

void line_store(const history_line* line, int newest, int channel, int16_t* table)
{
    for (int j = 0; j < line->window + 2; ++j)
        table[j] = line->frames[(newest - j) * line->channels + channel];
}

void repair_event(const event_record* record)
{
    repair_at(record, run.wi, run.image);
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
    int32_t i = 0;
    int32_t frames = 0;   // the call's frames, gathered into the line
    const int frame_bytes = 2 * run.channels;
    if (!end) {
        run.window = std::clamp(window, 1, MAX_WINDOW);
        if (start_step() != 0)
            return -6;
        // The first buffer's frames: the first K / 2 + 1 of them (no more
        // than count) prime the histories and the output image, without means.
        frames = std::max(count, 0);
        gather(nullptr, *position, frames);
        const int h = run.window + 2;
        const int32_t primed = std::min((run.window >> 1) + 1, frames);
        // The start sums are unsigned: a track that starts below zero wraps them.
        uint32_t sums[2] = {uint32_t(app.bias_level[0]) * uint32_t(run.window),
                            uint32_t(app.bias_level[1]) * uint32_t(run.window)};
        for (; i < primed; ++i) {
            for (int c = 0; c < run.channels; ++c) {
                const int16_t x = run.line.frames[(h + i) * run.channels + c];
                run.image[run.wi] = x;
                line_push(&run.line, h + i, c);
                run.pushed[c] = i + 1;
                sums[c] += uint32_t(int32_t(x));
                if (primed_sample_done() != 0)
                    return -6;
            }
        }
        run.smoothed_left = int16_t(sums[0] / uint32_t(run.window));
        run.smoothed_right = int16_t(sums[1] / uint32_t(run.window));
        run.residual_sum = sums[0];
    } else if (count > 0) {
        // A carried frame first, then the whole frames in the buffer.
        const int32_t from_carry = carried ? 1 : 0;
        const int32_t whole = int32_t((end - *position) / frame_bytes);
        frames = from_carry + std::max(0, std::min(count - from_carry, whole));
        gather(carried, *position, frames);
    }
    if (count == 0) {
        if (flush_output_block(run.block_start + 2 * run.wi) < 0 || start_block() != 0)
            return -6;
        return 0;
    }
    clear_record(&run.events[run.event_current]);
    run.slope_run = 0;
    const int32_t done = run.channels == 2 ? process_frames<2>(i, frames) : process_frames<1>(i, frames);
    if (done < 0)
        return -6;
    *position += size_t(end && carried ? frames - 1 : frames) * size_t(frame_bytes);
    keep_history(frames);
    if (frames < count)
        return 0;   // the data ends in this buffer
    // The next buffer starts with this one's mean residual counted as one frame.
    run.residual_sum /= uint32_t(frames) + 1;
    return frames;
}

const clean_pass declicker_pass = {'d', declick_start, flow_run, drain_run, nullptr};
const clean_pass declick_wide_pass = {0, wide_start, flow_run, wide_drain, nullptr};
