// A-law and mu-law (G.711): one byte per sample, the standard companding of
// the 16-bit sample's top 13 (A-law) or 14 (mu-law) bits, negatives taken by
// one's complement as the reference coder does.
#include <bit>
#include "platform/acm/codec.h"
#include "platform/acm/g711.h"

uint8_t linear_to_alaw(int16_t sample)
{
    // 13-bit magnitude; the sign goes to bit 7, even bits are inverted. The
    // segment is where the magnitude's top bit lies: 0 below 32, then one
    // more for every further bit (at most 4095: segment 7).
    int pcm = sample >> 3;
    uint8_t mask;
    if (pcm >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    const int width = std::bit_width(unsigned(pcm));
    const int seg = width > 5 ? width - 5 : 0;
    const uint8_t aval = uint8_t((seg << 4) | ((pcm >> (seg ? seg : 1)) & 0x0F));
    return uint8_t(aval ^ mask);
}

int16_t alaw_to_linear(uint8_t code)
{
    code ^= 0x55;
    int t = (code & 0x0F) << 4;
    int seg = (code & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else if (seg == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (seg - 1);
    return int16_t(code & 0x80 ? t : -t);
}

uint8_t linear_to_mulaw(int16_t sample)
{
    // 14-bit magnitude, negatives by one's complement so that the scale is
    // symmetric (-1 is the negative zero), plus the bias of 33.
    int magnitude = (sample < 0 ? ~sample : sample) >> 2;
    magnitude += 33;
    if (magnitude > 0x1FFF)
        magnitude = 0x1FFF;
    // The segment is one more than the bits above the lowest six.
    const int segment = 1 + std::bit_width(unsigned(magnitude >> 6));
    int high = 8 - segment;
    int low = 15 - ((magnitude >> segment) & 0x0F);
    uint8_t code = uint8_t((high << 4) | low);
    return sample >= 0 ? uint8_t(code | 0x80) : code;
}

int16_t mulaw_to_linear(uint8_t code)
{
    code = uint8_t(~code);
    int t = ((code & 0x0F) << 3) + 0x84;
    t <<= (code & 0x70) >> 4;
    return int16_t(code & 0x80 ? 0x84 - t : t - 0x84);
}

namespace {
int g711_make(uint16_t tag, format_area* out, uint32_t rate, int channels)
{
    if (!acm_rate_listed(rate) || channels < 1 || channels > 2)
        return -1;
    set_format(out, tag, channels, rate, rate * uint32_t(channels), uint16_t(channels), 8, 0);
    return 0;
}
int alaw_make(format_area* out, uint32_t rate, int channels, int) { return g711_make(WAVE_FORMAT_ALAW, out, rate, channels); }
int mulaw_make(format_area* out, uint32_t rate, int channels, int) { return g711_make(WAVE_FORMAT_MULAW, out, rate, channels); }
int g711_extra(const wave_format*) { return 0; }
uint32_t g711_frames_per_block(const wave_format*) { return 1; }
uint64_t g711_max_output(const wave_format* dst, uint64_t frames) { return frames * dst->channels; }
unsigned g711_open(acm_stream_object*) { return 0; }
void g711_close(acm_stream_object*) {}
void g711_restart(acm_stream_object*) {}

int64_t alaw_encode(acm_stream_object* s, const uint8_t* src, uint32_t frames, uint8_t* dst)
{
    uint32_t n = frames * s->dst.fmt.channels;
    for (uint32_t i = 0; i < n; ++i)
        dst[i] = linear_to_alaw(load_s16(src + 2 * i));
    return n;
}
int64_t mulaw_encode(acm_stream_object* s, const uint8_t* src, uint32_t frames, uint8_t* dst)
{
    uint32_t n = frames * s->dst.fmt.channels;
    for (uint32_t i = 0; i < n; ++i)
        dst[i] = linear_to_mulaw(load_s16(src + 2 * i));
    return n;
}
} // namespace

const acm_codec codec_alaw = {
    WAVE_FORMAT_ALAW, "A-Law", "alaw", nullptr, alaw_make, g711_extra,
    g711_frames_per_block, g711_max_output, g711_open, g711_close, g711_restart, alaw_encode, nullptr,
};
const acm_codec codec_mulaw = {
    WAVE_FORMAT_MULAW, "\xce\xbc-Law", "mulaw", nullptr, mulaw_make, g711_extra,
    g711_frames_per_block, g711_max_output, g711_open, g711_close, g711_restart, mulaw_encode, nullptr,
};
