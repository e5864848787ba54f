// IMA ADPCM (tag 0x11): 4 bits a sample in blocks that each start from a
// stored sample and step index, so a block decodes on its own.
//
// Block layout, per channel a 4-byte header (first sample, step index, 0),
// then groups of 4 bytes (8 samples, low nibble first) channel by channel.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
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

constexpr int IMA_MAX_SPB = 2048;   // 2041 at 44 and 48 kHz
constexpr int IMA_REACH = 14;       // start indexes tried past the best so far

// A block coded from one start index: per sample the code, the decoder's
// state after it and the squared error so far.
struct ima_path {
    uint8_t code[IMA_MAX_SPB];
    int32_t predictor[IMA_MAX_SPB];
    uint8_t index[IMA_MAX_SPB];
    uint64_t error[IMA_MAX_SPB];
};

struct ima_state {
    int index[2];                   // step index carried from block to block, per channel
    int16_t samples[IMA_MAX_SPB];   // one channel of the block being encoded
    ima_path best;                  // the best start index's path so far
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

// One sample: the code whose decoded value lies nearest, then the decoder's
// own update, so encoder and decoder never drift apart.
inline uint8_t ima_code(int sample, int& predictor, int& index)
{
    const int step = step_table[index];
    const int diff = sample - predictor;
    uint8_t sign = diff < 0 ? 8 : 0;
    int magnitude = diff < 0 ? -diff : diff;
    // The magnitude code by successive approximation, then its neighbour
    // above if that decodes nearer (the decoder adds step/8 to every code).
    int c = (magnitude << 2) / step;
    if (c > 7)
        c = 7;
    auto delta_of = [step](int code) {
        return (step >> 3) + (code & 4 ? step : 0) + (code & 2 ? step >> 1 : 0) + (code & 1 ? step >> 2 : 0);
    };
    int delta = delta_of(c);
    if (c > 0) {
        int lower = delta_of(c - 1);
        if (std::abs(magnitude - lower) < std::abs(magnitude - delta)) {
            --c;
            delta = lower;
        }
    }
    if (c < 7) {
        int upper = delta_of(c + 1);
        if (std::abs(magnitude - upper) < std::abs(magnitude - delta)) {
            ++c;
            delta = upper;
        }
    }
    uint8_t code = uint8_t(sign | c);
    predictor += sign ? -delta : delta;
    if (predictor > 32767)
        predictor = 32767;
    else if (predictor < -32768)
        predictor = -32768;
    index += index_table[code];
    if (index < 0)
        index = 0;
    else if (index > 88)
        index = 88;
    return code;
}

// Codes path p from start index `start` for samples 1..last (all when last
// is 0), keeping every step.
void ima_walk(const int16_t* x, uint32_t n, int start, ima_path& p, uint32_t last)
{
    int predictor = x[0], index = start;
    uint64_t error = 0;
    p.predictor[0] = predictor;
    p.index[0] = uint8_t(start);
    p.error[0] = 0;
    uint32_t end = last ? last + 1 : n;
    for (uint32_t i = 1; i < end; ++i) {
        p.code[i] = ima_code(x[i], predictor, index);
        int64_t e = x[i] - predictor;
        error += uint64_t(e * e);
        p.predictor[i] = predictor;
        p.index[i] = uint8_t(index);
        p.error[i] = error;
    }
}

// Codes samples 1..n-1 of one channel from start index `start` into st->best
// when that beats the best so far (then true). Two paths that reach the same decoder
// state at the same sample go on identically, so a trial stops as soon as it
// meets the best path (or its error passes the best total) and borrows the
// rest: every start index costs only the samples until the paths meet.
bool ima_try(ima_state* st, uint32_t n, int start)
{
    const int16_t* x = st->samples;
    ima_path& best = st->best;
    const uint64_t best_total = best.error[n - 1];
    int predictor = x[0], index = start;
    uint64_t error = 0;
    for (uint32_t i = 1; i < n; ++i) {
        ima_code(x[i], predictor, index);
        int64_t e = x[i] - predictor;
        error += uint64_t(e * e);
        if (error >= best_total)
            return false;
        if (predictor == best.predictor[i] && index == best.index[i]) {
            if (error >= best.error[i])
                return false;
            // The trial's head and the best path's tail make the new best.
            uint64_t shift_down = best.error[i] - error;
            for (uint32_t j = i + 1; j < n; ++j)
                best.error[j] -= shift_down;
            ima_walk(x, n, start, best, i);
            return false;
        }
    }
    ima_walk(x, n, start, best, 0);   // never met the best path and ended lower
    return true;
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
        for (int ch = 0; ch < channels; ++ch) {
            for (uint32_t i = 0; i < spb; ++i)
                st->samples[i] = load_s16(in + 2 * (i * channels + ch));
            // A block may start from any step index. Start from the one the
            // previous block ended with and widen the search on both sides
            // while a start within IMA_REACH of the best so far is untried.
            const int carried = st->index[ch];
            ima_walk(st->samples, spb, carried, st->best, 0);
            int best_start = carried, low = carried, high = carried;
            while (low > std::max(0, best_start - IMA_REACH) || high < std::min(88, best_start + IMA_REACH)) {
                for (int side = 0; side < 2; ++side) {
                    int index = side == 0 ? low - 1 : high + 1;
                    if (index < std::max(0, best_start - IMA_REACH) || index > std::min(88, best_start + IMA_REACH))
                        continue;
                    (side == 0 ? low : high) = index;
                    if (ima_try(st, spb, index))
                        best_start = index;
                }
            }
            const ima_path& best = st->best;
            const int best_index = best.index[0];
            uint8_t* h = out + 4 * ch;
            store_u16(h, uint16_t(st->samples[0]));
            h[2] = uint8_t(best_index);
            h[3] = 0;
            // Samples 1..spb-1 in groups of 8, each group 4 bytes of this channel.
            uint8_t* data = out + 4 * channels + 4 * ch;
            for (uint32_t i = 1; i < spb; ++i) {
                uint32_t k = (i - 1) % 8;
                uint8_t* group = data + ((i - 1) / 8) * 4 * channels;
                if (k & 1)
                    group[k / 2] |= uint8_t(best.code[i] << 4);
                else
                    group[k / 2] = best.code[i];
            }
            st->index[ch] = best.index[spb - 1];
        }
    }
    return int64_t(blocks) * align;
}
} // namespace

const acm_codec codec_ima_adpcm = {
    WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", "ima-adpcm", nullptr, ima_make, ima_extra,
    ima_frames_per_block, ima_max_output, ima_open, ima_close, ima_restart, ima_encode, nullptr,
};
