// FilterEx: ties click repair and hiss reduction into one streaming kernel,
// with the fixed delay, the drain at the track's end and 16-bit output.
#include "clean/filterex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include "clean/ar_click_repair.h"
#include "clean/hiss_reduce.h"

namespace {

constexpr int BLOCK = 1024;   // samples per click-repair block

struct fx_channel {
    std::vector<float> x;          // history + block + lookahead for click repair
    int fill = 0;
    int64_t block_start = 0;       // track position of x[AR_HISTORY]
    spectral_channel spectral;
    std::vector<float> queue;      // ring of finished samples
    int64_t written = 0;           // samples ever put in the queue
};

} // namespace

struct filterex_state {
    int channels = 0;
    int rate = 0;
    float click_level = 0;         // robust deviations of the prediction error
    ar_scratch ar;
    spectral_plan plan;
    fx_channel ch[2];
    std::vector<float> slice;      // one channel of a slice of input, BLOCK samples
    int latency = 0;
    int queue_size = 0;
    int64_t in_total = 0, out_total = 0;
    int64_t track_end = INT64_MAX; // known once draining
    bool flowing = false, drained = false;
    filterex_counts counts{};
};

namespace {

void queue_samples(void* context, const float* samples, int n)
{
    fx_channel* c = static_cast<fx_channel*>(context);
    const int size = int(c->queue.size());
    const int at = int(c->written % size);
    const int first = std::min(n, size - at);
    std::memcpy(c->queue.data() + at, samples, size_t(first) * sizeof(float));
    std::memcpy(c->queue.data(), samples + first, size_t(n - first) * sizeof(float));
    c->written += n;
}

// Feeds n samples of one channel through click repair; each finished block
// goes on to the hiss reduction.
void repair_push(filterex_state* s, fx_channel* c, const float* in, int n)
{
    const int length = AR_HISTORY + BLOCK + AR_LOOKAHEAD;
    while (n > 0) {
        const int take = std::min(n, length - c->fill);
        std::memcpy(c->x.data() + c->fill, in, size_t(take) * sizeof(float));
        c->fill += take;
        in += take;
        n -= take;
        if (c->fill < length)
            break;
        // The track's first samples have nothing before them to predict
        // from, and the zeros after its end are not part of it.
        const int64_t first = AR_HISTORY + AR_ORDER - c->block_start;
        const int64_t end = s->track_end == INT64_MAX ? length : s->track_end - c->block_start + AR_HISTORY;
        const int first_valid = int(std::clamp<int64_t>(first, 0, length));
        const int valid_end = int(std::clamp<int64_t>(end, 0, length));
        ar_repair_block(&s->ar, c->x.data(), AR_HISTORY, AR_LOOKAHEAD, first_valid, valid_end, s->click_level,
                        &s->counts.repaired_gaps, &s->counts.repaired_samples);
        spectral_push(&s->plan, &c->spectral, c->x.data() + AR_HISTORY, BLOCK, queue_samples, c);
        std::memmove(c->x.data(), c->x.data() + BLOCK, size_t(length - BLOCK) * sizeof(float));
        c->fill = length - BLOCK;
        c->block_start += BLOCK;
    }
}

// Interleaved frames (null: zeros) into every channel's repair.
void push_frames(filterex_state* s, const int16_t* in, int frames)
{
    while (frames > 0) {
        const int n = std::min(frames, BLOCK);
        for (int c = 0; c < s->channels; ++c) {
            float* x = s->slice.data();
            for (int i = 0; i < n; ++i)
                x[i] = in ? float(in[i * s->channels + c]) : 0.0f;
            repair_push(s, &s->ch[c], x, n);
        }
        if (in)
            in += n * s->channels;
        frames -= n;
    }
}

// Writes `frames` finished frames from the queues, rounded and clipped.
void take_frames(filterex_state* s, int16_t* out, int frames)
{
    for (int c = 0; c < s->channels; ++c) {
        const float* q = s->ch[c].queue.data();
        int at = int(s->out_total % s->queue_size);
        for (int i = 0; i < frames; ++i) {
            const float r = std::nearbyint(std::clamp(q[at], -32768.0f, 32767.0f));
            out[i * s->channels + c] = int16_t(r);
            if (++at == s->queue_size)
                at = 0;
        }
    }
    s->out_total += frames;
}

// Click level and hiss settings from the Threshold box, 1 .. 45.
void settings(int threshold, float* click_level, float* over_subtraction, float* gain_floor)
{
    const float hard = float(threshold - FX_THRESHOLD_MIN) / float(FX_THRESHOLD_MAX - FX_THRESHOLD_MIN);
    *click_level = 10.0f * std::pow(0.4f, hard);         // 10 .. 4 deviations
    *over_subtraction = 0.8f + 1.2f * hard;
    *gain_floor = 0.15f * std::pow(0.3f, hard);          // -16.5 .. -27 dB
}

} // namespace

