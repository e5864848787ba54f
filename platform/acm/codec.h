// The codecs behind the compression manager: one record per format tag that
// says which formats it offers and how it turns 16-bit PCM into them.
//
// Threads: the dialog's thread only (through the manager).
#pragma once
#include <cstdint>
#include <cstring>
#include "platform/acm/acm.h"

// The rates every codec is offered at, where it allows them (Hz).
constexpr uint32_t acm_rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr int ACM_RATE_COUNT = 7;

struct acm_codec {
    uint16_t tag;
    const char* tag_name;      // what the chooser and control 80 show
    const char* spelling;      // command-line tag: "pcm", "gsm", ...
    const int* extras;         // EXTRA values offered (bits, kbit/s), 0-terminated; null: none
    // The standard format for rate, channels and extra, into out (zeroed by
    // the caller). -1 when the codec does not offer that combination.
    int (*make_format)(format_area* out, uint32_t rate, int channels, int extra);
    int (*extra_of)(const wave_format* f);             // EXTRA of a format, 0 when none
    // Encoder from 16-bit PCM of the same rate and channels.
    uint32_t (*frames_per_block)(const wave_format* dst);
    // Most bytes `blocks` source blocks can produce, flush included.
    uint64_t (*max_output)(const wave_format* dst, uint64_t blocks);
    // Allocates s->state; 0 or an MMSYSERR / ACMERR code.
    unsigned (*open)(acm_stream_object* s);
    void (*close)(acm_stream_object* s);
    void (*restart)(acm_stream_object* s);             // forget history (START)
    // Encodes whole blocks of interleaved little-endian int16 samples. The
    // caller guarantees max_output(blocks) bytes of room. Returns bytes made,
    // or -1 when the codec library failed.
    int64_t (*encode)(acm_stream_object* s, const uint8_t* src, uint32_t blocks, uint8_t* dst);
    // Gives out what the encoder holds back (END); null when it holds nothing.
    int64_t (*flush)(acm_stream_object* s, uint8_t* dst, uint32_t room);
};

// A header prepared on a stream, with the lengths it was prepared for.
struct acm_prepared_header {
    acm_stream_header* header;
    uint32_t src_length;
    uint32_t dst_length;
};
constexpr int ACM_PREPARED_MAX = 4;

struct acm_stream_object {
    const acm_codec* codec;
    format_area src;            // the PCM source format
    format_area dst;            // the stored format
    uint32_t frames_per_block;  // source frames per codec block
    uint32_t src_block_bytes;   // source bytes per codec block
    uint8_t* pad_block;         // one source block, for a padded last block
    // Frames of the block being encoded that come from the source; less than
    // frames_per_block only for a padded last block, whose silence an encoder
    // need not fit (only what the listener hears counts when it chooses).
    uint32_t sounding_frames;
    void* state;                // the codec's own
    bool fed;                   // something was encoded since open / START
    bool ended;                 // the last convert was flagged END: next one starts afresh
    acm_prepared_header prepared[ACM_PREPARED_MAX];
};

// The codec records, one per file.
extern const acm_codec codec_pcm;
extern const acm_codec codec_adpcm;
extern const acm_codec codec_ima_adpcm;
extern const acm_codec codec_alaw;
extern const acm_codec codec_mulaw;
extern const acm_codec codec_gsm;
extern const acm_codec codec_mp3;

const acm_codec* acm_codec_for_tag(uint16_t tag);   // null when unknown
bool acm_rate_listed(uint32_t rate);

// Little-endian helpers for format records and samples.
inline int16_t load_s16(const uint8_t* p) { return int16_t(uint16_t(p[0] | (p[1] << 8))); }
inline void store_u16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline uint16_t load_u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void store_u32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

// Fills the 18-byte record of a format area.
inline void set_format(format_area* out, uint16_t tag, int channels, uint32_t rate,
                       uint32_t avg_bytes, uint16_t block_align, uint16_t bits, uint16_t cb_size)
{
    out->fmt.format_tag = tag;
    out->fmt.channels = uint16_t(channels);
    out->fmt.samples_per_sec = rate;
    out->fmt.avg_bytes_per_sec = avg_bytes;
    out->fmt.block_align = block_align;
    out->fmt.bits_per_sample = bits;
    out->fmt.cb_size = cb_size;
}
// Block size of the two ADPCM codecs: 256 bytes per channel, doubled at 22 kHz
// and again at 44 kHz, as other programs expect for these rates.
inline uint16_t adpcm_block_align(uint32_t rate, int channels)
{
    uint32_t k = rate / 11025;
    if (k < 1)
        k = 1;
    return uint16_t(256 * channels * k);
}
