// The DeClicker: finds short bipolar spikes far above a moving mean of the
// left channel and replaces the frames they cover by the moving mean.
//
// Threads: the dialog's thread only; the pass runs inside the command.
#pragma once
#include <cstdint>

// One record of the event list (16 bytes in the work area); peak 0 is empty.
struct event_record {
    int16_t peak;        // residual of the event's largest sample, or the smoothed value that opened a slope
    int16_t end_value;   // residual (or smoothed value) that closed it
    int16_t length;      // frames the repair reaches back, less 2
    int16_t unused[5];
};
static_assert(sizeof(event_record) == 16, "event records are 16 bytes");

// The DeClicker pass with the window `filter_threshold`. 0, -1 (no work
// area) or -6 (the cleaned file cannot be written).
int declick_pass();
// The same pass with the window 45, continuing from where the input stands
// (after the fade-in). filter_threshold reads 45 while it runs.
int declick_wide_pass();

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

// The same history kept as a ring with a running sum, for the pass's speed:
// every mean equals moving_mean's on the same history, bit for bit.
struct history_ring {
    int16_t entry[64];   // entry j of the history at [(head + j) & 63]
    uint32_t head;
    int32_t sum;         // entries 0 .. window + 1
    int32_t window;      // 1..45
    uint64_t reciprocal; // 2^32 / (window + 1), rounded up: the division as a multiplication
};
void ring_load(history_ring* ring, const int16_t* history, int window);
void ring_store(const history_ring* ring, int16_t* history);
inline void ring_push(history_ring* ring, int16_t sample)
{
    const uint32_t oldest = (ring->head + uint32_t(ring->window) + 1) & 63;
    ring->sum += int32_t(sample) - ring->entry[oldest];
    ring->head = (ring->head - 1) & 63;
    ring->entry[ring->head] = sample;
}
// |sum| <= 47 x 32768 < 2^21 and the rounding error of the reciprocal is
// below window + 1 < 2^6, so the product's error stays below one quotient
// step: the result is the truncated quotient exactly.
inline int16_t ring_mean(history_ring* ring, int16_t sample)
{
    ring_push(ring, sample);
    const int32_t sum = ring->sum;
    const uint64_t magnitude = uint64_t(sum < 0 ? -int64_t(sum) : int64_t(sum));
    const int32_t quotient = int32_t((magnitude * ring->reciprocal) >> 32);
    return int16_t(sum < 0 ? -quotient : quotient);
}
