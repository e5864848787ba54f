// IMA ADPCM (tag 0x11): 4 bits a sample in blocks that each start from a
// stored sample and step index, so a block decodes on its own.
//
// Block layout, per channel a 4-byte header (first sample, step index, 0),
// then groups of 4 bytes (8 samples, low nibble first) channel by channel.
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

struct ima_state {
    int index[2];   // step index carried from block to block, per channel
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
void ima_restart(acm_stream_object* s) { std::memset(s->state, 0, sizeof(ima_state)); }

// One sample: the code whose decoded value lies nearest, then the decoder's
// own update, so encoder and decoder never drift apart.
inline uint8_t ima_code(int sample, int& predictor, int& index)
{
    int step = step_table[index];
    int diff = sample - predictor;
    uint8_t code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    // Magnitude bits by successive approximation, as the decoder adds them.
    int delta = step >> 3;
    if (diff >= step) {
        code |= 4;
        diff -= step;
        delta += step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
        delta += step >> 1;
    }
    if (diff >= step >> 2) {
        code |= 1;
        delta += step >> 2;
    }
    predictor += code & 8 ? -delta : delta;
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
            int predictor = load_s16(in + 2 * ch);
            int index = st->index[ch];
            uint8_t* h = out + 4 * ch;
            store_u16(h, uint16_t(predictor));
            h[2] = uint8_t(index);
            h[3] = 0;
            // Samples 1..spb-1 in groups of 8, each group 4 bytes of this channel.
            uint8_t* data = out + 4 * channels + 4 * ch;
            for (uint32_t i = 1; i < spb; i += 8) {
                uint8_t* group = data + ((i - 1) / 8) * 4 * channels;
                for (uint32_t k = 0; k < 8; ++k) {
                    int sample = load_s16(in + 2 * ((i + k) * channels + ch));
                    uint8_t code = ima_code(sample, predictor, index);
                    if (k & 1)
                        group[k / 2] |= uint8_t(code << 4);
                    else
                        group[k / 2] = code;
                }
            }
            st->index[ch] = index;
        }
    }
    return blocks * align;
}
} // namespace

const acm_codec codec_ima_adpcm = {
    WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", "ima-adpcm", nullptr, ima_make, ima_extra,
    ima_frames_per_block, ima_max_output, ima_open, ima_close, ima_restart, ima_encode, nullptr,
};
