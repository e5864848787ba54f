// The wave format record shared by the sound, compression and file services:
// the 18-byte little-endian layout that a WAV file's "fmt " chunk stores,
// followed by cb_size extra bytes where a codec needs them.
#pragma once
#include <cstdint>
#include <cstring>

#pragma pack(push, 1)
struct wave_format {
    uint16_t format_tag;        // WAVE_FORMAT_*
    uint16_t channels;          // 1 or 2
    uint32_t samples_per_sec;   // frames per second (Hz)
    uint32_t avg_bytes_per_sec; // bytes per second of the stored stream
    uint16_t block_align;       // bytes per codec block (per frame for PCM)
    uint16_t bits_per_sample;   // bits per sample (nominal for codecs)
    uint16_t cb_size;           // extra bytes that follow this record
};
#pragma pack(pop)
static_assert(sizeof(wave_format) == 18, "wave_format must match the file layout");

// A format area: room for a format record and its extra bytes. Both of the
// capture ring's formats and the playback record's formats are such areas.
constexpr int FORMAT_AREA_BYTES = 128;
union format_area {
    wave_format fmt;
    uint8_t bytes[FORMAT_AREA_BYTES];
};

enum : uint16_t {
    WAVE_FORMAT_PCM = 1,
    WAVE_FORMAT_ADPCM = 2,
    WAVE_FORMAT_ALAW = 6,
    WAVE_FORMAT_MULAW = 7,
    WAVE_FORMAT_IMA_ADPCM = 0x11,
    WAVE_FORMAT_GSM610 = 0x31,
    WAVE_FORMAT_MPEGLAYER3 = 0x55,
};

// Result codes of the sound and compression services (0 is success).
enum : unsigned {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_NOTENABLED = 3,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_NOTSUPPORTED = 8,
    MMSYSERR_INVALFLAG = 10,
    MMSYSERR_INVALPARAM = 11,
    WAVERR_BADFORMAT = 32,
    WAVERR_STILLPLAYING = 33,
    WAVERR_UNPREPARED = 34,
    ACMERR_NOTPOSSIBLE = 512,
    ACMERR_BUSY = 513,
    ACMERR_UNPREPARED = 514,
};
