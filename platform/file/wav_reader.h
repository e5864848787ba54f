// The one reading of a WAV file's layout: where its format and its samples
// are and how many sample bytes can be read, the same for every reader.
//
// The rules, whoever reads:
// - the first "fmt " chunk wins; a later one is skipped like any other chunk;
// - a format chunk of 16, 18, 40 (or more) bytes is read; fewer is broken;
// - WAVE_FORMAT_EXTENSIBLE whose sub-format is PCM is read as plain PCM;
// - chunks are walked to the file's end, whatever the RIFF size says; a
//   data size past the RIFF end or the file's end reads to the file's end
//   (the sizes of a recording that was cut off);
// - a rate outside 1,000 to 384,000 Hz is refused.
// Threads: a descriptor belongs to one thread at a time.
#pragma once
#include <cstdint>
#include "platform/audio_format.h"

enum : int {
    WAV_OK = 0,
    WAV_CANNOT_OPEN = -1,       // no such file, no access (errno tells)
    WAV_NOT_REGULAR = -2,       // a FIFO, a device or a directory: never read
    WAV_NOT_WAV = -3,           // no RIFF/WAVE header
    WAV_NO_FORMAT = -4,         // no format chunk before the data chunk
    WAV_BROKEN_FORMAT = -5,     // shorter than 16 bytes, or cut off by the file's end
    WAV_NO_DATA = -6,           // no data chunk
    WAV_RATE_OUT_OF_RANGE = -7, // below 1,000 or above 384,000 Hz
    WAV_READ_FAILED = -8,       // the medium failed
};

constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
constexpr uint32_t WAV_LOWEST_RATE = 1000;
constexpr uint32_t WAV_HIGHEST_RATE = 384000;

struct wav_layout {
    format_area format;          // the first format chunk; extensible PCM as plain PCM (cb_size 0)
    uint32_t format_bytes;       // bytes of `format` that hold the stored record (16 for PCM)
    uint16_t stored_tag;         // the tag as stored (WAVE_FORMAT_EXTENSIBLE for one)
    uint32_t format_chunk_bytes; // the format chunk's size as stored
    uint32_t riff_size;          // the RIFF size as stored
    uint64_t data_size_offset;   // file offset of the data chunk's size field
    uint64_t data_offset;        // file offset of the first sample byte
    uint32_t data_size;          // the data size as stored
    uint64_t data_bytes;         // sample bytes to read: the data size, cut at the file's end
    uint64_t file_bytes;         // the file's length
};

// Opens `path` for reading without blocking (a FIFO with no writer cannot
// hang the open) and keeps it only when it is a regular file. The
// descriptor, or WAV_CANNOT_OPEN (errno set) / WAV_NOT_REGULAR. `writable`
// opens it for reading and writing.
int wav_open(const char* path, bool writable = false);
// Closes a descriptor wav_open gave.
void wav_close(int fd);
// Reads the layout of the open file. WAV_OK or one of the codes above; for
// WAV_RATE_OUT_OF_RANGE *out holds the format that was refused.
int wav_read_layout(int fd, wav_layout* out);
// Words for a code, for a message after the file's name ("not a WAV file").
const char* wav_error_text(int code);
// Whether the layout's format is 16-bit PCM, mono or stereo.
bool wav_is_pcm16(const wav_layout& l);
