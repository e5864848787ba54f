// A 16-bit PCM WAV file read by the batch commands: opened through the RIFF
// layer, its format checked, positioned at the start of its data chunk.
#pragma once
#include <string>
#include "platform/audio_format.h"
#include "platform/file/riff.h"

struct pcm_input {
    riff_file file = nullptr;
    format_area format = {};
    uint32_t data_left = 0;   // bytes of the data chunk not read yet
    ~pcm_input()
    {
        if (file)
            riff_close(file);
    }
};

// Opens `name` as 16-bit PCM, mono or stereo, and descends into its data
// chunk (any chunk before it, a fact chunk or a list, is stepped over).
// "" when it is ready, else what is wrong with it, naming the file.
std::string open_pcm_input(const char* name, pcm_input* in);
