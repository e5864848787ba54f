// The hum removal: each period of the hum measured against tables of the
// harmonics, the measurements smoothed over a window around each block, and
// the hum they describe synthesised and subtracted, frame by frame.
#include "clean/hum_remove.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

typedef double pair2 __attribute__((vector_size(16)));   // channel 0, channel 1

constexpr double PI = 3.14159265358979323846;
constexpr double HZ_PER_STEP = 0.1;    // notch width (-3 dB, Hz) per Threshold step
constexpr double HANN_WIDTH = 1.44;    // a Hann window's -3 dB width, in 1 / its length
// A period's local mean spans a quarter of a second (at most a quarter of
// the window): long enough to tell a note beside a harmonic from the
// hum, short enough to single out the periods it sounds in.
constexpr double LOCAL_SECONDS = 0.25;
// A period whose local mean strays from the window's plain mean by the
// typical amount counts a third as much as one that does not stray at all:
// enough to set the disturbed periods aside, not so much that a handful of
// quiet ones carry the whole estimate and their hiss with it.
constexpr double SPREAD_FLOOR = 0.5;
// The smoothed amplitudes are worked out every `step` periods, a sixteenth
// of half a window, and run in a straight line between: the window moves
// them that little in a step.
constexpr int STEPS_PER_HALF_WINDOW = 16;
constexpr int HARMONIC_GROUP = 4;      // harmonics measured and synthesised together

inline pair2 splat(double v)
{
    return pair2{v, v};
}

// The angle of 2 pi x cycles / rate, with the cycles taken modulo the rate
// first in integers, so that it is exact however far into the track.
inline double angle(uint64_t cycles_times_rate_frames, uint32_t rate)
{
    return 2 * PI * double(cycles_times_rate_frames % rate) / double(rate);
}

// Per harmonic and channel: re and im (ring entries and smoothed values).
inline size_t slot(const hum_remove* h, int k)
{
    return size_t(k) * 4;
}

int16_t to_sample(double v)
{
    return int16_t(std::clamp(std::nearbyint(v), -32768.0, 32767.0));
}

// Measures block `b`, held in block_in: each harmonic's complex amplitude on
// each channel, into the ring.
void measure_block(hum_remove* h, int64_t b)
{
    const int M = h->period;
    const pair2* x = reinterpret_cast<const pair2*>(h->block_in);
    double* a = h->measured + size_t(b % h->measured_blocks) * size_t(h->harmonics) * 4;
    // The harmonics in fours: eight sums running side by side rather than
    // two, each still summed in frame order.
    for (int k0 = 0; k0 < h->table_harmonics; k0 += HARMONIC_GROUP) {
        const double* t = h->table + size_t(k0) * 2 * size_t(M);
        pair2 re[HARMONIC_GROUP], im[HARMONIC_GROUP];
        for (int j = 0; j < HARMONIC_GROUP; ++j)
            re[j] = im[j] = splat(0);
        for (int m = 0; m < M; ++m) {
#pragma GCC unroll 4
            for (int j = 0; j < HARMONIC_GROUP; ++j) {
                re[j] += x[m] * t[size_t(j) * 2 * size_t(M) + size_t(m)];
                im[j] -= x[m] * t[size_t(2 * j + 1) * size_t(M) + size_t(m)];
            }
        }
        for (int j = 0; j < HARMONIC_GROUP && k0 + j < h->harmonics; ++j) {
            const int k = k0 + j;
            // Back from the block's own start to frame 0's phase.
            const double phi = angle(uint64_t(k + 1) * uint64_t(h->freq) * uint64_t(b) * uint64_t(M), h->rate);
            const double c = std::cos(phi), s = std::sin(phi), scale = 2.0 / M;
            // (re + j im) x e^{-j phi}
            const pair2 r = (re[j] * c + im[j] * s) * scale, i = (im[j] * c - re[j] * s) * scale;
            double* e = a + slot(h, k);
            e[0] = r[0], e[1] = i[0], e[2] = r[1], e[3] = i[1];
        }
    }
}

