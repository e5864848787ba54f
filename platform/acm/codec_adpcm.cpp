// ADPCM with format tag 2: 4 bits a sample, predicted from the two previous
// samples by one of seven standard coefficient pairs chosen per block.
//
// Block layout: per channel the predictor number (bytes 0..ch-1), then per
// channel the step (int16), the second sample and the first sample (int16
// each), then one nibble per sample, high nibble first, channels alternating.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include "platform/acm/codec.h"

namespace {
// The coefficient pairs every decoder knows, in 1/256.
const int16_t coefficients[7][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
};
const int16_t adapt_table[16] = {
    230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230,
};
constexpr int MAX_SPB = 2048;        // samples per block at 48 kHz mono is 2036
constexpr uint32_t OPENING = 64;     // samples that choose a pair's first step
constexpr uint64_t PAIR_REACH = 16;  // a pair predicting this many times worse than the best is not tried

uint32_t adpcm_samples_per_block(uint16_t block_align, int channels)
{
    return (uint32_t(block_align) - 7u * channels) * 8u / (4u * channels) + 2u;
}

int adpcm_make(format_area* out, uint32_t rate, int channels, int)
{
    if (!acm_rate_listed(rate) || channels < 1 || channels > 2)
        return -1;
    uint16_t align = adpcm_block_align(rate, channels);
    uint32_t spb = adpcm_samples_per_block(align, channels);
    set_format(out, WAVE_FORMAT_ADPCM, channels, rate, uint32_t(uint64_t(rate) * align / spb), align, 4, 32);
    uint8_t* extra = out->bytes + 18;
    store_u16(extra, uint16_t(spb));
    store_u16(extra + 2, 7);
    for (int i = 0; i < 7; ++i) {
        store_u16(extra + 4 + 4 * i, uint16_t(coefficients[i][0]));
        store_u16(extra + 6 + 4 * i, uint16_t(coefficients[i][1]));
    }
    return 0;
}

int adpcm_extra(const wave_format*) { return 0; }
uint32_t adpcm_frames_per_block(const wave_format* dst)
{
    return adpcm_samples_per_block(dst->block_align, dst->channels);
}
uint64_t adpcm_max_output(const wave_format* dst, uint64_t blocks) { return blocks * dst->block_align; }

struct adpcm_state {
    int16_t samples[MAX_SPB];   // one channel of the block being encoded
    uint8_t codes[MAX_SPB];     // its best codes so far
    uint8_t trial[MAX_SPB];     // codes of the candidate being tried
};

unsigned adpcm_open(acm_stream_object* s)
{
    if (s->frames_per_block > MAX_SPB)
        return ACMERR_NOTPOSSIBLE;
    s->state = std::calloc(1, sizeof(adpcm_state));
    return s->state ? 0u : unsigned(MMSYSERR_NOMEM);
}
void adpcm_close(acm_stream_object* s)
{
    std::free(s->state);
    s->state = nullptr;
}
void adpcm_restart(acm_stream_object*) {}

// Encodes samples 2..n-1 of one channel with a coefficient pair and a first
// step, exactly as a decoder will rebuild them; returns the squared error of
// samples 2..scored-1 (early, past give_up, once it exceeds that). A pair
// whose prediction would have to be rounded from a negative sum is refused
// (UINT64_MAX): decoders round such sums differently, downwards or towards
// zero, and the block would sound different in each.
uint64_t adpcm_try(const int16_t* x, uint32_t n, uint32_t scored, int c1, int c2, int step, uint8_t* codes,
                   uint64_t give_up)
{
    int s2 = x[0], s1 = x[1];
    uint64_t error = 0;
    for (uint32_t i = 2; i < n; ++i) {
        const int sum = s1 * c1 + s2 * c2;
        if (sum < 0 && (sum & 255))
            return UINT64_MAX;
        const int predicted = sum >> 8;
        // The nearest code: diff / step rounded, limited to -8..7 (in single
        // precision, quicker than an integer division and exact enough).
        const float r = float(x[i] - predicted) / float(step);
        int q = int(r + (r >= 0 ? 0.5f : -0.5f));
        q = q > 7 ? 7 : q < -8 ? -8 : q;
        int value = predicted + q * step;
        value = value > 32767 ? 32767 : value < -32768 ? -32768 : value;
        if (i < scored) {
            const int64_t e = x[i] - value;
            error += uint64_t(e * e);
            if (error > give_up)
                return error;
        }
        const uint8_t code = uint8_t(q & 0x0F);
        codes[i] = code;
        step = (adapt_table[code] * step) >> 8;
        step = step < 16 ? 16 : step;
        s2 = s1;
        s1 = value;
    }
    return error;
}

int64_t adpcm_encode(acm_stream_object* s, const uint8_t* src, uint32_t blocks, uint8_t* dst)
{
    adpcm_state* st = static_cast<adpcm_state*>(s->state);
    const int channels = s->dst.fmt.channels;
    const uint32_t spb = s->frames_per_block;
    const uint32_t align = s->dst.fmt.block_align;
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint8_t* in = src + size_t(b) * spb * channels * 2;
        uint8_t* out = dst + size_t(b) * align;
        std::memset(out, 0, align);
        uint8_t* nibbles = out + 7 * channels;
        for (int ch = 0; ch < channels; ++ch) {
            for (uint32_t i = 0; i < spb; ++i)
                st->samples[i] = load_s16(in + 2 * (i * channels + ch));
            // Only the frames from the source count: a padded last block's
            // silence is not worth a worse pair for the sound before it.
            const uint32_t scored = b + 1 == blocks ? s->sounding_frames : spb;
            // The pairs in the order of how well they predict the input
            // itself; one that does far worse than the best is not tried.
            uint64_t open_loop[7] = {};
            for (uint32_t i = 2; i < scored; ++i) {
                const int x1 = st->samples[i - 1], x2 = st->samples[i - 2], x = st->samples[i];
                for (int p = 0; p < 7; ++p) {
                    const int64_t r = x - ((x1 * coefficients[p][0] + x2 * coefficients[p][1]) >> 8);
                    open_loop[p] += uint64_t(r * r);
                }
            }
            int order[7] = {0, 1, 2, 3, 4, 5, 6};
            std::sort(order, order + 7, [&](int l, int r) { return open_loop[l] < open_loop[r]; });
            const uint64_t hopeless = open_loop[order[0]] * PAIR_REACH + 1024u * spb;
            // Per pair, the first step (a quarter of the opening differences'
            // mean to four times it) that codes the block's opening best: the
            // step adapts within a few samples, so the opening decides it.
            // Then the pair whose whole block has the least error. Pairs 0 to
            // 2 always code alike everywhere, so one of them is chosen at least.
            int64_t rise = 0;
            const uint32_t lead = spb < 10 ? spb : 10;
            for (uint32_t i = 1; i < lead; ++i)
                rise += std::abs(st->samples[i] - st->samples[i - 1]);
            const int base = int(rise / (lead - 1)) / 4;
            const uint32_t opening = spb < OPENING ? spb : OPENING;
            uint64_t best = UINT64_MAX;
            int best_pair = 0, best_step = 16;
            uint8_t* best_codes = st->codes;
            uint8_t* trial = st->trial;
            for (int p : order) {
                if (best != UINT64_MAX && open_loop[p] > hopeless)
                    break;
                const int c1 = coefficients[p][0], c2 = coefficients[p][1];
                uint64_t least = UINT64_MAX;
                int step = 16;
                for (int k = 0; k < 5; ++k) {
                    static const int quarters[5] = {4, 2, 8, 1, 16};
                    const int tried = std::clamp(base * quarters[k] / 4, 16, 32767);
                    const uint64_t e = adpcm_try(st->samples, opening, std::min(opening, scored), c1, c2, tried,
                                                 trial, least);
                    if (e < least) {
                        least = e;
                        step = tried;
                    }
                }
                if (least == UINT64_MAX)
                    continue;
                const uint64_t e = adpcm_try(st->samples, spb, scored, c1, c2, step, trial, best);
                if (e < best) {
                    best = e;
                    best_pair = p;
                    best_step = step;
                    std::swap(best_codes, trial);
                }
            }
            out[ch] = uint8_t(best_pair);
            store_u16(out + channels + 2 * ch, uint16_t(best_step));
            store_u16(out + 3 * channels + 2 * ch, uint16_t(st->samples[1]));
            store_u16(out + 5 * channels + 2 * ch, uint16_t(st->samples[0]));
            // Nibble n of the block belongs to sample 2 + n / channels of
            // channel n % channels; the even nibble is the high one.
            for (uint32_t i = 2; i < spb; ++i) {
                uint32_t n = (i - 2) * channels + ch;
                uint8_t code = best_codes[i];
                nibbles[n / 2] |= n & 1 ? code : uint8_t(code << 4);
            }
        }
    }
    return blocks * align;
}
} // namespace

const acm_codec codec_adpcm = {
    WAVE_FORMAT_ADPCM, "ADPCM", "adpcm", nullptr, adpcm_make, adpcm_extra,
    adpcm_frames_per_block, adpcm_max_output, adpcm_open, adpcm_close, adpcm_restart, adpcm_encode, nullptr,
};
