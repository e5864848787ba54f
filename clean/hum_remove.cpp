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
    for (int k = 0; k < h->harmonics; ++k) {
        const double* tc = h->table + size_t(k) * 2 * size_t(M);
        const double* ts = tc + M;
        pair2 re = splat(0), im = splat(0);
        for (int m = 0; m < M; ++m) {
            re += x[m] * tc[m];
            im -= x[m] * ts[m];
        }
        // Back from the block's own start to frame 0's phase.
        const double phi = angle(uint64_t(k + 1) * uint64_t(h->freq) * uint64_t(b) * uint64_t(M), h->rate);
        const double c = std::cos(phi), s = std::sin(phi), scale = 2.0 / M;
        // (re + j im) x e^{-j phi}
        const pair2 r = (re * c + im * s) * scale, i = (im * c - re * s) * scale;
        double* e = a + slot(h, k);
        e[0] = r[0], e[1] = i[0], e[2] = r[1], e[3] = i[1];
    }
}

// The smoothed amplitudes of block `b` into `out`: the Hann-weighted mean of
// the measured blocks within half a window, those that exist.
void smooth_block(hum_remove* h, int64_t b, double* out)
{
    const size_t n = size_t(h->harmonics) * 4;
    std::fill(out, out + n, 0.0);
    double total = 0;
    for (int i = -h->half_window; i <= h->half_window; ++i) {
        const int64_t src = b + i;
        if (src < 0 || src >= h->blocks)
            continue;
        const double w = h->weight[i + h->half_window];
        const double* a = h->measured + size_t(src % h->measured_blocks) * n;
        for (size_t j = 0; j < n; ++j)
            out[j] += w * a[j];
        total += w;
    }
    for (size_t j = 0; j < n; ++j)
        out[j] /= total;
}

// Writes the held frames from out_frames up to `limit` (at most one period
// of them) less the hum, whose amplitudes run in a straight line from
// smooth_prev at block position `t0` of the first frame to smooth_cur one
// block later.
uint32_t emit(hum_remove* h, uint64_t limit, double t0, uint8_t* out)
{
    const int M = h->period;
    const uint64_t n0 = h->out_frames;
    const uint32_t count = uint32_t(std::min<uint64_t>(limit - n0, uint64_t(M)));
    if (count == 0)
        return 0;
    pair2* base = reinterpret_cast<pair2*>(h->hum);
    pair2* slope = base + M;
    std::fill(base, base + 2 * M, splat(0));
    for (int k = 0; k < h->harmonics; ++k) {
        const double* p = h->smooth_prev + slot(h, k);
        const double* q = h->smooth_cur + slot(h, k);
        // A(n0 + m) = P + m Q, turned to frame n0's phase.
        const double phi = angle(uint64_t(k + 1) * uint64_t(h->freq) * n0, h->rate);
        const double c = std::cos(phi), s = std::sin(phi);
        const pair2 pr = {p[0] + t0 * (q[0] - p[0]), p[2] + t0 * (q[2] - p[2])};
        const pair2 pi = {p[1] + t0 * (q[1] - p[1]), p[3] + t0 * (q[3] - p[3])};
        const pair2 qr = {(q[0] - p[0]) / M, (q[2] - p[2]) / M};
        const pair2 qi = {(q[1] - p[1]) / M, (q[3] - p[3]) / M};
        const pair2 Pr = pr * c - pi * s, Pi = pr * s + pi * c;
        const pair2 Qr = qr * c - qi * s, Qi = qr * s + qi * c;
        const double* tc = h->table + size_t(k) * 2 * size_t(M);
        const double* ts = tc + M;
        for (uint32_t m = 0; m < count; ++m) {
            base[m] += Pr * tc[m] - Pi * ts[m];
            slope[m] += Qr * tc[m] - Qi * ts[m];
        }
    }
    const int C = h->channels;
    for (uint32_t m = 0; m < count; ++m) {
        const int16_t* x = h->delay + size_t((n0 + m) % h->delay_frames) * size_t(C);
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

// Writes the held frames up to `limit`, a period at a time, the amplitudes
// running in a straight line from smooth_prev at frame prev_centre to
// smooth_cur one period later.
uint32_t emit_to(hum_remove* h, uint64_t limit, uint8_t* out)
{
    uint32_t written = 0;
    while (h->out_frames < limit) {
        const double t0 = (double(h->out_frames) - h->prev_centre) / h->period;
        written += emit(h, limit, t0, out + size_t(written) * 2 * size_t(h->channels));
    }
    return written;
}

// Block `b` has its whole window measured: smoothed, and the frames up to
// its centre written. The first such block's amplitudes also hold for every
// frame before it, where the window would reach before the track's start
// (a window cut short there would let music leak into the measurement).
uint32_t smooth_and_emit(hum_remove* h, int64_t b, uint8_t* out)
{
    std::swap(h->smooth_prev, h->smooth_cur);
    smooth_block(h, b, h->smooth_cur);
    if (h->smoothed < 0)
        std::memcpy(h->smooth_prev, h->smooth_cur, size_t(h->harmonics) * 4 * sizeof(double));
    h->prev_centre = centre(h, b - 1);
    h->smoothed = b;
    return emit_to(h, uint64_t(std::ceil(centre(h, b))), out);
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
    h->width_hz = hum_width_for_threshold(threshold);
    const double window_seconds = HANN_WIDTH / h->width_hz;
    h->half_window = std::max(1, int(std::lround(window_seconds * rate / h->period / 2)));
    h->measured_blocks = 2 * h->half_window + 2;
    // Before the first output a whole window is held, and a flow's input on top.
    h->delay_frames = uint32_t(2 * h->half_window + 4) * uint32_t(h->period) + HUM_MAX_FLOW;

    const int M = h->period, W = 2 * h->half_window + 1;
    h->weight = static_cast<double*>(std::malloc(sizeof(double) * size_t(W)));
    h->table = static_cast<double*>(std::malloc(sizeof(double) * 2 * size_t(M) * size_t(h->harmonics)));
    h->measured =
        static_cast<double*>(std::calloc(size_t(h->measured_blocks) * size_t(h->harmonics) * 4, sizeof(double)));
    h->smooth_prev = static_cast<double*>(std::calloc(size_t(h->harmonics) * 4, sizeof(double)));
    h->smooth_cur = static_cast<double*>(std::calloc(size_t(h->harmonics) * 4, sizeof(double)));
    h->delay = static_cast<int16_t*>(std::calloc(size_t(h->delay_frames) * size_t(channels), sizeof(int16_t)));
    // hum and block_in hold pairs of doubles: aligned for them.
    h->hum = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 4 * size_t(M)));
    h->block_in = static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 2 * size_t(M)));
    if (!h->weight || !h->table || !h->measured || !h->smooth_prev || !h->smooth_cur || !h->delay || !h->hum ||
        !h->block_in) {
        hum_remove_stop(h);
        return HUM_NO_MEMORY;
    }
    for (int i = 0; i < W; ++i)
        h->weight[i] = 0.5 * (1 + std::cos(PI * (i - h->half_window) / (h->half_window + 1)));
    for (int k = 0; k < h->harmonics; ++k) {
        double* tc = h->table + size_t(k) * 2 * size_t(M);
        for (int m = 0; m < M; ++m) {
            const double phi = angle(uint64_t(k + 1) * uint64_t(freq) * uint64_t(m), rate);
            tc[m] = std::cos(phi);
            tc[M + m] = std::sin(phi);
        }
    }
    std::fill(h->block_in, h->block_in + 2 * M, 0.0);
    return HUM_OK;
}

