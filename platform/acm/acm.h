// Compression manager: format tags and formats, the chooser's list, format
// suggestion, and conversion streams from 16-bit PCM to the stored formats.
//
// Threads: the dialog's thread only. Every call is synchronous: a conversion
// is finished when acm_stream_convert returns.
#pragma once
#include <cstdint>
#include "platform/audio_format.h"

struct acm_stream_object;
using acm_stream = acm_stream_object*;
struct format_choice;

// --- format tags and formats ----------------------------------------------
// The tags the manager knows, in the order the chooser shows them.
int acm_tag_count();
uint16_t acm_tag_at(int index);                 // 0 past the end
const char* acm_tag_name(uint16_t tag);         // "IMA ADPCM"; null when unknown
// Bytes a format occupies in a format area: 18 + its extra bytes.
int acm_format_bytes(const wave_format* f);
// True when f is one of the standard formats the manager makes (every field
// and extra byte as it would build them), or any PCM of 8 or 16 bits.
bool acm_format_known(const wave_format* f);
// "44.100 kHz, 16 Bit, Stereo"; "128 kBit/s, 44.100 kHz, Stereo" for MPEG.
// Writes at most size bytes (terminator included); the length, 0 if unknown.
int acm_format_description(const wave_format* f, char* out, int size);
// Command-line spelling TAG,RATE,CHANNELS[,EXTRA]: "pcm,44100,2,16",
// "mp3,44100,2,128", "gsm,8000,1". Length written, 0 if unknown.
int acm_format_spelling(const wave_format* f, char* out, int size);
// Parses a spelling into out (zero-filled first). 0, or -1 with a one-line
// reason in why (why_size bytes, may be null).
int acm_parse_spelling(const char* text, format_area* out, char* why, int why_size);
// Bytes of 16-bit PCM source that make one block of the stored format f:
// one frame for PCM, G.711 and MPEG, the block's frames for the others.
// 0 for a format the manager does not know.
uint32_t acm_source_block_bytes(const wave_format* f);
// Every format the chooser offers, tag by tag: made from the PCM a sound
// card gives. Built on first use; lives for the run. Returns the count.
int acm_format_choices(const format_choice** out);

// --- suggestion -----------------------------------------------------------
// Without restrictions: the PCM format a stored format is made from and plays
// as (16 bits, its rate and channels); a PCM format suggests itself. Each
// restriction flag takes that field from *dst instead: a codec tag gives the
// standard format of that codec made from the PCM source. Fills dst (room for
// dst_bytes). 0, MMSYSERR_INVALPARAM / INVALFLAG, or ACMERR_NOTPOSSIBLE.
enum : uint32_t {
    ACM_FORMATSUGGESTF_NONE = 0,
    ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000,
    ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000,
    ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000,
    ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000,
};
unsigned acm_format_suggest(const wave_format* src, wave_format* dst, uint32_t dst_bytes, uint32_t flags);

// --- conversion streams ---------------------------------------------------
// One conversion header, reused for every buffer of a recording.
struct acm_stream_header {
    uint32_t struct_size;       // sizeof(acm_stream_header)
    uint32_t status;            // ACMSTREAMHEADER_STATUSF_*
    uintptr_t user;
    uint8_t* src;
    uint32_t src_length;        // bytes offered
    uint32_t src_length_used;   // bytes the last conversion took
    uintptr_t src_user;
    uint8_t* dst;
    uint32_t dst_length;        // room
    uint32_t dst_length_used;   // bytes the last conversion produced
    uintptr_t dst_user;
};
enum : uint32_t {
    ACMSTREAMHEADER_STATUSF_DONE = 0x00010000,
    ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000,
    ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000,
};
enum : uint32_t {
    ACM_STREAMSIZEF_SOURCE = 0x0,          // given source bytes, the room needed
    ACM_STREAMSIZEF_DESTINATION = 0x1,     // given room, the source bytes that fit
    ACM_STREAMCONVERTF_BLOCKALIGN = 0x04,  // whole source blocks only; the rest is left
    ACM_STREAMCONVERTF_START = 0x10,       // the first buffer of a stream: codec starts afresh
    ACM_STREAMCONVERTF_END = 0x20,         // the last buffer: the codec gives out what it holds
};

// Opens a stream from src (PCM, 16 bits) to dst (any known format of the same
// rate and channels; PCM to the same PCM copies). 0, MMSYSERR_INVALPARAM,
// MMSYSERR_INVALFLAG (flags must be 0), MMSYSERR_NOMEM or ACMERR_NOTPOSSIBLE.
unsigned acm_stream_open(acm_stream* out, const wave_format* src, const wave_format* dst, uint32_t flags);
// Room for `bytes` of source (SOURCE), or source bytes whose output fits in
// `bytes` (DESTINATION). ACMERR_NOTPOSSIBLE when not even one block fits.
unsigned acm_stream_size(acm_stream s, uint32_t bytes, uint32_t* result, uint32_t flags);
// Checks and marks a header for use with this stream (flags 0).
unsigned acm_stream_prepare_header(acm_stream s, acm_stream_header* h, uint32_t flags);
unsigned acm_stream_unprepare_header(acm_stream s, acm_stream_header* h, uint32_t flags);
// Converts h->src_length bytes of source into h->dst, setting the two _used
// counts. Without BLOCKALIGN a partial last block is padded with silence.
// ACMERR_UNPREPARED for a header not prepared on this stream.
unsigned acm_stream_convert(acm_stream s, acm_stream_header* h, uint32_t flags);
// Ends pending conversions (flags 0). A stream runs synchronously, so none
// are pending: the codec keeps its state and the next buffer continues the
// sound seamlessly.
unsigned acm_stream_reset(acm_stream s, uint32_t flags);
// Closes the stream; headers still prepared on it are forgotten (their
// memory is not touched: it may be gone already).
unsigned acm_stream_close(acm_stream s, uint32_t flags);

// --- test hooks -----------------------------------------------------------
enum acm_call {
    ACM_CALL_OPEN, ACM_CALL_SIZE, ACM_CALL_PREPARE, ACM_CALL_CONVERT,
    ACM_CALL_RESET, ACM_CALL_UNPREPARE, ACM_CALL_CLOSE, ACM_CALL_COUNT,
};
// The call of kind `call` after `skip` more successful ones fails once with
// `code` and changes nothing. acm_fail_clear() cancels every pending failure.
void acm_fail_call(acm_call call, unsigned code, int skip = 0);
void acm_fail_clear();
int acm_open_stream_count();                    // streams open now
