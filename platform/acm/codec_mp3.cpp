// MPEG Layer-3 (tag 0x55) through LAME at a constant 64 to 320 kbit/s, with
// the 12 extra format bytes other programs expect.
//
// LAME holds back up to about two frames of sound (its look-ahead), so the
// output of a buffer lags its input. A convert flagged END gives out what it
// holds, padded with silence to a whole frame; a stream closed without that
// drops the held part (a recording stopped by the user drops the device's
// queued buffers the same way).
#include <cstdlib>
#include <cstring>
#include <lame/lame.h>
#include "platform/acm/codec.h"

namespace {
const int mp3_rates_kbps[] = {64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320, 0};
// What a decoder sees as delay: LAME's 576 samples of look-ahead plus the
// decoder's own 529.
constexpr uint16_t MP3_CODEC_DELAY = 1105;
constexpr uint16_t MP3_DECODED_BITS = 16;
// LAME's own bound on a flush, and on what one call can hold back.
constexpr uint64_t LAME_SLACK = 7200;

bool mpeg1_rate(uint32_t rate) { return rate == 32000 || rate == 44100 || rate == 48000; }

bool bitrate_allowed(uint32_t rate, int kbps)
{
    static const int mpeg1[] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int mpeg2[] = {64, 80, 96, 112, 128, 144, 160};
    if (mpeg1_rate(rate)) {
        for (int k : mpeg1)
            if (k == kbps)
                return true;
        return false;
    }
    // Below 16 kHz LAME makes 64 kbit/s whatever it is asked: a higher rate
    // in the record would be a lie that readers act on (ffmpeg then halves
    // a stereo file's length).
    if (rate < 16000)
        return kbps == 64;
    for (int k : mpeg2)
        if (k == kbps)
            return true;
    return false;
}

int mp3_make(format_area* out, uint32_t rate, int channels, int kbps)
{
    if (!acm_rate_listed(rate) || channels < 1 || channels > 2 || !bitrate_allowed(rate, kbps))
        return -1;
    // The record names the 16-bit samples the frames decode to, not 0:
    // readers that check a fact chunk's count against the data's bits per
    // sample (data bits / frames / channels at most bits + 1) would take 0
    // to mean the count is wrong and guess the length from the bit rate.
    set_format(out, WAVE_FORMAT_MPEGLAYER3, channels, rate, uint32_t(kbps) * 125, 1, MP3_DECODED_BITS, 12);
    uint8_t* extra = out->bytes + 18;
    store_u16(extra, 1);                 // MPEG id
    store_u32(extra + 2, 0);             // padding as the standard says (to keep the rate)
    // Average frame size in bytes: 1152 samples a frame (576 below 32 kHz).
    uint32_t frame_samples = mpeg1_rate(rate) ? 1152 : 576;
    store_u16(extra + 6, uint16_t(frame_samples / 8 * 1000 * uint32_t(kbps) / rate));
    store_u16(extra + 8, 1);             // frames per block
    store_u16(extra + 10, MP3_CODEC_DELAY);
    return 0;
}

int mp3_extra(const wave_format* f) { return int(f->avg_bytes_per_sec / 125); }
uint32_t mp3_frames_per_block(const wave_format*) { return 1; }
uint64_t mp3_max_output(const wave_format*, uint64_t frames) { return frames + frames / 4 + 2 * LAME_SLACK; }

lame_global_flags* new_encoder(const wave_format* f)
{
    lame_global_flags* gf = lame_init();
    if (!gf)
        return nullptr;
    lame_set_num_channels(gf, f->channels);
    lame_set_in_samplerate(gf, int(f->samples_per_sec));
    lame_set_out_samplerate(gf, int(f->samples_per_sec));
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, mp3_extra(f));
    lame_set_mode(gf, f->channels == 1 ? MONO : JOINT_STEREO);
    lame_set_quality(gf, 5);
    // Frames go straight into a WAV data chunk: no tags, no VBR header frame.
    lame_set_bWriteVbrTag(gf, 0);
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return nullptr;
    }
    return gf;
}

struct mp3_state {
    lame_global_flags* lame;
    short scratch[2 * 1152];   // aligned copy of source that arrives at an odd address
};

lame_global_flags* encoder_of(acm_stream_object* s) { return static_cast<mp3_state*>(s->state)->lame; }

unsigned mp3_open(acm_stream_object* s)
{
    auto* st = static_cast<mp3_state*>(std::calloc(1, sizeof(mp3_state)));
    if (!st)
        return MMSYSERR_NOMEM;
    st->lame = new_encoder(&s->dst.fmt);
    if (!st->lame) {
        std::free(st);
        return ACMERR_NOTPOSSIBLE;
    }
    s->state = st;
    return 0;
}

void mp3_close(acm_stream_object* s)
{
    auto* st = static_cast<mp3_state*>(s->state);
    if (st) {
        lame_close(st->lame);
        std::free(st);
    }
    s->state = nullptr;
}

void mp3_restart(acm_stream_object* s)
{
    auto* st = static_cast<mp3_state*>(s->state);
    lame_global_flags* fresh = new_encoder(&s->dst.fmt);
    if (!fresh)
        return;     // keep the old encoder: the stream stays usable
    lame_close(st->lame);
    st->lame = fresh;
}

int lame_feed(lame_global_flags* gf, int channels, short* pcm, uint32_t frames, uint8_t* dst, int room)
{
    return channels == 2 ? lame_encode_buffer_interleaved(gf, pcm, int(frames), dst, room)
                         : lame_encode_buffer(gf, pcm, pcm, int(frames), dst, room);
}

int64_t mp3_encode(acm_stream_object* s, const uint8_t* src, uint32_t frames, uint8_t* dst)
{
    auto* st = static_cast<mp3_state*>(s->state);
    const int channels = s->dst.fmt.channels;
    int room = int(mp3_max_output(&s->dst.fmt, frames));
    // LAME reads native shorts; the manager runs little-endian. Source at an
    // odd address (a held-over tail) goes through the aligned scratch.
    if ((reinterpret_cast<uintptr_t>(src) & 1) == 0) {
        int n = lame_feed(st->lame, channels, reinterpret_cast<short*>(const_cast<uint8_t*>(src)), frames, dst, room);
        return n >= 0 ? n : -1;
    }
    int64_t made = 0;
    const uint32_t chunk = 1152;
    for (uint32_t done = 0; done < frames; done += chunk) {
        uint32_t n = frames - done < chunk ? frames - done : chunk;
        std::memcpy(st->scratch, src + size_t(done) * 2 * channels, size_t(n) * 2 * channels);
        int out = lame_feed(st->lame, channels, st->scratch, n, dst + made, int(room - made));
        if (out < 0)
            return -1;
        made += out;
    }
    return made;
}

int64_t mp3_flush(acm_stream_object* s, uint8_t* dst, uint32_t room)
{
    int n = lame_encode_flush(encoder_of(s), dst, int(room));
    return n >= 0 ? n : -1;
}
} // namespace

const acm_codec codec_mp3 = {
    WAVE_FORMAT_MPEGLAYER3, "MPEG Layer-3", "mp3", mp3_rates_kbps, mp3_make, mp3_extra,
    mp3_frames_per_block, mp3_max_output, mp3_open, mp3_close, mp3_restart, mp3_encode, mp3_flush,
};