// Hann-weighted mean over blocks b - half .. b + half of `ring` (those from
// 0 up to `have`), per harmonic and channel, into `out`.
void hann_mean(const hum_remove* h, const double* ring, const double* weight, int half, int64_t b, int64_t have,
               double* out)
{
    const size_t n = size_t(h->harmonics) * 4;
    std::fill(out, out + n, 0.0);
    double total = 0;
    for (int i = -half; i <= half; ++i) {
        const int64_t src = b + i;
        if (src < 0 || src >= have)
            continue;
        const double w = weight[i + half];
        const double* a = ring + size_t(src % h->measured_blocks) * n;
        for (size_t j = 0; j < n; ++j)
            out[j] += w * a[j];
        total += w;
    }
    if (total > 0)
        for (size_t j = 0; j < n; ++j)
            out[j] /= total;
}

// Block b's local mean, from the blocks measured so far.
void local_block(hum_remove* h, int64_t b)
{
    const size_t n = size_t(h->harmonics) * 4;
    hann_mean(h, h->measured, h->local_weight, h->local_half, b, h->blocks,
              h->local + size_t(b % h->measured_blocks) * n);
    h->locals = b + 1;
}

// The smoothed amplitudes of block `b` into `out`: the mean over the window
// of the blocks that exist, each weighted by its Hann weight over how far
// its local mean strays from the window's plain mean (per harmonic and
// channel), with the typical stray as a floor.
void smooth_block(hum_remove* h, int64_t b, double* out)
{
    const size_t pairs = size_t(h->harmonics) * 2;
    hann_mean(h, h->measured, h->weight, h->half_window, b, h->blocks, h->plain);
    const int64_t first = std::max<int64_t>(0, b - h->half_window);
    const int64_t end = std::min<int64_t>(h->locals, b + h->half_window + 1);
    if (end <= first) {
        std::copy(h->plain, h->plain + 2 * pairs, out);
        return;
    }
    // The typical stray, squared.
    double* floor = h->sums;
    std::fill(floor, floor + pairs, 0.0);
    for (int64_t src = first; src < end; ++src) {
        const double* l = h->local + size_t(src % h->measured_blocks) * 2 * pairs;
        for (size_t j = 0; j < pairs; ++j) {
            const double dr = l[2 * j] - h->plain[2 * j], di = l[2 * j + 1] - h->plain[2 * j + 1];
            floor[j] += dr * dr + di * di;
        }
    }
    for (size_t j = 0; j < pairs; ++j)
        floor[j] = SPREAD_FLOOR * floor[j] / double(end - first) + 1e-12;
    double* total = h->sums + pairs;
    std::fill(total, total + pairs, 0.0);
    std::fill(out, out + 2 * pairs, 0.0);
    for (int64_t src = first; src < end; ++src) {
        const double w = h->weight[src - b + h->half_window];
        const double* l = h->local + size_t(src % h->measured_blocks) * 2 * pairs;
        const double* a = h->measured + size_t(src % h->measured_blocks) * 2 * pairs;
        for (size_t j = 0; j < pairs; ++j) {
            const double dr = l[2 * j] - h->plain[2 * j], di = l[2 * j + 1] - h->plain[2 * j + 1];
            const double v = w / (dr * dr + di * di + floor[j]);
            out[2 * j] += v * a[2 * j];
            out[2 * j + 1] += v * a[2 * j + 1];
            total[j] += v;
        }
    }
    for (size_t j = 0; j < pairs; ++j) {
        out[2 * j] /= total[j];
        out[2 * j + 1] /= total[j];
    }
}

