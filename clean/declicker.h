// The DeClicker: finds short bipolar spikes far above a moving mean of the
// left channel and replaces the frames they cover by the moving mean.
//
// Threads: the dialog's thread only; the pass runs inside the command.
#pragma once
#include <cstdint>
#include "clean/clean_state.h"
#include "clean/pass.h"

// One record of the event list (16 bytes in the work area); peak 0 is empty.
struct event_record {
    int16_t peak;        // residual of the event's largest sample, or the smoothed value that opened a slope
    int16_t end_value;   // residual (or smoothed value) that closed it
    int16_t length;      // frames the repair reaches back, less 2
    int16_t unused[5];
};
static_assert(sizeof(event_record) == 16, "event records are 16 bytes");

// The DeClicker pass with the window `filter_threshold`.
extern const clean_pass declicker_pass;
// The same pass with the window 45, continuing from where the input stands
// (after the fade-in). filter_threshold reads 45 while it runs.
extern const clean_pass declick_wide_pass;

// One input buffer's worth of frames. `position` is the input read position,
// advanced here; `end` the end of the sample data in the buffer, or null for
// the first call of a run (which first primes the histories); `count` the
// frames to process, 0 for the closing call that writes the last block;
// `carried`, when not null, a whole frame assembled from the end of the
// previous buffer and the start of this one, processed first and counted.
// Returns the frames processed, 0 when the data ends first, or -6.
int declick_frames(uint8_t** position, const uint8_t* end, int window, int count, const uint8_t* carried);

// Writes the output block, from the output buffer's position up to `end`,
// out to the file (the block is built in the buffer itself). The bytes the
// file grew by, or -6.
int32_t flush_output_block(uint8_t* end);

// History of one channel, newest first: window + 2 entries in use.
// moving_mean moves entries 0..window to 1..window+1, stores the sample at
// entry 0 and returns the truncated sum of the window + 2 entries divided by
// window + 1; push_history does the same move and store without the mean.
int16_t moving_mean(int16_t* history, int16_t sample, int window);
void push_history(int16_t* history, int16_t sample, int window);

// Replaces the record's length + 2 most recent frames of the output image
// by their smoothed values (nothing when the length is above 80).
void repair_event(const event_record* record);

// The division of a history's sum by window + 1 as a multiplication:
// mean_multiplier(window) is 2^40 / (window + 1) rounded down, plus 1, so
// that the product overshoots the exact quotient by a little more than 0
// and far less than one step. |sum| <= 47 x 32768 < 2^21 and the overshoot
// of the multiplier is at most window + 1 < 2^6, so the product's error is
// below 2^27 / 2^40 of a step: the floor of the product is the floor of the
// quotient, except that an exact negative quotient comes out one lower.
// Adding 1 to every negative sum's result gives the truncated quotient.
inline int64_t mean_multiplier(int window)
{
    return (int64_t(1) << 40) / (window + 1) + 1;
}
inline int16_t mean_of_sum(int32_t sum, int64_t multiplier)
{
    return int16_t(int32_t((int64_t(sum) * multiplier) >> 40) - (sum >> 31));
}

// Frames 0 .. window + 1 from the channels' history tables (newest first),
// and the sums.
void line_load(history_line* line, const int16_t* left, const int16_t* right);
// The history of `channel` whose newest entry is frame `newest`, back into
// its table (entries 0 .. window + 1, newest first).
void line_store(const history_line* line, int newest, int channel, int16_t* table);
// Frame `f` (at least window + 2) joins the channel's history: the sum
// gains its sample and loses the one window + 2 frames older. The new sum.
inline int32_t line_push(history_line* line, int f, int channel)
{
    const int16_t* x = line->frames + f * line->channels + channel;
    return line->sum[channel] += int32_t(x[0]) - x[-(line->window + 2) * line->channels];
}
// line_push, and the mean of the history then.
inline int16_t line_mean(history_line* line, int f, int channel)
{
    return mean_of_sum(line_push(line, f, channel), line->multiplier);
}
