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
constexpr uint32_t OPENING = 32;    // samples that rank the start indexes
constexpr int FINALISTS = 1;        // best-ranked start indexes coded in full

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

// Codes samples 1..n-1 of one channel from step index `start`, following
// both kinds of decoder. Each code is the nominal one for the point between
// them or a neighbour, whichever gives the least squared error in both plus
// the charge on their drift. Returns the squared error in both decoders over
// samples 1..scored-1, early once it passes give_up; the index the block
// ends with in *end_index.
uint64_t ima_run(const int16_t* x, uint32_t n, uint32_t scored, int start, uint8_t* codes, uint64_t give_up,
                 int* end_index)
{
    int a = x[0], b = x[0];   // the shifting decoder's value, the multiplying one's
    int index = start;
    uint64_t error = 0;
    for (uint32_t i = 1; i < n; ++i) {
        const ima_level& l = levels[index];
        const int target = x[i];
        const int diff = target - ((a + b) >> 1);
        const int sign = diff < 0 ? 8 : 0;
        // The magnitude in quarter steps: code c is nearest for c..c+1, and
        // its neighbour on the side of the fraction is the other choice.
        const uint32_t quarters = uint32_t(diff < 0 ? -diff : diff) * l.quarters;
        const int whole = int(quarters >> 16);
        const int c = whole > 7 ? 7 : whole;
        const int other = quarters & 0x8000 ? (c < 7 ? c + 1 : 6) : (c > 0 ? c - 1 : 1);
        auto charge = [&](int k, int* na, int* nb) {
            *na = clamp16(sign ? a - l.shifted[k] : a + l.shifted[k]);
            *nb = clamp16(sign ? b - l.multiplied[k] : b + l.multiplied[k]);
            const int64_t ea = target - *na, eb = target - *nb, drift = *nb - *na;
            return ea * ea + eb * eb + (drift * drift << DRIFT_WEIGHT_SHIFT);
        };
        int next_a, next_b, other_a, other_b;
        int chosen = c;
        if (charge(other, &other_a, &other_b) < charge(c, &next_a, &next_b)) {
            chosen = other;
            next_a = other_a;
            next_b = other_b;
        }
        a = next_a;
        b = next_b;
        const int code = sign | chosen;
        codes[i] = uint8_t(code);
        if (i < scored) {
            const int64_t ea = target - a, eb = target - b;
            error += uint64_t(ea * ea + eb * eb);
            if (error > give_up)
                break;
        }
        index += index_table[code];
        index = index < 0 ? 0 : index > 88 ? 88 : index;
    }
    *end_index = index;
    return error;
}

int64_t ima_encode(acm_stream_object* s, const uint8_t* src, uint32_t blocks, uint8_t* dst)
{
    ima_state* st = static_cast<ima_state*>(s->state);
    const int channels = s->dst.fmt.channels;
    const uint32_t spb = s->frames_per_block;
    const uint32_t align = s->dst.fmt.block_align;
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint8_t* in = src + size_t(b) * spb * channels * 2;
        uint8_t* out = dst + size_t(b) * align;
        // Only the frames from the source count: a padded last block's
        // silence is not worth worse sound before it.
        const uint32_t scored = b + 1 == blocks ? s->sounding_frames : spb;
        const uint32_t opening = std::min(spb, OPENING);
        for (int ch = 0; ch < channels; ++ch) {
            for (uint32_t i = 0; i < spb; ++i)
                st->samples[i] = load_s16(in + 2 * (i * channels + ch));
            // A block may start from any step index. The ones near the index
            // the previous block ended with are ranked by how well they code
            // the opening, where the start matters most; the best few code
            // the whole block and the least error wins.
            const int carried = st->index[ch];
            const int first = std::max(0, carried - START_REACH), last = std::min(88, carried + START_REACH);
            uint64_t ranked_error[FINALISTS];
            int ranked[FINALISTS], count = 0, ignored = 0;
            for (int start = first; start <= last; ++start) {
                uint64_t give_up = count == FINALISTS ? ranked_error[FINALISTS - 1] : UINT64_MAX;
                uint64_t e = ima_run(st->samples, opening, std::min(opening, scored), start, st->trial, give_up,
                                     &ignored);
                if (e > give_up || (count == FINALISTS && e == give_up))
                    continue;
                int at = count < FINALISTS ? count++ : FINALISTS - 1;
                while (at > 0 && ranked_error[at - 1] > e) {
                    ranked_error[at] = ranked_error[at - 1];
                    ranked[at] = ranked[at - 1];
                    --at;
                }
                ranked_error[at] = e;
                ranked[at] = start;
            }
            uint64_t best = UINT64_MAX;
            int best_start = carried, end_index = carried;
            for (int f = 0; f < count; ++f) {
                int ends = 0;
                uint64_t e = ima_run(st->samples, spb, scored, ranked[f], st->trial, best, &ends);
                if (e < best || f == 0) {
                    best = e;
                    best_start = ranked[f];
                    end_index = ends;
                    std::memcpy(st->codes + 1, st->trial + 1, spb - 1);
                }
            }
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