// smooth_cur's hum over one period into wave_cur, for a hum whose every
// harmonic repeats each period.
void synthesise_cur(hum_remove* h)
{
    if (!h->periodic)
        return;
    const int M = h->period;
    pair2* coef = reinterpret_cast<pair2*>(h->coef);
    for (int k = 0; k < h->harmonics; ++k) {
        const double* a = h->smooth_cur + slot(h, k);
        coef[4 * k] = pair2{a[0], a[2]};
        coef[4 * k + 1] = pair2{a[1], a[3]};
    }
    pair2* wave = reinterpret_cast<pair2*>(h->wave_cur);
    std::fill(wave, wave + M, splat(0));
    for (int k0 = 0; k0 < h->table_harmonics; k0 += HARMONIC_GROUP) {
        const pair2* e = coef + 4 * k0;
        const double* t = h->table + size_t(k0) * 2 * size_t(M);
        for (int m = 0; m < M; ++m) {
            pair2 w = wave[m];
#pragma GCC unroll 4
            for (int j = 0; j < HARMONIC_GROUP; ++j)
                w += e[4 * j] * t[size_t(j) * 2 * size_t(M) + size_t(m)] -
                     e[4 * j + 1] * t[size_t(2 * j + 1) * size_t(M) + size_t(m)];
            wave[m] = w;
        }
    }
}

// Writes the held frames from out_frames up to `limit` (at most one period
// of them) less the hum, whose amplitudes run in a straight line from
// smooth_prev at prev_centre to smooth_cur at cur_centre. A hum that
// repeats each period is that line between the two ends' periods of hum;
// any other is synthesised afresh for the frames, turned to their phase.
uint32_t emit(hum_remove* h, uint64_t limit, uint8_t* out)
{
    if (h->periodic) {
        const int M = h->period;
        const uint64_t n0 = h->out_frames;
        const uint32_t count = uint32_t(std::min<uint64_t>(limit - n0, uint64_t(M)));
        const double per_frame = 1.0 / (h->cur_centre - h->prev_centre);
        const pair2* wp = reinterpret_cast<const pair2*>(h->wave_prev);
        const pair2* wc = reinterpret_cast<const pair2*>(h->wave_cur);
        const int C = h->channels;
        uint32_t p = uint32_t(n0 % uint64_t(M)), at = uint32_t(n0 % h->delay_frames);
        for (uint32_t m = 0; m < count; ++m) {
            const double u = (double(n0 + m) - h->prev_centre) * per_frame;
            const pair2 hum = wp[p] + (wc[p] - wp[p]) * u;
            const int16_t* x = h->delay + size_t(at) * size_t(C);
            int16_t y[2];
            for (int c = 0; c < C; ++c)
                y[c] = to_sample(double(x[c]) - hum[c]);
            std::memcpy(out + size_t(m) * 2 * size_t(C), y, size_t(2 * C));
            if (++p == uint32_t(M))
                p = 0;
            if (++at == h->delay_frames)
                at = 0;
        }
        h->out_frames += count;
        return count;
    }

    const int M = h->period;
    const uint64_t n0 = h->out_frames;
    const uint32_t count = uint32_t(std::min<uint64_t>(limit - n0, uint64_t(M)));
    if (count == 0)
        return 0;
    const double span = h->cur_centre - h->prev_centre;
    const double t0 = (double(n0) - h->prev_centre) / span;
    // Per harmonic, P and Q turned to frame n0's phase: A(n0 + m) = P + m Q.
    pair2* coef = reinterpret_cast<pair2*>(h->coef);
    for (int k = 0; k < h->harmonics; ++k) {
        const double* p = h->smooth_prev + slot(h, k);
        const double* q = h->smooth_cur + slot(h, k);
        const double phi = angle(uint64_t(k + 1) * uint64_t(h->freq) * n0, h->rate);
        const double c = std::cos(phi), s = std::sin(phi);
        const pair2 pr = {p[0] + t0 * (q[0] - p[0]), p[2] + t0 * (q[2] - p[2])};
        const pair2 pi = {p[1] + t0 * (q[1] - p[1]), p[3] + t0 * (q[3] - p[3])};
        const pair2 qr = {(q[0] - p[0]) / span, (q[2] - p[2]) / span};
        const pair2 qi = {(q[1] - p[1]) / span, (q[3] - p[3]) / span};
        pair2* e = coef + 4 * k;
        e[0] = pr * c - pi * s, e[1] = pr * s + pi * c;
        e[2] = qr * c - qi * s, e[3] = qr * s + qi * c;
    }
    // The harmonics in fours (the last four padded with silent ones), each
    // frame's sums kept in registers over the four.
    pair2* base = reinterpret_cast<pair2*>(h->hum);
    pair2* slope = base + M;
    std::fill(base, base + 2 * M, splat(0));
    for (int k0 = 0; k0 < h->table_harmonics; k0 += HARMONIC_GROUP) {
        const pair2* e = coef + 4 * k0;
        const double* t = h->table + size_t(k0) * 2 * size_t(M);
        for (uint32_t m = 0; m < count; ++m) {
            pair2 b = base[m], d = slope[m];
#pragma GCC unroll 4
            for (int j = 0; j < HARMONIC_GROUP; ++j) {
                const double tc = t[size_t(j) * 2 * size_t(M) + m], ts = t[size_t(2 * j + 1) * size_t(M) + m];
                b += e[4 * j] * tc - e[4 * j + 1] * ts;
                d += e[4 * j + 2] * tc - e[4 * j + 3] * ts;
            }
            base[m] = b;
            slope[m] = d;
        }
    }
    const int C = h->channels;
    uint32_t at = uint32_t(n0 % h->delay_frames);
    for (uint32_t m = 0; m < count; ++m) {
        const int16_t* x = h->delay + size_t(at) * size_t(C);
        if (++at == h->delay_frames)
            at = 0;
        const pair2 hum = base[m] + slope[m] * double(m);
        int16_t y[2];
        for (int c = 0; c < C; ++c)
            y[c] = to_sample(double(x[c]) - hum[c]);
        std::memcpy(out + size_t(m) * 2 * size_t(C), y, size_t(2 * C));
    }
    h->out_frames += count;
    return count;
}

