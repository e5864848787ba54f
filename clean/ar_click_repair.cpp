// Click repair on one channel's block: the model fit (Levinson recursion),
// detection on the prediction errors, least-squares filling of each gap.
#include "clean/ar_click_repair.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr double WHITE_NOISE_CORRECTION = 1e-5;  // lifts r[0] (-50 dB): keeps the recursion well conditioned
constexpr float MAD_TO_SIGMA = 1.4826f;          // median |error| of a Gaussian to its deviation
constexpr float QUARTILE_TO_SIGMA = 3.14f;       // lower quartile of |Gaussian| to its deviation
constexpr float ONSET_RISE = 3.0f;               // error after a gap this much above before: an onset
constexpr float SIGMA_FLOOR = 1.0f;              // one step: quantisation alone is never a click
constexpr int MAX_GAPS_PER_BLOCK = 256;

int span(const ar_scratch* s) { return AR_HISTORY + s->block + AR_LOOKAHEAD; }

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
        s->local.assign(2 * size_t(n / AR_STRETCH + 1), 0.0f);
        s->magnitude.assign(size_t(block), 0.0f);
        s->tapered.assign(size_t(n), 0.0f);
        s->matrix.assign(size_t(AR_MAX_GAP) * AR_MAX_GAP, 0.0);
        s->rhs.assign(AR_MAX_GAP, 0.0);
        s->known_error.assign(AR_MAX_GAP + AR_ORDER, 0.0f);
        s->saved.assign(AR_MAX_GAP, 0.0f);
        s->gaps.assign(3 * 2 * MAX_GAPS_PER_BLOCK, 0);
        s->original.assign(size_t(n), 0.0f);
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

// Appends gap [start, end) to the list, or widens the last gap when it
// reaches within AR_MERGE of it.
void add_gap(int* list, int* count, int start, int end)
{
    if (*count > 0 && start <= list[2 * *count - 1] + AR_MERGE) {
        list[2 * *count - 1] = std::max(list[2 * *count - 1], end);
        return;
    }
    if (*count >= MAX_GAPS_PER_BLOCK)
        return;
    list[2 * *count] = start;
    list[2 * *count + 1] = end;
    ++*count;
}

