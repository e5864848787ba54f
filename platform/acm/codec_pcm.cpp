// PCM: 16 bits copied unchanged, 8 bits (offset binary) rounded from 16. The
// chooser lists 8-bit PCM, and the recording's chooser refuses it.
#include <cstring>
#include "platform/acm/codec.h"

namespace {
const int pcm_bits[] = {8, 16, 0};

int pcm_make(format_area* out, uint32_t rate, int channels, int bits)
{
    if ((bits != 8 && bits != 16) || channels < 1 || channels > 2 || rate < 1000 || rate > 192000)
        return -1;
    uint16_t align = uint16_t(channels * bits / 8);
    set_format(out, WAVE_FORMAT_PCM, channels, rate, rate * align, align, uint16_t(bits), 0);
    return 0;
}

int pcm_extra(const wave_format* f) { return f->bits_per_sample; }
uint32_t pcm_frames_per_block(const wave_format*) { return 1; }
uint64_t pcm_max_output(const wave_format* dst, uint64_t frames) { return frames * dst->block_align; }
unsigned pcm_open(acm_stream_object*) { return 0; }
void pcm_close(acm_stream_object*) {}
void pcm_restart(acm_stream_object*) {}

int64_t pcm_encode(acm_stream_object* s, const uint8_t* src, uint32_t frames, uint8_t* dst)
{
    uint32_t samples = frames * s->dst.fmt.channels;
    if (s->src.fmt.bits_per_sample == s->dst.fmt.bits_per_sample) {
        uint32_t n = frames * s->dst.fmt.block_align;
        std::memcpy(dst, src, n);
        return n;
    }
    // 16 to 8 bits: round to the nearest step, keep the top from wrapping.
    for (uint32_t i = 0; i < samples; ++i) {
        int v = (load_s16(src + 2 * i) + 128) >> 8;
        if (v > 127)
            v = 127;
        dst[i] = uint8_t(v + 128);
    }
    return samples;
}
} // namespace

const acm_codec codec_pcm = {
    WAVE_FORMAT_PCM, "PCM", "pcm", pcm_bits, pcm_make, pcm_extra,
    pcm_frames_per_block, pcm_max_output, pcm_open, pcm_close, pcm_restart, pcm_encode, nullptr,
};
