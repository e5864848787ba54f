// Hiss reduction on one channel: the frame loop with overlap-add, the gain
// of each bin, and the pre-scan that keeps the quietest second's spectrum.
#include "clean/hiss_reduce.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// Weight of the previous frame's cleaned power in a bin's signal-to-noise
// estimate: this smoothing over time is what keeps lone noise peaks from
// flickering through as tones.
constexpr float SMOOTHING = 0.95f;
// Gains are taken as the median of each bin and its two neighbours either
// side: a lone bin that a noise peak lifted falls back to its neighbours'
// gain, while a partial of the music, several bins wide under the window,
// keeps its own.
inline float median3(float x, float y, float z)
{
    return std::max(std::min(x, y), std::min(std::max(x, y), z));
}
inline float median5(const float* v)
{
    const float low = std::max(std::min(v[0], v[1]), std::min(v[2], v[3]));
    const float high = std::min(std::max(v[0], v[1]), std::max(v[2], v[3]));
    return median3(v[4], low, high);
}
constexpr float NOISE_FLOOR_POWER = 1e-3f;  // a bin of a silent profile still divides safely
constexpr float KEPT_SHARE = 0.75f;         // a second's loudest quarter of frames (a click, a breath) is left out
constexpr int LEVELS = 200;                 // seconds' levels counted by whole dB of frame energy
constexpr double FLATNESS_FROM_HZ = 1000;   // flatness is judged above the hum and rumble ...
constexpr double FLATNESS_TO_HZ = 16000;    // ... and below the converter's roll-off

int level_db(double energy)
{
    return std::clamp(int(10 * std::log10(std::max(energy, 1.0))), 0, LEVELS - 1);
}

// Geometric over arithmetic mean of a power spectrum's bins between
// FLATNESS_FROM_HZ and FLATNESS_TO_HZ (or 45 % of the rate, if lower).
double flatness(const spectral_plan* plan, const float* power)
{
    const double hz_per_bin = double(plan->rate) / plan->size;
    const int from = std::max(1, int(FLATNESS_FROM_HZ / hz_per_bin));
    const int to = std::min(plan->bins - 1, int(std::min(FLATNESS_TO_HZ, 0.45 * plan->rate) / hz_per_bin));
    if (to <= from)
        return 1;
    double logs = 0, sum = 0;
    for (int k = from; k < to; ++k) {
        const double p = std::max(double(power[k]), 1e-3);
        logs += std::log(p);
        sum += p;
    }
    const double n = to - from;
    return std::exp(logs / n) / (sum / n);
}

// Windowed spectrum of plan->time into plan->freq.
void analyse(const spectral_plan* plan, const float* samples)
{
    for (int i = 0; i < plan->size; ++i)
        plan->time[i] = samples[i] * plan->window[size_t(i)];
    fftwf_execute(plan->forward);
}

} // namespace

bool spectral_plan_init(spectral_plan* plan, int rate, float over_subtraction, float gain_floor)
{
    int size = 256;
    while (size < rate / 25 && size < 8192)
        size *= 2;
    plan->size = size;
    plan->hop = size / 4;
    plan->bins = size / 2 + 1;
    plan->rate = rate;
    plan->over_subtraction = over_subtraction;
    plan->gain_floor = gain_floor;
    try {
        plan->window.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int i = 0; i < size; ++i)
        plan->window[size_t(i)] = float(0.5 - 0.5 * std::cos(2.0 * M_PI * i / size));
    plan->time = fftwf_alloc_real(size_t(size));
    plan->raw_gain = fftwf_alloc_real(size_t(plan->bins));
    plan->power = fftwf_alloc_real(size_t(plan->bins));
    if (!plan->raw_gain || !plan->power)
        return false;
    plan->freq = fftwf_alloc_complex(size_t(plan->bins));
    if (!plan->time || !plan->freq)
        return false;
    // Estimated plans: the same arithmetic on every run, so the output is
    // the same bytes each time.
    plan->forward = fftwf_plan_dft_r2c_1d(size, plan->time, plan->freq, FFTW_ESTIMATE);
    plan->inverse = fftwf_plan_dft_c2r_1d(size, plan->freq, plan->time, FFTW_ESTIMATE);
    return plan->forward && plan->inverse;
}