// The frame position where block b's amplitudes hold exactly: its centre.
double centre(const hum_remove* h, int64_t b)
{
    return double(b) * h->period + (h->period - 1) / 2.0;
}

// From here on smooth_cur holds: the line runs flat.
void hold(hum_remove* h)
{
    std::memcpy(h->smooth_prev, h->smooth_cur, size_t(h->harmonics) * 4 * sizeof(double));
    if (h->periodic)
        std::memcpy(h->wave_prev, h->wave_cur, sizeof(double) * 2 * size_t(h->period));
    h->prev_centre = h->cur_centre - h->period;
}

// Writes the held frames up to `limit`, a period at a time.
uint32_t emit_to(hum_remove* h, uint64_t limit, uint8_t* out)
{
    uint32_t written = 0;
    while (h->out_frames < limit)
        written += emit(h, limit, out + size_t(written) * 2 * size_t(h->channels));
    return written;
}

// Smooths block `b`: its amplitudes become the line's new end. The first
// block smoothed also holds for every frame before it, where the window
// would reach before the track's start (a window cut short there would let
// music leak into the measurement).
void smooth_next(hum_remove* h, int64_t b)
{
    std::swap(h->smooth_prev, h->smooth_cur);
    std::swap(h->wave_prev, h->wave_cur);
    smooth_block(h, b, h->smooth_cur);
    synthesise_cur(h);
    h->prev_centre = h->cur_centre;
    h->cur_centre = centre(h, b);
    if (h->smoothed < 0)
        hold(h);
    h->smoothed = b;
}

} // namespace

bool hum_freq_allowed(int freq, uint32_t rate)
{
    return freq >= HUM_LOWEST_FREQ && uint64_t(freq) * 4 <= rate;
}

double hum_width_for_threshold(int threshold)
{
    return HZ_PER_STEP * std::clamp(threshold, 1, 45);
}

