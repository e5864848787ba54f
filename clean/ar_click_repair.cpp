// Click repair on one channel's block: the model fit (autocorrelation and
// Levinson recursion), detection on the prediction error, and the
// least-squares interpolation of each gap under the model.
#include "clean/ar_click_repair.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr double WHITE_NOISE_CORRECTION = 1e-5;  // lifts r[0] (-50 dB): keeps the recursion well conditioned
constexpr float MAD_TO_SIGMA = 1.4826f;          // median |error| of a Gaussian to its deviation
constexpr float SIGMA_FLOOR = 1.0f;              // one step: quantisation alone is never a click
constexpr int MAX_GAPS_PER_BLOCK = 256;

int span(const ar_scratch* s) { return AR_HISTORY + s->block + AR_LOOKAHEAD; }

// The prediction error run backwards: x[n] against the samples after it. A
// click lights up both errors; the tail the forward error drags behind a
// click and the backward error's lead-in before it do not coincide.
float backward_error(const ar_scratch* s, const float* x, int n)
{
    double sum = x[n];
    for (int k = 1; k <= AR_ORDER; ++k)
        sum -= s->a[k] * x[n + k];
    return float(sum);
}

struct gap {
    int start, end;
};

} // namespace

bool ar_scratch_init(ar_scratch* s, int block)
{
    try {
        s->block = block;
        const int n = span(s);
        s->window.resize(size_t(n));
        for (int i = 0; i < n; ++i)
            s->window[size_t(i)] = float(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / n));
        s->forward.assign(size_t(n), 0.0f);
        s->local.assign(size_t(n / AR_STRETCH + 1), 0.0f);
        s->magnitude.assign(size_t(block), 0.0f);
        s->tapered.assign(size_t(n), 0.0f);
        s->matrix.assign(size_t(AR_MAX_GAP) * AR_MAX_GAP, 0.0);
        s->rhs.assign(AR_MAX_GAP, 0.0);
        s->known_error.assign(AR_MAX_GAP + AR_ORDER, 0.0f);
        s->saved.assign(AR_MAX_GAP, 0.0f);
        s->gaps.assign(2 * MAX_GAPS_PER_BLOCK, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ar_fit(ar_scratch* s, const float* x, int length)
{
    float* y = s->tapered.data();
    const float* w = s->window.data();
    for (int i = 0; i < length; ++i)
        y[i] = x[i] * w[i];
    double r[AR_ORDER + 1];
    for (int lag = 0; lag <= AR_ORDER; ++lag) {
        // Eight partial sums: single precision stays exact enough over one
        // block and the loop vectorises.
        float part[8] = {};
        const int n = length - lag;
        int i = 0;
        for (; i + 8 <= n; i += 8)
            for (int j = 0; j < 8; ++j)
                part[j] += y[i + j] * y[i + j + lag];
        double sum = 0;
        for (; i < n; ++i)
            sum += double(y[i]) * y[i + lag];
        for (float p : part)
            sum += p;
        r[lag] = sum;
    }
    // Less than a quarter step of signal on average: nothing to model.
    if (!(r[0] > 0.0625 * length * 0.375))
        return false;
    r[0] *= 1.0 + WHITE_NOISE_CORRECTION;

    double* a = s->a;
    std::fill(a, a + AR_ORDER + 1, 0.0);
    double err = r[0];
    double prev[AR_ORDER + 1];
    for (int i = 1; i <= AR_ORDER; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j)
            acc -= a[j] * r[i - j];
        const double k = acc / err;
        std::copy(a, a + i, prev);
        a[i] = k;
        for (int j = 1; j < i; ++j)
            a[j] = prev[j] - k * prev[i - j];
        err *= 1.0 - k * k;
        if (!(err > 0))
            return false;
    }
    s->b[0] = 1.0;
    for (int k = 0; k <= AR_ORDER; ++k)
        s->af[k] = float(a[k]);
    for (int k = 1; k <= AR_ORDER; ++k)
        s->b[k] = -a[k];
    for (int lag = 0; lag <= AR_ORDER; ++lag) {
        double sum = 0;
        for (int k = 0; k + lag <= AR_ORDER; ++k)
            sum += s->b[k] * s->b[k + lag];
        s->rb[lag] = sum;
    }
    return true;
}

bool ar_interpolate(ar_scratch* s, float* x, int start, int length)
{
    const int m = length;
    if (m <= 0 || m > AR_MAX_GAP)
        return false;
    float* saved = s->saved.data();
    for (int i = 0; i < m; ++i) {
        saved[i] = x[start + i];
        x[start + i] = 0.0f;
    }
    // The model's errors over every position the gap reaches, with the
    // unknown samples at zero: the part the known samples contribute.
    float* known = s->known_error.data();
    for (int n = 0; n < m + AR_ORDER; ++n) {
        double sum = 0;
        const float* at = x + start + n;
        for (int k = 0; k <= AR_ORDER; ++k)
            sum += s->b[k] * at[-k];
        known[n] = float(sum);
    }
    // Normal equations of the summed squared error in the unknown samples:
    // the matrix is the error filter's autocorrelation, Toeplitz and
    // positive definite; Cholesky solves it.
    double* M = s->matrix.data();
    double* v = s->rhs.data();
    for (int i = 0; i < m; ++i) {
        double sum = 0;
        for (int j = 0; j <= AR_ORDER; ++j)
            sum += s->b[j] * known[i + j];
        v[i] = -sum;
        for (int l = 0; l <= i; ++l) {
            const int d = i - l;
            M[i * m + l] = d <= AR_ORDER ? s->rb[d] : 0.0;
        }
        M[i * m + i] += 1e-9 * s->rb[0];
    }
    for (int i = 0; i < m; ++i) {
        for (int l = 0; l <= i; ++l) {
            double sum = M[i * m + l];
            for (int k = 0; k < l; ++k)
                sum -= M[i * m + k] * M[l * m + k];
            if (l == i) {
                if (!(sum > 0)) {
                    std::copy(saved, saved + m, x + start);
                    return false;
                }
                M[i * m + i] = std::sqrt(sum);
            } else {
                M[i * m + l] = sum / M[l * m + l];
            }
        }
    }
    for (int i = 0; i < m; ++i) {
        double sum = v[i];
        for (int k = 0; k < i; ++k)
            sum -= M[i * m + k] * v[k];
        v[i] = sum / M[i * m + i];
    }
    for (int i = m - 1; i >= 0; --i) {
        double sum = v[i];
        for (int k = i + 1; k < m; ++k)
            sum -= M[k * m + i] * v[k];
        v[i] = sum / M[i * m + i];
    }
    for (int i = 0; i < m; ++i)
        x[start + i] = float(v[i]);
    return true;
}

namespace {

// Finds the gaps that open in the block under the current model, repairs
// them, and appends them to the list at s->gaps (count in *count).
void detect_and_repair(ar_scratch* s, float* x, int history, int lookahead, int first_valid, int valid_end,
                       float threshold, int* count)
{
    const int block = s->block;
    const int length = history + block + lookahead;
    float* e = s->forward.data();
    for (int n = history; n < length; ++n) {
        // Written out with partial sums so the loop vectorises.
        const float* at = x + n;
        float part[4] = {at[0], 0, 0, 0};
        for (int k = 1; k <= AR_ORDER; k += 4)
            for (int j = 0; j < 4; ++j)
                part[j] -= s->af[k + j] * at[-(k + j)];
        e[n] = part[0] + part[1] + part[2] + part[3];
    }
    const int lo = std::max(history, first_valid);
    const int hi = std::min(history + block, valid_end);
    if (lo >= hi)
        return;
    // Every fourth sample is plenty for a median, and four times cheaper.
    float* mag = s->magnitude.data();
    int taken = 0;
    for (int n = lo; n < hi; n += 4)
        mag[taken++] = std::fabs(e[n]);
    std::nth_element(mag, mag + taken / 2, mag + taken);
    const float block_sigma = std::max(MAD_TO_SIGMA * mag[taken / 2], SIGMA_FLOOR);
    // The scale near each sample: the median error of its stretch of
    // AR_STRETCH samples and of the stretches either side. Inside a burst
    // of noise (a cymbal, a snare) the model predicts nothing and the error
    // is large all along: that is the music, not clicks. A click is far
    // shorter than a stretch and hardly moves its median.
    float* local = s->local.data();
    const int stretches = (length - history) / AR_STRETCH;
    for (int j = 0; j < stretches; ++j) {
        // Every other sample: a click of up to 12 samples is still less
        // than half of the 16 taken.
        float* m = mag;   // the block's magnitudes are not needed any more
        for (int i = 0; i < AR_STRETCH / 2; ++i)
            m[i] = std::fabs(e[history + j * AR_STRETCH + 2 * i]);
        std::nth_element(m, m + AR_STRETCH / 4, m + AR_STRETCH / 2);
        local[j] = MAD_TO_SIGMA * m[AR_STRETCH / 4];
    }
    auto level_at = [&](int n) {
        const int j = std::min((n - history) / AR_STRETCH, stretches - 1);
        float sigma = std::max(block_sigma, local[j]);
        if (j > 0)
            sigma = std::max(sigma, local[j - 1]);
        if (j + 1 < stretches)
            sigma = std::max(sigma, local[j + 1]);
        return threshold * sigma;
    };

    const int scan_end = std::min(length - AR_ORDER, valid_end);
    const int open_end = history + block + AR_WIDEN;   // a gap must start in the block
    gap current{-1, -1};
    auto close = [&](const gap& g) {
        const int start = std::max(g.start, history);
        const int end = std::min(g.end, valid_end);
        if (end - start <= 0 || end - start > AR_MAX_GAP || *count >= MAX_GAPS_PER_BLOCK)
            return;
        if (ar_interpolate(s, x, start, end - start)) {
            s->gaps[size_t(2 * *count)] = start;
            s->gaps[size_t(2 * *count + 1)] = end;
            ++*count;
        }
    };
    for (int n = lo; n < scan_end; ++n) {
        const float level = level_at(n);
        if (!(std::fabs(e[n]) > level))
            continue;
        if (!(std::fabs(backward_error(s, x, n)) > level))
            continue;
        const int start = n - AR_WIDEN, end = n + AR_WIDEN + 1;
        if (current.start >= 0 && start <= current.end + AR_MERGE) {
            current.end = end;
            continue;
        }
        if (current.start >= 0)
            close(current);
        if (n >= open_end)
            break;
        current = gap{start, end};
    }
    if (current.start >= 0)
        close(current);
}

} // namespace

void ar_repair_block(ar_scratch* s, float* x, int history, int lookahead, int first_valid, int valid_end,
                     float threshold, int64_t* gaps, int64_t* samples)
{
    const int length = history + s->block + lookahead;
    if (!ar_fit(s, x, length))
        return;
    int count = 0;
    detect_and_repair(s, x, history, lookahead, first_valid, valid_end, threshold, &count);
    if (count > 0) {
        // The clicks bent the first model; fitted again on the repaired
        // block it is sharper: the gaps are filled again with it, and the
        // smaller clicks the first one hid are looked for.
        const int first = count;
        if (ar_fit(s, x, length)) {
            for (int g = 0; g < first; ++g)
                ar_interpolate(s, x, s->gaps[size_t(2 * g)], s->gaps[size_t(2 * g + 1)] - s->gaps[size_t(2 * g)]);
            detect_and_repair(s, x, history, lookahead, first_valid, valid_end, threshold, &count);
        }
    }
    for (int g = 0; g < count; ++g) {
        *gaps += 1;
        *samples += s->gaps[size_t(2 * g + 1)] - s->gaps[size_t(2 * g)];
    }
}
