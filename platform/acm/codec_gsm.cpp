// GSM 6.10 (tag 0x31) through libgsm, in the layout WAV files use: two
// 160-sample frames packed into one 65-byte block of 320 samples. Mono only.
#include <cstdlib>
#include <gsm.h>
#include "platform/acm/codec.h"

namespace {
constexpr uint32_t GSM_BLOCK_SAMPLES = 320;
constexpr uint16_t GSM_BLOCK_BYTES = 65;

struct gsm_codec_state {
    gsm handle;
    gsm_signal samples[GSM_BLOCK_SAMPLES];
};

int gsm_make(format_area* out, uint32_t rate, int channels, int)
{
    if (!acm_rate_listed(rate) || channels != 1)
        return -1;
    set_format(out, WAVE_FORMAT_GSM610, 1, rate, rate * GSM_BLOCK_BYTES / GSM_BLOCK_SAMPLES, GSM_BLOCK_BYTES, 0, 2);
    store_u16(out->bytes + 18, GSM_BLOCK_SAMPLES);
    return 0;
}

int gsm_extra(const wave_format*) { return 0; }
uint32_t gsm_frames_per_block(const wave_format*) { return GSM_BLOCK_SAMPLES; }
uint64_t gsm_max_output(const wave_format*, uint64_t blocks) { return blocks * GSM_BLOCK_BYTES; }

gsm new_handle()
{
    gsm g = gsm_create();
    if (g) {
        int one = 1;
        gsm_option(g, GSM_OPT_WAV49, &one);
    }
    return g;
}

unsigned gsm_open(acm_stream_object* s)
{
    auto* st = static_cast<gsm_codec_state*>(std::calloc(1, sizeof(gsm_codec_state)));
    if (!st)
        return MMSYSERR_NOMEM;
    st->handle = new_handle();
    if (!st->handle) {
        std::free(st);
        return MMSYSERR_NOMEM;
    }
    s->state = st;
    return 0;
}

void gsm_close(acm_stream_object* s)
{
    auto* st = static_cast<gsm_codec_state*>(s->state);
    if (st) {
        gsm_destroy(st->handle);
        std::free(st);
    }
    s->state = nullptr;
}

void gsm_restart(acm_stream_object* s)
{
    auto* st = static_cast<gsm_codec_state*>(s->state);
    gsm fresh = new_handle();
    if (fresh) {   // without memory the old history stays: still a valid stream
        gsm_destroy(st->handle);
        st->handle = fresh;
    }
}

int64_t gsm_encode_blocks(acm_stream_object* s, const uint8_t* src, uint32_t blocks, uint8_t* dst)
{
    auto* st = static_cast<gsm_codec_state*>(s->state);
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint8_t* in = src + size_t(b) * GSM_BLOCK_SAMPLES * 2;
        for (uint32_t i = 0; i < GSM_BLOCK_SAMPLES; ++i)
            st->samples[i] = load_s16(in + 2 * i);
        uint8_t* out = dst + size_t(b) * GSM_BLOCK_BYTES;
        // The first frame fills 32.5 bytes, the second the other 32.5.
        gsm_encode(st->handle, st->samples, out);
        gsm_encode(st->handle, st->samples + 160, out + 32);
    }
    return blocks * GSM_BLOCK_BYTES;
}
} // namespace

const acm_codec codec_gsm = {
    WAVE_FORMAT_GSM610, "GSM 6.10", "gsm", nullptr, gsm_make, gsm_extra,
    gsm_frames_per_block, gsm_max_output, gsm_open, gsm_close, gsm_restart, gsm_encode_blocks, nullptr,
};
