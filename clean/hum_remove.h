// AC Sinus Remove: mains hum at a given frequency and its harmonics up to
// 1 kHz taken out of a stream of interleaved 16-bit frames, every channel.
//
// Each harmonic's amplitude and phase are measured over every period of the
// hum and smoothed over a window centred on the frame (a Hann window of
// 2 x half_window + 1 periods), and the hum so measured is subtracted. That is a
// notch with no phase error beside it: music a few Hz off a harmonic comes
// through untouched, where a recursive notch would shift its phase. The
// Threshold sets the window: 1 the longest (the narrowest notches).
//
// Hum holds steady while music comes and goes: a note a Hz or two from a
// harmonic spreads into the harmonic's own frequency while it sounds. So
// each period's measurement counts in the window's mean by how near it lies,
// over a quarter of a second around it, to the window's plain mean: the
// periods a note disturbs count little, the quiet ones between notes
// carry the hum's amplitude.
//
// Use: hum_remove_start once (it allocates); hum_remove_flow for each run of
// frames, which returns the frames it wrote (the output lags the input by
// about half a window); hum_remove_drain at the end until it returns 0;
// hum_remove_stop frees. No allocation in flow or drain.
// Threads: any, one stream per state.
#pragma once
#include <cstdint>

enum hum_remove_result { HUM_OK = 0, HUM_FREQ_OUT_OF_RANGE = -1, HUM_BAD_FORMAT = -2, HUM_NO_MEMORY = -3 };

constexpr int HUM_LOWEST_FREQ = 20;          // Hz
constexpr int HUM_HIGHEST_HARMONIC = 1000;   // Hz
constexpr int HUM_MAX_FLOW = 4096;           // frames a flow call takes at most

struct hum_remove {
    int channels = 0;          // 1 or 2, in and out
    uint32_t rate = 0;         // frames a second
    int freq = 0;              // Hz
    int harmonics = 0;         // measured and removed: freq, 2 x freq ... up to 1 kHz
    int period = 0;            // frames a block (one hum period, rounded)
    bool periodic = false;     // the rate holds whole periods: every harmonic repeats each block
    int half_window = 0;       // blocks each side of the centre
    int local_half = 0;        // blocks each side of a block's local mean
    int step = 0;              // blocks from one smoothing to the next
    double width_hz = 0;       // the notches' width: the window's main lobe
    double* weight = nullptr;        // Hann weights, 2 x half_window + 1
    double* local_weight = nullptr;  // Hann weights, 2 x local_half + 1
    int table_harmonics = 0;   // harmonics rounded up to whole groups of synthesis
    double* table = nullptr;   // per harmonic: cos, then sin of 2 pi k freq m / rate, m < period
    double* coef = nullptr;    // per harmonic: the hum's line turned to a run's phase (synthesis scratch)
    double* measured = nullptr;   // ring of blocks: per harmonic and channel, re and im
    double* local = nullptr;      // ring of blocks: the same, averaged over local_half each side
    int measured_blocks = 0;      // size of both rings in blocks
    double* smooth_prev = nullptr;   // smoothed amplitudes at prev_centre ...
    double* smooth_cur = nullptr;    // ... and at cur_centre
    double* plain = nullptr;         // a window's plain mean (smoothing scratch)
    double* sums = nullptr;          // per harmonic and channel: weight sums (smoothing scratch)
    int16_t* delay = nullptr;   // ring of input frames not yet written out
    uint32_t delay_frames = 0;  // its size in frames
    uint32_t delay_in = 0;      // where the next input frame goes in it
    double* hum = nullptr;      // one period of synthesised hum, per channel
    double* wave_prev = nullptr;  // periodic hum: one period at smooth_prev's amplitudes ...
    double* wave_cur = nullptr;   // ... and at smooth_cur's, per channel
    double* block_in = nullptr;   // the block being filled, per channel, as doubles
    uint64_t in_frames = 0;     // frames taken in
    uint64_t out_frames = 0;    // frames written out
    int64_t blocks = 0;         // whole blocks measured
    int64_t locals = 0;         // blocks with their local mean
    int64_t smoothed = -1;      // the latest block smoothed (-1: none)
    double prev_centre = 0;     // frame positions where smooth_prev ...
    double cur_centre = 0;      // ... and smooth_cur hold
    bool draining = false;      // the input has ended
};

// Whether `freq` can be removed from a track of `rate` frames a second:
// from 20 Hz to a quarter of the rate.
bool hum_freq_allowed(int freq, uint32_t rate);

// The notch width in Hz for a Threshold value (kept within 1..45).
double hum_width_for_threshold(int threshold);

// Sets the removal up. HUM_OK, or one of the codes above (nothing is then
// allocated).
int hum_remove_start(hum_remove* h, int channels, uint32_t rate, int freq, int threshold);
// Takes `frames` (at most HUM_MAX_FLOW) frames at `in` and writes the frames
// that are ready to `out`, which has room for HUM_MAX_FLOW + delay_frames.
// Returns the frames written.
uint32_t hum_remove_flow(hum_remove* h, const uint8_t* in, uint32_t frames, uint8_t* out);
// After the last input: writes up to `room` of the frames still held.
// Returns the frames written, 0 when all are out.
uint32_t hum_remove_drain(hum_remove* h, uint8_t* out, uint32_t room);
void hum_remove_stop(hum_remove* h);