uint32_t hum_remove_flow(hum_remove* h, const uint8_t* in, uint32_t frames, uint8_t* out)
{
    const int C = h->channels, M = h->period;
    uint32_t written = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        int16_t x[2] = {0, 0};
        std::memcpy(x, in + size_t(f) * 2 * size_t(C), size_t(2 * C));
        std::memcpy(h->delay + size_t(h->in_frames % h->delay_frames) * size_t(C), x, size_t(2 * C));
        const int m = int(h->in_frames - uint64_t(h->blocks) * uint64_t(M));
        h->block_in[2 * m] = x[0];
        h->block_in[2 * m + 1] = x[1];
        ++h->in_frames;
        if (m + 1 == M) {
            measure_block(h, h->blocks);
            ++h->blocks;
            // The block whose window is now measured in full.
            const int64_t ready = h->blocks - 1 - h->half_window;
            if (ready >= h->half_window)
                written += smooth_and_emit(h, ready, out + size_t(written) * 2 * size_t(C));
        }
    }
    return written;
}

uint32_t hum_remove_drain(hum_remove* h, uint8_t* out, uint32_t room)
{
    if (h->out_frames == h->in_frames)
        return 0;
    if (h->smoothed < 0) {
        // No block had its whole window: the track is shorter than one. Its
        // middle block, with the window it has, holds for every frame; with
        // no whole period measured nothing is removed.
        if (h->blocks > 0)
            smooth_block(h, (h->blocks - 1) / 2, h->smooth_cur);
        else
            std::fill(h->smooth_cur, h->smooth_cur + size_t(h->harmonics) * 4, 0.0);
        h->smoothed = std::max<int64_t>(0, (h->blocks - 1) / 2);
    }
    // The last whole window's amplitudes hold to the track's end, where the
    // window would reach past it.
    std::memcpy(h->smooth_prev, h->smooth_cur, size_t(h->harmonics) * 4 * sizeof(double));
    const uint64_t limit = std::min<uint64_t>(h->in_frames, h->out_frames + room);
    return emit_to(h, limit, out);
}

void hum_remove_stop(hum_remove* h)
{
    std::free(h->weight);
    std::free(h->table);
    std::free(h->measured);
    std::free(h->smooth_prev);
    std::free(h->smooth_cur);
    std::free(h->delay);
    std::free(h->hum);
    std::free(h->block_in);
    *h = hum_remove{};
}
