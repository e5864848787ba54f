// IMA ADPCM (tag 0x11): 4 bits a sample in blocks that each start from a
// stored sample and step index, so a block decodes on its own.
//
// Block layout, per channel a 4-byte header (first sample, step index, 0),
// then groups of 4 bytes (8 samples, low nibble first) channel by channel.
//
// Decoders turn a code into a difference in one of two ways: the sum of the
// step shifted by 3, 2, 1 and 0 for the code's bits, or (2 code + 1) step / 8
// in one multiplication. The two differ by up to 3 for a code and drift apart
// over a block, so the encoder follows both and chooses each code for both.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include "platform/acm/codec.h"

namespace {
const int16_t step_table[89] = {
    7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66,
    73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449,
    494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272,
    2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493,
    10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};
const int8_t index_table[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// Per step index: the difference each code magnitude makes in the two kinds
// of decoder, and 4 / step in 1/65536 for finding the nearest code without
// a division.
struct ima_level {
    int16_t shifted[8];
    int16_t multiplied[8];
    uint32_t quarters;
};
constexpr std::array<ima_level, 89> levels = [] {
    std::array<ima_level, 89> t{};
    for (int i = 0; i < 89; ++i) {
        const int step = step_table[i];
        for (int c = 0; c < 8; ++c) {
            t[i].shifted[c] = int16_t((step >> 3) + (c & 4 ? step : 0) + (c & 2 ? step >> 1 : 0) + (c & 1 ? step >> 2 : 0));
            t[i].multiplied[c] = int16_t(((2 * c + 1) * step) >> 3);
        }
        t[i].quarters = uint32_t((4u << 16) + step - 1) / uint32_t(step);
    }
    return t;
}();

constexpr int IMA_MAX_SPB = 2048;   // 2041 at 44 and 48 kHz
// A drift between the two decoders stays for the rest of the block, so a
// code that widens it is charged more than the error it makes now.
constexpr int DRIFT_WEIGHT_SHIFT = 7;
constexpr int START_REACH = 14;     // start indexes tried on either side of the carried one
// Samples that rank the start indexes, and how many of the best-ranked code
// the whole block: more where codes look ahead.
constexpr uint32_t OPENING[2] = {32, 64};
constexpr int FINALISTS[2] = {1, 3};
constexpr uint32_t LOOK_AHEAD_SAMPLES = 48000;
constexpr int EDGE_JUMP = 8192;     // a step between samples that makes a block one with edges
constexpr int EDGE_FLOOR = 44;      // the step index such a block may hold between its edges   // samples a second up to which codes look ahead

struct ima_state {
    int index[2];                   // step index carried from block to block, per channel
    int16_t samples[IMA_MAX_SPB];   // one channel of the block being encoded
    uint8_t codes[IMA_MAX_SPB];     // the best codes so far
    uint8_t trial[IMA_MAX_SPB];     // the codes of the start being tried
};

uint32_t ima_samples_per_block(uint16_t block_align, int channels)
{
    return (uint32_t(block_align) - 4u * channels) * 8u / (4u * channels) + 1u;
}

int ima_make(format_area* out, uint32_t rate, int channels, int)
{
    if (!acm_rate_listed(rate) || channels < 1 || channels > 2)
        return -1;
    uint16_t align = adpcm_block_align(rate, channels);
    uint32_t spb = ima_samples_per_block(align, channels);
    set_format(out, WAVE_FORMAT_IMA_ADPCM, channels, rate, uint32_t(uint64_t(rate) * align / spb), align, 4, 2);
    store_u16(out->bytes + 18, uint16_t(spb));
    return 0;
}

int ima_extra(const wave_format*) { return 0; }
uint32_t ima_frames_per_block(const wave_format* dst)
{
    return ima_samples_per_block(dst->block_align, dst->channels);
}
uint64_t ima_max_output(const wave_format* dst, uint64_t blocks) { return blocks * dst->block_align; }

unsigned ima_open(acm_stream_object* s)
{
    if (s->frames_per_block > IMA_MAX_SPB)
        return ACMERR_NOTPOSSIBLE;
    s->state = std::calloc(1, sizeof(ima_state));
    return s->state ? 0u : unsigned(MMSYSERR_NOMEM);
}
void ima_close(acm_stream_object* s)
{
    std::free(s->state);
    s->state = nullptr;
}
void ima_restart(acm_stream_object* s)
{
    auto* st = static_cast<ima_state*>(s->state);
    st->index[0] = st->index[1] = 0;
}

inline int clamp16(int v) { return v > 32767 ? 32767 : v < -32768 ? -32768 : v; }

// One choice of code: the two decoders' values after it, the step index
// after it, and its charge (squared error in both plus the drift's charge).
struct ima_option {
    int code, a, b, index;
    int64_t charge;
};

// The two codes worth choosing from decoder values a and b at step index
// `index` for the sample `target`: the nominal one for the point between the
// two values, and its neighbour on the side of the remainder.
inline void ima_options(int a, int b, int index, int target, ima_option out[2])
{
    const ima_level& l = levels[index];
    const int diff = target - ((a + b) >> 1);
    const int sign = diff < 0 ? 8 : 0;
    // The magnitude in quarter steps: code c is nearest for c..c+1.
    const uint32_t quarters = uint32_t(diff < 0 ? -diff : diff) * l.quarters;
    const int whole = int(quarters >> 16);
    const int c = whole > 7 ? 7 : whole;
    const int other = quarters & 0x8000 ? (c < 7 ? c + 1 : 6) : (c > 0 ? c - 1 : 1);
    for (int j = 0; j < 2; ++j) {
        const int k = j ? other : c;
        ima_option& o = out[j];
        o.code = sign | k;
        o.a = clamp16(sign ? a - l.shifted[k] : a + l.shifted[k]);
        o.b = clamp16(sign ? b - l.multiplied[k] : b + l.multiplied[k]);
        const int next = index + index_table[o.code];
        o.index = next < 0 ? 0 : next > 88 ? 88 : next;
        const int64_t ea = target - o.a, eb = target - o.b, drift = o.b - o.a;
        o.charge = ea * ea + eb * eb + (drift * drift << DRIFT_WEIGHT_SHIFT);
    }
}

// The code of magnitude k towards `target` from decoder values a and b.
inline void ima_force(int a, int b, int index, int target, int k, ima_option* o)
{
    const ima_level& l = levels[index];
    const int sign = target < ((a + b) >> 1) ? 8 : 0;
    o->code = sign | k;
    o->a = clamp16(sign ? a - l.shifted[k] : a + l.shifted[k]);
    o->b = clamp16(sign ? b - l.multiplied[k] : b + l.multiplied[k]);
    const int next = index + index_table[o->code];
    o->index = next < 0 ? 0 : next > 88 ? 88 : next;
    o->charge = 0;
}

// Codes samples 1..n-1 of one channel from step index `start`, following
// both kinds of decoder, by the option with the least charge; looking ahead,
// by the least charge of it and the best option after it. Returns the
// squared error in both decoders over samples 1..scored-1 (early, once it
// passes give_up); the index the block ends with in *end_index. With a
// floor, the step index is held there: no code takes it below the floor.
template <bool LOOK_AHEAD>
uint64_t ima_run(const int16_t* x, uint32_t n, uint32_t scored, int start, uint8_t* codes, uint64_t give_up,
                 int* end_index, int floor = 0)
{
    int a = x[0], b = x[0];   // the shifting decoder's value, the multiplying one's
    int index = start;
    uint64_t error = 0;
    for (uint32_t i = 1; i < n; ++i) {
        ima_option o[2];
        ima_options(a, b, index, x[i], o);
        int64_t charge0 = o[0].charge, charge1 = o[1].charge;
        if (LOOK_AHEAD && i + 1 < n) {
            ima_option after[2];
            ima_options(o[0].a, o[0].b, o[0].index, x[i + 1], after);
            charge0 += std::min(after[0].charge, after[1].charge);
            ima_options(o[1].a, o[1].b, o[1].index, x[i + 1], after);
            charge1 += std::min(after[0].charge, after[1].charge);
        }
        ima_option held;
        const ima_option* pick = charge1 < charge0 ? &o[1] : &o[0];
        if (pick->index < floor && index <= floor) {
            // Held at the floor: the smallest code that raises the step,
            // towards the sample, so that the next edge starts from there.
            ima_force(a, b, index, x[i], 4, &held);
            pick = &held;
        }
        const ima_option& chosen = *pick;
        a = chosen.a;
        b = chosen.b;
        index = chosen.index;
        codes[i] = uint8_t(chosen.code);
        if (i < scored) {
            const int64_t ea = x[i] - a, eb = x[i] - b;
            error += uint64_t(ea * ea + eb * eb);
            if (error > give_up)
                break;
        }
    }
    *end_index = index;
    return error;
}

// The search for one channel's block with or without look-ahead; returns the
// chosen start index, the codes in st->codes, the index it ends with in *end_index.
template <bool LOOK_AHEAD>
int ima_search(ima_state* st, uint32_t spb, uint32_t scored, int carried, int* end_index)
{
    // A block may start from any step index. The ones near the index the
    // previous block ended with are ranked by how well they code the
    // opening, where the start matters most; the best few code the whole
    // block and the least error wins.
    constexpr int finalists = FINALISTS[LOOK_AHEAD];
    const uint32_t opening = std::min(spb, OPENING[LOOK_AHEAD]);
    const int first = std::max(0, carried - START_REACH), last = std::min(88, carried + START_REACH);
    uint64_t ranked_error[finalists];
    int ranked[finalists], count = 0, ignored = 0;
    for (int start = first; start <= last; ++start) {
        const uint64_t give_up = count == finalists ? ranked_error[finalists - 1] : UINT64_MAX;
        const uint64_t e = ima_run<LOOK_AHEAD>(st->samples, opening, std::min(opening, scored), start, st->trial,
                                               give_up, &ignored);
        if (e > give_up || (count == finalists && e == give_up))
            continue;
        int at = count < finalists ? count++ : finalists - 1;
        while (at > 0 && ranked_error[at - 1] > e) {
            ranked_error[at] = ranked_error[at - 1];
            ranked[at] = ranked[at - 1];
            --at;
        }
        ranked_error[at] = e;
        ranked[at] = start;
    }
    uint64_t best = UINT64_MAX;
    int best_start = carried;
    for (int f = 0; f < count; ++f) {
        int ends = 0;
        const uint64_t e = ima_run<LOOK_AHEAD>(st->samples, spb, scored, ranked[f], st->trial, best, &ends);
        if (e < best || f == 0) {
            best = e;
            best_start = ranked[f];
            *end_index = ends;
            std::memcpy(st->codes + 1, st->trial + 1, spb - 1);
        }
    }
    // A block with full-height edges: a step held from falling too low
    // between them lets each edge be followed sooner; kept when it codes the
    // block with less error.
    int jump = 0;
    for (uint32_t i = 1; i < spb && jump < EDGE_JUMP; ++i)
        jump = std::max(jump, std::abs(st->samples[i] - st->samples[i - 1]));
    if (jump >= EDGE_JUMP) {
        int ends = 0;
        const uint64_t e = ima_run<LOOK_AHEAD>(st->samples, spb, scored, std::max(best_start, EDGE_FLOOR), st->trial,
                                               best, &ends, EDGE_FLOOR);
        if (e < best) {
            best_start = std::max(best_start, EDGE_FLOOR);
            *end_index = ends;
            std::memcpy(st->codes + 1, st->trial + 1, spb - 1);
        }
    }
    return best_start;
}

int64_t ima_encode(acm_stream_object* s, const uint8_t* src, uint32_t blocks, uint8_t* dst)
{
    ima_state* st = static_cast<ima_state*>(s->state);
    const int channels = s->dst.fmt.channels;
    const uint32_t spb = s->frames_per_block;
    const uint32_t align = s->dst.fmt.block_align;
    // Looking ahead costs three times the work a sample: worth it where the
    // stream has few samples a second, so every format codes hundreds of
    // times faster than real time.
    const bool look_ahead = s->dst.fmt.samples_per_sec * channels <= LOOK_AHEAD_SAMPLES;
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint8_t* in = src + size_t(b) * spb * channels * 2;
        uint8_t* out = dst + size_t(b) * align;
        // Only the frames from the source count: a padded last block's
        // silence is not worth worse sound before it.
        const uint32_t scored = b + 1 == blocks ? s->sounding_frames : spb;
        for (int ch = 0; ch < channels; ++ch) {
            for (uint32_t i = 0; i < spb; ++i)
                st->samples[i] = load_s16(in + 2 * (i * channels + ch));
            int end_index = st->index[ch];
            const int best_start = look_ahead ? ima_search<true>(st, spb, scored, st->index[ch], &end_index)
                                              : ima_search<false>(st, spb, scored, st->index[ch], &end_index);
            uint8_t* h = out + 4 * ch;
            store_u16(h, uint16_t(st->samples[0]));
            h[2] = uint8_t(best_start);
            h[3] = 0;
            // Samples 1..spb-1 in groups of 8, each group 4 bytes of this channel.
            uint8_t* data = out + 4 * channels + 4 * ch;
            for (uint32_t i = 1; i < spb; ++i) {
                uint32_t k = (i - 1) % 8;
                uint8_t* group = data + ((i - 1) / 8) * 4 * channels;
                if (k & 1)
                    group[k / 2] |= uint8_t(st->codes[i] << 4);
                else
                    group[k / 2] = st->codes[i];
            }
            st->index[ch] = end_index;
        }
    }
    return int64_t(blocks) * align;
}
} // namespace

const acm_codec codec_ima_adpcm = {
    WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", "ima-adpcm", nullptr, ima_make, ima_extra,
    ima_frames_per_block, ima_max_output, ima_open, ima_close, ima_restart, ima_encode, nullptr,
};