void spectral_plan_free(spectral_plan* plan)
{
    if (plan->forward)
        fftwf_destroy_plan(plan->forward);
    if (plan->inverse)
        fftwf_destroy_plan(plan->inverse);
    fftwf_free(plan->time);
    fftwf_free(plan->raw_gain);
    fftwf_free(plan->power);
    plan->raw_gain = plan->power = nullptr;
    fftwf_free(plan->freq);
    plan->forward = plan->inverse = nullptr;
    plan->time = nullptr;
    plan->freq = nullptr;
}

bool spectral_channel_init(spectral_channel* ch, const spectral_plan* plan)
{
    try {
        ch->input.assign(size_t(plan->size), 0.0f);
        ch->overlap.assign(size_t(plan->size), 0.0f);
        ch->noise.assign(size_t(plan->bins), 0.0f);
        ch->inverse_noise.assign(size_t(plan->bins), 0.0f);
        ch->cleaned.assign(size_t(plan->bins), 0.0f);
        ch->scan_input.assign(size_t(plan->size), 0.0f);
        ch->frames_cap = plan->rate / plan->size + 2;
        ch->spectra.assign(size_t(ch->frames_cap) * size_t(plan->bins), 0.0f);
        ch->energy.assign(size_t(ch->frames_cap) * 2, 0.0f);
        ch->seconds_at_level.assign(LEVELS, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // The first hop ends a frame whose start lies before the track: its
    // lead-in of zeros comes out first and is dropped.
    ch->fill = plan->size - plan->hop;
    ch->skip = plan->size - plan->hop;
    return true;
}

namespace {

void clean_frame(const spectral_plan* plan, spectral_channel* ch)
{
    analyse(plan, ch->input.data());
    const float floor = plan->gain_floor;
    fftwf_complex* X = plan->freq;
    float* raw = plan->raw_gain;
    float* power = plan->power;
    const float* inverse = ch->inverse_noise.data();
    const float* cleaned = ch->cleaned.data();
    const float previous = ch->first_frame ? 0.0f : SMOOTHING;
    for (int k = 0; k < plan->bins; ++k) {
        power[k] = X[k][0] * X[k][0] + X[k][1] * X[k][1];
        const float excess = std::max(power[k] * inverse[k] - 1.0f, 0.0f);
        // The bin's signal-to-noise ratio, smoothed over time: mostly the
        // previous frame's cleaned power, partly this frame's excess.
        const float snr = previous * cleaned[k] * inverse[k] + (1.0f - previous) * excess;
        raw[k] = snr / (1.0f + snr);
    }
    for (int k = 0; k < plan->bins; ++k) {
        const float g = k >= 2 && k + 2 < plan->bins ? median5(raw + k - 2) : raw[k];
        const float gain = std::max(g, floor);
        X[k][0] *= gain;
        X[k][1] *= gain;
        ch->cleaned[size_t(k)] = gain * gain * power[k];
    }
    ch->first_frame = false;
    fftwf_execute(plan->inverse);
    // Hann for analysis and synthesis at a quarter-frame hop sums to 1.5.
    const float scale = 1.0f / (1.5f * float(plan->size));
    for (int i = 0; i < plan->size; ++i)
        ch->overlap[size_t(i)] += plan->time[i] * plan->window[size_t(i)] * scale;
}

} // namespace

void spectral_push(const spectral_plan* plan, spectral_channel* ch, const float* in, int count,
                   void (*emit)(void*, const float*, int), void* context)
{
    const int size = plan->size, hop = plan->hop;
    while (count > 0) {
        const int take = std::min(count, size - ch->fill);
        std::memcpy(ch->input.data() + ch->fill, in, size_t(take) * sizeof(float));
        ch->fill += take;
        in += take;
        count -= take;
        if (ch->fill < size)
            break;
        const float* out;
        if (ch->have_noise) {
            clean_frame(plan, ch);
            out = ch->overlap.data();
        } else {
            out = ch->input.data();
        }
        const int drop = int(std::min<int64_t>(ch->skip, hop));
        ch->skip -= drop;
        if (hop > drop)
            emit(context, out + drop, hop - drop);
        if (ch->have_noise) {
            std::memmove(ch->overlap.data(), ch->overlap.data() + hop, size_t(size - hop) * sizeof(float));
            std::fill(ch->overlap.end() - hop, ch->overlap.end(), 0.0f);
        }
        std::memmove(ch->input.data(), ch->input.data() + hop, size_t(size - hop) * sizeof(float));
        ch->fill = size - hop;
    }
}

namespace {

// Weighs the held frames of one second against the quietest so far.
void settle_second(const spectral_plan* plan, spectral_channel* ch, bool partial)
{
    const int n = ch->frames_held;
    ch->frames_held = 0;
    if (n == 0)
        return;
    float* sorted = ch->energy.data() + ch->frames_cap;
    std::copy(ch->energy.begin(), ch->energy.begin() + n, sorted);
    const int cut_index = std::max(0, int(std::ceil(KEPT_SHARE * n)) - 1);
    std::nth_element(sorted, sorted + cut_index, sorted + n);
    const float cut = sorted[cut_index];
    double total = 0;
    int kept = 0;
    for (int j = 0; j < n; ++j)
        if (ch->energy[size_t(j)] <= cut) {
            total += ch->energy[size_t(j)];
            ++kept;
        }
    const double score = total / kept;
    // Half a step of signal, as a windowed frame's energy.
    const double silence = 0.25 * 0.375 * plan->size;
    if (score < silence)
        return;
    ++ch->seconds_at_level[size_t(level_db(score))];
    const bool better = !ch->have_noise || (ch->best_partial && !partial) ||
                        (ch->best_partial == partial && score < ch->best_score);
    if (!better)
        return;
    ch->best_score = score;
    ch->best_partial = partial;
    ch->have_noise = true;
    std::fill(ch->noise.begin(), ch->noise.end(), 0.0f);
    for (int j = 0; j < n; ++j) {
        if (ch->energy[size_t(j)] > cut)
            continue;
        const float* p = ch->spectra.data() + size_t(j) * size_t(plan->bins);
        for (int k = 0; k < plan->bins; ++k)
            ch->noise[size_t(k)] += p[k];
    }
    for (int k = 0; k < plan->bins; ++k) {
        ch->noise[size_t(k)] /= float(kept);
        const float counted = plan->over_subtraction * std::max(ch->noise[size_t(k)], NOISE_FLOOR_POWER);
        ch->inverse_noise[size_t(k)] = 1.0f / counted;
    }
    ch->best_flatness = flatness(plan, ch->noise.data());
}

// Whether the quietest second is a quiet passage of hiss: even across the
// spectrum, and well under the track's typical second (the level that half
// the seconds reach).
bool quietest_is_noise(spectral_channel* ch)
{
    uint32_t seconds = 0;
    for (const uint32_t n : ch->seconds_at_level)
        seconds += n;
    int typical = 0;
    for (uint32_t below = 0; typical < LEVELS - 1; ++typical) {
        below += ch->seconds_at_level[size_t(typical)];
        if (2 * below >= seconds + 1)
            break;
    }
    return ch->best_flatness >= HISS_FLATNESS && typical - level_db(ch->best_score) >= QUIET_BELOW_DB;
}

} // namespace

void spectral_scan(spectral_plan* plan, spectral_channel* ch, const float* in, int count)
{
    const int size = plan->size, step = plan->size;   // frames side by side: a mean power needs no overlap
    while (count > 0) {
        const int take = std::min(count, size - ch->scan_fill);
        std::memcpy(ch->scan_input.data() + ch->scan_fill, in, size_t(take) * sizeof(float));
        ch->scan_fill += take;
        in += take;
        count -= take;
        if (ch->scan_fill < size)
            break;
        const int64_t second = ch->scan_start / plan->rate;
        if (second != ch->second) {
            settle_second(plan, ch, false);
            ch->second = second;
        }
        analyse(plan, ch->scan_input.data());
        float* p = ch->spectra.data() + size_t(ch->frames_held) * size_t(plan->bins);
        double energy = 0;
        for (int i = 0; i < size; ++i)
            energy += double(plan->time[i]) * plan->time[i];
        for (int k = 0; k < plan->bins; ++k)
            p[k] = plan->freq[k][0] * plan->freq[k][0] + plan->freq[k][1] * plan->freq[k][1];
        ch->energy[size_t(ch->frames_held)] = float(energy);
        if (ch->frames_held < ch->frames_cap - 1)
            ++ch->frames_held;
        std::memmove(ch->scan_input.data(), ch->scan_input.data() + step, size_t(size - step) * sizeof(float));
        ch->scan_fill = size - step;
        ch->scan_start += step;
    }
}

void spectral_scan_end(spectral_plan* plan, spectral_channel* ch)
{
    settle_second(plan, ch, true);
    if (ch->have_noise && !quietest_is_noise(ch)) {
        ch->have_noise = false;
        ch->music_not_noise = true;
    }
    ch->scan_fill = 0;
    ch->scan_start = 0;
    ch->second = -1;
}
