// What the cleaning passes share inside clean/: sample access in the two I/O
// buffers, the end of the track's sample data, buffer refill and write-out.
//
// Threads: the dialog's thread only (the passes run inside the command).
#pragma once
#include <cstdint>
#include <cstring>
#include "app/app_state.h"

// Samples are little-endian 16-bit values; the I/O buffers promise no
// alignment, so they are moved with memcpy (one instruction on x86).
inline int16_t load_sample(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void store_sample(uint8_t* p, int16_t v)
{
    std::memcpy(p, &v, 2);
}

// Channels of the open track (1 or 2; process_track refuses any other).
int track_channels();
// Bytes per frame of the open track (its block alignment: 2 or 4).
int track_frame_bytes();
// Frames in the track's data chunk.
uint32_t track_frames();

// The end of the track's sample data inside the current input buffer: the
// end of the data read, or the end of the data chunk when that lies inside
// the buffer (a chunk after the data is never read as samples). Never
// before the buffer's current position.
uint8_t* input_data_end();

// Refills the input buffer with the next bytes of the track. 0 when the new
// buffer holds sample data, -1 when the refill fails or brings none.
int refill_input();

// Writes the output buffer out (the caller has written up to its current
// position) and starts the next one. 0, or -6 when the file cannot be written.
int write_output_buffer();

// The cleaned file's name for `mode`: the letter d, n or f in place of the
// fifth character of the file-name part, or in front of the part when that
// character is missing or is the last dot or after it (side.wav: dside.wav).
// 0, or -1 when the result does not fit `size` bytes.
int make_cleaned_name(const char* name, int mode, char* out, int size);
