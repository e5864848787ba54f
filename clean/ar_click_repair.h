// Click repair on one channel's block: clicks found from an autoregressive
// model's prediction error, their samples refilled from the model.
#pragma once
#include <cstdint>
#include <vector>

constexpr int AR_ORDER = 32;        // model order: enough for a few partials of music
constexpr int AR_MAX_GAP = 64;      // longer bursts are left alone: a transient, not a click
constexpr int AR_WIDEN = 2;         // samples added on each side of a detection
constexpr int AR_MERGE = 12;        // detections closer than this form one gap
constexpr int AR_STRETCH = 32;      // samples per stretch of the local error scale
constexpr int AR_HISTORY = 64;      // repaired samples kept before a block (>= order + widen)
constexpr int AR_LOOKAHEAD = 160;   // samples after a block (>= max gap + order + widen)

// Scratch of the repair, sized once for blocks of `block` samples.
struct ar_scratch {
    int block = 0;
    std::vector<float> window;      // taper for the fit, history + block + lookahead
    std::vector<float> forward;     // the smaller of the forward and backward errors' sizes
    std::vector<float> magnitude;   // |error| for the median
    std::vector<float> local;       // error scale of each stretch after the history, then each one's quartile
    std::vector<double> matrix;     // AR_MAX_GAP^2, the normal equations of a gap
    std::vector<double> rhs;        // AR_MAX_GAP
    std::vector<float> known_error; // AR_MAX_GAP + AR_ORDER
    std::vector<float> tapered;     // the block under the taper, for the fit
    std::vector<float> saved;       // a gap's samples, put back if its equations fail
    std::vector<int> gaps;          // start, end pairs: the first look's gaps, the second's, both merged
    std::vector<float> original;    // the block as it came, while the model is fitted again
    double a[AR_ORDER + 1];         // predictor: x[n] ~ sum a[k] x[n-k], k = 1..order
    float af[AR_ORDER + 1];         // the same in single precision, for the error filter
    double b[AR_ORDER + 1];         // error filter: b[0] = 1, b[k] = -a[k]
    double rb[AR_ORDER + 1];        // autocorrelation of b
};

bool ar_scratch_init(ar_scratch* s, int block);

// Fits the model to x[0 .. history + block + lookahead) and writes its
// coefficients into s->a and s->b. False when the samples carry no signal.
bool ar_fit(ar_scratch* s, const float* x, int length);

// Repairs the clicks that start in x[history .. history + block): where the
// prediction error run forwards and backwards both stand out from the
// error's local scale, unless the error stays up after (a drum's onset).
// Gaps are found twice, the second time with the model fitted again on the
// block with the first gaps filled, and all are filled with that model.
// Samples
// before `first_valid` or from `valid_end` on (positions in x) are outside
// the track and never taken for clicks. `threshold` is the detection level
// in robust standard deviations of the prediction error. Counts the gaps
// and samples repaired into *gaps and *samples.
void ar_repair_block(ar_scratch* s, float* x, int history, int lookahead, int first_valid, int valid_end,
                     float threshold, int64_t* gaps, int64_t* samples);

// Least-squares interpolation of x[start .. start + length) from the samples
// around it under the model in s (AR_ORDER known samples are needed on
// each side). False when the equations cannot be solved; x is kept then.
bool ar_interpolate(ar_scratch* s, float* x, int start, int length);