bool filterex_rate_allowed(uint32_t rate)
{
    return rate >= uint32_t(FX_LOWEST_RATE) && rate <= uint32_t(FX_HIGHEST_RATE);
}

int filterex_start(filterex_state** state, int channels, int rate, int threshold)
{
    if (!state)
        return FX_BAD_ARGUMENT;
    *state = nullptr;
    if (channels < 1 || channels > 2 || rate < 0 || !filterex_rate_allowed(uint32_t(rate)) ||
        threshold < FX_THRESHOLD_MIN || threshold > FX_THRESHOLD_MAX)
        return FX_BAD_ARGUMENT;
    filterex_state* s = new (std::nothrow) filterex_state;
    if (!s)
        return FX_NO_MEMORY;
    s->channels = channels;
    s->rate = rate;
    float over_subtraction, gain_floor;
    settings(threshold, &s->click_level, &over_subtraction, &gain_floor);
    bool ok = ar_scratch_init(&s->ar, BLOCK) && spectral_plan_init(&s->plan, rate, over_subtraction, gain_floor);
    s->latency = AR_LOOKAHEAD + BLOCK + s->plan.size;
    s->queue_size = 2 * s->latency + BLOCK + s->plan.size;
    try {
        s->slice.assign(BLOCK, 0.0f);
        for (int c = 0; ok && c < channels; ++c) {
            fx_channel& ch = s->ch[c];
            ch.x.assign(size_t(AR_HISTORY + BLOCK + AR_LOOKAHEAD), 0.0f);
            ch.fill = AR_HISTORY;
            ch.queue.assign(size_t(s->queue_size), 0.0f);
            ok = spectral_channel_init(&ch.spectral, &s->plan);
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        filterex_free(s);
        return FX_NO_MEMORY;
    }
    *state = s;
    return FX_OK;
}

void filterex_free(filterex_state* state)
{
    if (!state)
        return;
    spectral_plan_free(&state->plan);
    delete state;
}

int filterex_profile_feed(filterex_state* s, const int16_t* in, int frames)
{
    if (!s || frames < 0 || (frames > 0 && !in) || s->flowing)
        return FX_BAD_ARGUMENT;
    while (frames > 0) {
        const int n = std::min(frames, BLOCK);
        for (int c = 0; c < s->channels; ++c) {
            float* x = s->slice.data();
            for (int i = 0; i < n; ++i)
                x[i] = float(in[i * s->channels + c]);
            spectral_scan(&s->plan, &s->ch[c].spectral, x, n);
        }
        in += n * s->channels;
        frames -= n;
    }
    return FX_OK;
}

int filterex_profile_end(filterex_state* s)
{
    if (!s || s->flowing)
        return FX_BAD_ARGUMENT;
    bool any = false, music = false;
    for (int c = 0; c < s->channels; ++c) {
        spectral_scan_end(&s->plan, &s->ch[c].spectral);
        any = any || s->ch[c].spectral.have_noise;
        music = music || s->ch[c].spectral.music_not_noise;
    }
    s->counts.denoising = any;
    s->counts.no_quiet_passage = music && !any;
    return FX_OK;
}

int filterex_flow(filterex_state* s, const int16_t* in, int frames, int16_t* out, int* out_frames)
{
    if (!s || !out_frames || frames < 0 || (frames > 0 && (!in || !out)) || s->drained)
        return FX_BAD_ARGUMENT;
    s->flowing = true;
    int written = 0;
    while (frames > 0) {
        const int n = std::min(frames, BLOCK);
        push_frames(s, in, n);
        s->in_total += n;
        in += n * s->channels;
        frames -= n;
        const int due = int(std::max<int64_t>(0, s->in_total - s->latency) - s->out_total);
        if (due > 0) {
            take_frames(s, out + written * s->channels, due);
            written += due;
        }
    }
    *out_frames = written;
    return FX_OK;
}

int filterex_drain(filterex_state* s, int16_t* out, int* out_frames)
{
    if (!s || !out || !out_frames || s->drained)
        return FX_BAD_ARGUMENT;
    s->flowing = true;
    s->track_end = s->in_total;
    push_frames(s, nullptr, s->latency);
    const int rest = int(s->in_total - s->out_total);
    take_frames(s, out, rest);
    s->drained = true;
    *out_frames = rest;
    return FX_OK;
}

int filterex_latency(const filterex_state* s)
{
    return s ? s->latency : 0;
}

filterex_counts filterex_report(const filterex_state* s)
{
    return s ? s->counts : filterex_counts{};
}
