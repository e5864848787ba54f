// A 16-bit PCM WAV file read by the batch commands: its layout read by the
// one WAV reader, its format checked, positioned at the start of its samples.
#pragma once
#include <cstdint>
#include <string>
#include "platform/audio_format.h"

struct pcm_input {
    int fd = -1;
    format_area format = {};
    uint64_t at = 0;          // file offset of the next sample byte
    uint32_t data_left = 0;   // bytes of the data chunk, as its size says, not read yet
    uint64_t data_held = 0;   // sample bytes the file holds (fewer when it was cut off)
    ~pcm_input();
};

// Opens `name` as 16-bit PCM, mono or stereo, at the start of its samples
// (any chunk before the data, a fact chunk or a list, is stepped over).
// "" when it is ready, else what is wrong with it, naming the file.
std::string open_pcm_input(const char* name, pcm_input* in);
// Reads up to n sample bytes; the count read, short at the file's end (a
// recording cut off before its sizes were set) or on a failure.
uint32_t read_pcm_input(pcm_input* in, uint8_t* out, uint32_t n);