int hum_remove_start(hum_remove* h, int channels, uint32_t rate, int freq, int threshold)
{
    *h = hum_remove{};
    if (channels != 1 && channels != 2)
        return HUM_BAD_FORMAT;
    if (!hum_freq_allowed(freq, rate))
        return HUM_FREQ_OUT_OF_RANGE;
    h->channels = channels;
    h->rate = rate;
    h->freq = freq;
    // The fundamental always; its harmonics up to 1 kHz, below half the rate.
    h->harmonics = 1;
    while ((h->harmonics + 1) * freq <= HUM_HIGHEST_HARMONIC && 2 * (h->harmonics + 1) * freq < int64_t(rate))
        ++h->harmonics;
    h->period = std::max(2, int(std::lround(double(rate) / freq)));
    h->periodic = uint64_t(h->period) * uint64_t(freq) == rate;
    h->width_hz = hum_width_for_threshold(threshold);
    const double window_seconds = HANN_WIDTH / h->width_hz;
    const double blocks_a_second = double(rate) / h->period;
    h->half_window = std::max(1, int(std::lround(window_seconds * blocks_a_second / 2)));
    h->local_half =
        std::max(1, int(std::lround(std::min(LOCAL_SECONDS, window_seconds / 4) * blocks_a_second / 2)));
    h->step = std::max(1, h->half_window / STEPS_PER_HALF_WINDOW);
    h->measured_blocks = 2 * h->half_window + 2 * h->local_half + 2;
    // Before the first output a whole window and a local mean's reach are
    // held; later up to a step more than half of that.
    h->delay_frames =
        uint32_t(2 * h->half_window + h->local_half + h->step + 4) * uint32_t(h->period) + HUM_MAX_FLOW;

    const int M = h->period, W = 2 * h->half_window + 1, L = 2 * h->local_half + 1;
    const size_t values = size_t(h->harmonics) * 4;   // per harmonic and channel, re and im
    h->weight = static_cast<double*>(std::malloc(sizeof(double) * size_t(W)));
    h->local_weight = static_cast<double*>(std::malloc(sizeof(double) * size_t(L)));
    h->table_harmonics = (h->harmonics + HARMONIC_GROUP - 1) / HARMONIC_GROUP * HARMONIC_GROUP;
    h->table = static_cast<double*>(std::calloc(2 * size_t(M) * size_t(h->table_harmonics), sizeof(double)));
    h->coef = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 8 * size_t(h->table_harmonics)));
    h->measured = static_cast<double*>(std::calloc(size_t(h->measured_blocks) * values, sizeof(double)));
    h->local = static_cast<double*>(std::calloc(size_t(h->measured_blocks) * values, sizeof(double)));
    h->smooth_prev = static_cast<double*>(std::calloc(values, sizeof(double)));
    h->smooth_cur = static_cast<double*>(std::calloc(values, sizeof(double)));
    h->plain = static_cast<double*>(std::calloc(values, sizeof(double)));
    h->sums = static_cast<double*>(std::calloc(values, sizeof(double)));
    h->delay = static_cast<int16_t*>(std::calloc(size_t(h->delay_frames) * size_t(channels), sizeof(int16_t)));
    // hum and block_in hold pairs of doubles: aligned for them.
    h->hum = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 4 * size_t(M)));
    h->block_in = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 2 * size_t(M)));
    h->wave_prev = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 2 * size_t(M)));
    h->wave_cur = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 2 * size_t(M)));
    if (!h->weight || !h->local_weight || !h->table || !h->coef || !h->measured || !h->local || !h->smooth_prev ||
        !h->smooth_cur || !h->plain || !h->sums || !h->delay || !h->hum || !h->block_in || !h->wave_prev ||
        !h->wave_cur) {
        hum_remove_stop(h);
        return HUM_NO_MEMORY;
    }
    for (int i = 0; i < W; ++i)
        h->weight[i] = 0.5 * (1 + std::cos(PI * (i - h->half_window) / (h->half_window + 1)));
    for (int i = 0; i < L; ++i)
        h->local_weight[i] = 0.5 * (1 + std::cos(PI * (i - h->local_half) / (h->local_half + 1)));
    for (int k = 0; k < h->harmonics; ++k) {
        double* tc = h->table + size_t(k) * 2 * size_t(M);
        for (int m = 0; m < M; ++m) {
            const double phi = angle(uint64_t(k + 1) * uint64_t(freq) * uint64_t(m), rate);
            tc[m] = std::cos(phi);
            tc[M + m] = std::sin(phi);
        }
    }
    std::fill(h->block_in, h->block_in + 2 * M, 0.0);
    // The padding harmonics stay silent.
    std::fill(h->coef, h->coef + 8 * size_t(h->table_harmonics), 0.0);
    return HUM_OK;
}

