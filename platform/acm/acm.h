// Compression manager: format tags and formats, the chooser's list, format
// suggestion, and conversion streams between PCM and the stored formats.
//
// Threads: the dialog's thread only.
#pragma once
#include <cstdint>
#include "platform/audio_format.h"

struct acm_stream_object;
using acm_stream = acm_stream_object*;

// One conversion header, reused for every buffer of a recording.
struct acm_stream_header {
    uint32_t struct_size;
    uint32_t status;            // ACMSTREAMHEADER_STATUSF_*
    uintptr_t user;
    uint8_t* src;
    uint32_t src_length;
    uint32_t src_length_used;
    uintptr_t src_user;
    uint8_t* dst;
    uint32_t dst_length;
    uint32_t dst_length_used;
    uintptr_t dst_user;
};

// Suggests the format that `src` converts to or from: with a PCM-only
// restriction or none, the PCM format a stored format is made from / plays
// as. Fills dst (dst_bytes of room). 0 or an MMSYSERR / ACMERR code.
enum : uint32_t { ACM_FORMATSUGGESTF_NONE = 0 };
unsigned acm_format_suggest(const wave_format* src, wave_format* dst, uint32_t dst_bytes, uint32_t flags);