// Finds the gaps that open in the block under the current model: where
// the prediction error run both ways stands out from the error's scale
// near it. Writes them, in order, into `list` (start, end pairs).
int detect(ar_scratch* s, const float* x, int history, int lookahead, int first_valid, int valid_end,
           float threshold, int* list)
{
    const int block = s->block;
    const int length = history + block + lookahead;
    const int end = length - AR_ORDER;   // the backward error needs the order's samples after
    float* d = s->forward.data();
    for (int n = AR_ORDER; n < end; ++n) {
        // Both errors written out with partial sums so the loop vectorises.
        const float* at = x + n;
        float fw[4] = {at[0], 0, 0, 0}, bw[4] = {at[0], 0, 0, 0};
        for (int k = 1; k <= AR_ORDER; k += 4)
            for (int j = 0; j < 4; ++j) {
                fw[j] -= s->af[k + j] * at[-(k + j)];
                bw[j] -= s->af[k + j] * at[k + j];
            }
        // A click lights up both errors; the tail the forward error drags
        // behind a click and the backward error's lead-in before it do not
        // coincide, so the smaller of the two marks the click alone.
        d[n] = std::min(std::fabs(fw[0] + fw[1] + fw[2] + fw[3]), std::fabs(bw[0] + bw[1] + bw[2] + bw[3]));
    }
    const int lo = std::max(history, first_valid);
    const int hi = std::min(history + block, valid_end);
    if (lo >= hi)
        return 0;
    // Every fourth sample is plenty for a median, and four times cheaper.
    float* mag = s->magnitude.data();
    int taken = 0;
    for (int n = lo; n < hi; n += 4)
        mag[taken++] = d[n];
    std::nth_element(mag, mag + taken / 2, mag + taken);
    const float block_sigma = std::max(MAD_TO_SIGMA * mag[taken / 2], SIGMA_FLOOR);
    // The scale near each sample: the lower quartile of the error over its
    // stretch of AR_STRETCH samples, and the middle one of that and its
    // neighbours'. Inside a burst of noise (a cymbal, a snare) the model
    // predicts nothing and the error is large all along: that is the music,
    // not clicks. Crackle packed into one stretch leaves the middle of
    // three where it was.
    float* local = s->local.data();
    float* quartiles = local + s->local.size() / 2;
    const int stretches = (end - history) / AR_STRETCH;
    for (int j = 0; j < stretches; ++j) {
        for (int i = 0; i < AR_STRETCH / 2; ++i)   // every other sample is enough
            mag[i] = d[history + j * AR_STRETCH + 2 * i];
        std::nth_element(mag, mag + AR_STRETCH / 8, mag + AR_STRETCH / 2);
        quartiles[j] = QUARTILE_TO_SIGMA * mag[AR_STRETCH / 8];
    }
    for (int j = 0; j < stretches; ++j) {
        const float a = quartiles[std::max(j - 1, 0)], b = quartiles[j], c = quartiles[std::min(j + 1, stretches - 1)];
        const float middle = std::max(std::min(a, b), std::min(std::max(a, b), c));
        local[j] = std::max(block_sigma, middle);
    }
    const int scan_end = std::min(end, valid_end);
    const int open_end = history + block + AR_WIDEN;   // a gap must start in the block
    int count = 0;
    for (int n = lo; n < scan_end; ++n) {
        const float sigma = local[std::min((n - history) / AR_STRETCH, stretches - 1)];
        if (!(d[n] > threshold * sigma))
            continue;
        const int start = std::max(n - AR_WIDEN, history);
        if (start >= open_end && (count == 0 || start > list[2 * count - 1] + AR_MERGE))
            break;
        add_gap(list, &count, start, n + AR_WIDEN + 1);
    }
    // A click ends and the error falls back to what it was before; at the
    // onset of a drum it stays up. Gaps after which the error's lower
    // quartile has risen ONSET_RISE times are the music's and are dropped.
    auto quartile = [&](int from) {
        for (int i = 0; i < AR_STRETCH; ++i)
            mag[i] = d[from + i];
        std::nth_element(mag, mag + AR_STRETCH / 4, mag + AR_STRETCH);
        return std::max(QUARTILE_TO_SIGMA * mag[AR_STRETCH / 4], SIGMA_FLOOR);
    };
    int kept = 0;
    for (int g = 0; g < count; ++g) {
        const int start = list[2 * g], stop = list[2 * g + 1];
        if (stop + AR_STRETCH <= end && stop - start <= AR_MAX_GAP &&
            quartile(stop) > ONSET_RISE * quartile(start - AR_STRETCH))
            continue;
        list[2 * kept] = start;
        list[2 * kept + 1] = stop;
        ++kept;
    }
    return kept;
}

} // namespace

void ar_repair_block(ar_scratch* s, float* x, int history, int lookahead, int first_valid, int valid_end,
                     float threshold, int64_t* gaps, int64_t* samples)
{
    const int length = history + s->block + lookahead;
    if (!ar_fit(s, x, length))
        return;
    int* first = s->gaps.data();
    int* second = first + 2 * MAX_GAPS_PER_BLOCK;
    int* merged = second + 2 * MAX_GAPS_PER_BLOCK;
    const int n1 = detect(s, x, history, lookahead, first_valid, valid_end, threshold, first);
    if (n1 == 0)
        return;
    // The clicks bent the first model. Fitted again with them filled in, it
    // is sharper: it finds the clicks' tails and the smaller clicks the
    // first one missed, and it fills every gap again, from the samples as
    // they came.
    float* original = s->original.data();
    std::copy(x, x + length, original);
    for (int g = 0; g < n1; ++g)
        ar_interpolate(s, x, first[2 * g], std::min(first[2 * g + 1], valid_end) - first[2 * g]);
    const bool refitted = ar_fit(s, x, length);
    std::copy(original, original + length, x);
    if (!refitted) {
        ar_fit(s, x, length);
    }
    const int n2 = refitted ? detect(s, x, history, lookahead, first_valid, valid_end, threshold, second) : 0;
    int count = 0;
    for (int i = 0, j = 0; i < n1 || j < n2;) {
        const bool take_first = j >= n2 || (i < n1 && first[2 * i] <= second[2 * j]);
        const int* g = take_first ? first + 2 * i++ : second + 2 * j++;
        add_gap(merged, &count, g[0], g[1]);
    }
    for (int g = 0; g < count; ++g) {
        const int start = merged[2 * g], end = std::min(merged[2 * g + 1], valid_end);
        if (end - start <= 0 || end - start > AR_MAX_GAP)
            continue;   // too long for a click: a transient of the music
        if (ar_interpolate(s, x, start, end - start)) {
            *gaps += 1;
            *samples += end - start;
        }
    }
}