uint32_t hum_remove_flow(hum_remove* h, const uint8_t* in, uint32_t frames, uint8_t* out)
{
    const int C = h->channels, M = h->period;
    uint32_t written = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        int16_t x[2] = {0, 0};
        std::memcpy(x, in + size_t(f) * 2 * size_t(C), size_t(2 * C));
        std::memcpy(h->delay + size_t(h->delay_in) * size_t(C), x, size_t(2 * C));
        if (++h->delay_in == h->delay_frames)
            h->delay_in = 0;
        const int m = int(h->in_frames - uint64_t(h->blocks) * uint64_t(M));
        h->block_in[2 * m] = x[0];
        h->block_in[2 * m + 1] = x[1];
        ++h->in_frames;
        if (m + 1 == M) {
            measure_block(h, h->blocks);
            ++h->blocks;
            if (h->blocks > h->local_half)
                local_block(h, h->blocks - 1 - h->local_half);
            // The block whose window, local means included, is now measured
            // in full; smoothed every step, and the frames up to its centre
            // written.
            const int64_t ready = h->blocks - 1 - h->half_window - h->local_half;
            if (ready >= h->half_window && (h->smoothed < 0 || ready - h->smoothed >= h->step)) {
                smooth_next(h, ready);
                written += emit_to(h, uint64_t(std::ceil(h->cur_centre)), out + size_t(written) * 2 * size_t(C));
            }
        }
    }
    return written;
}

uint32_t hum_remove_drain(hum_remove* h, uint8_t* out, uint32_t room)
{
    if (h->out_frames == h->in_frames)
        return 0;
    if (!h->draining) {
        h->draining = true;
        // The last blocks' local means, from the blocks there are.
        while (h->locals < h->blocks)
            local_block(h, h->locals);
        if (h->smoothed < 0) {
            // No block had its whole window: the track is shorter than one.
            // Its middle block, with the window it has, holds for every
            // frame; with no whole period measured nothing is removed.
            const int64_t middle = std::max<int64_t>(0, (h->blocks - 1) / 2);
            if (h->blocks > 0)
                smooth_block(h, middle, h->smooth_cur);
            else
                std::fill(h->smooth_cur, h->smooth_cur + size_t(h->harmonics) * 4, 0.0);
            synthesise_cur(h);
            h->cur_centre = centre(h, middle);
            hold(h);
            h->smoothed = middle;
        } else if (const int64_t last = h->blocks - 1 - h->half_window; last > h->smoothed) {
            // The line ends at the last block with its whole window.
            smooth_next(h, last);
        }
    }
    // Past the line's end its last amplitudes hold to the track's end, where
    // the window would reach past it.
    const uint64_t limit = std::min<uint64_t>(h->in_frames, h->out_frames + room);
    const uint64_t line_end = std::min<uint64_t>(limit, uint64_t(std::ceil(h->cur_centre)));
    uint32_t written = emit_to(h, line_end, out);
    if (h->out_frames >= uint64_t(std::ceil(h->cur_centre)))
        hold(h);
    written += emit_to(h, limit, out + size_t(written) * 2 * size_t(h->channels));
    return written;
}

void hum_remove_stop(hum_remove* h)
{
    std::free(h->weight);
    std::free(h->local_weight);
    std::free(h->table);
    std::free(h->coef);
    std::free(h->measured);
    std::free(h->local);
    std::free(h->smooth_prev);
    std::free(h->smooth_cur);
    std::free(h->plain);
    std::free(h->sums);
    std::free(h->delay);
    std::free(h->hum);
    std::free(h->block_in);
    std::free(h->wave_prev);
    std::free(h->wave_cur);
    *h = hum_remove{};
}
