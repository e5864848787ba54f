// The tagged files trackmill-batch export makes from one track: FLAC with
// Vorbis comments, MP3 with an ID3v2 tag.
#pragma once
#include <cstdint>
#include <string>
#include "tools/batch/pcm_input.h"

// What every exported file is tagged with; empty fields are left out.
struct export_tags {
    std::string artist, album, year, title;
    int number = 0;   // the track's place on the record, from 1
};

// What a writer reports: "" when the file is whole, else why it is not.
struct export_result {
    std::string failure;
    uint64_t frames = 0;   // frames taken from the track
    bool input_cut_short = false;   // the track ends before its data chunk does
};

// Encodes the rest of `in` into the file `out_name`, which exists and is
// empty (the caller created it); the caller removes it after a failure.
export_result write_flac_file(pcm_input* in, const char* out_name, const export_tags& tags);
export_result write_mp3_file(pcm_input* in, const char* out_name, const export_tags& tags);

// True when text is well-formed UTF-8, as tags must be.
bool valid_utf8(const std::string& text);
