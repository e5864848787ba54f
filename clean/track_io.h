// What the cleaning passes and the preview share: sample access in the two
// I/O buffers, the track's format, the end of its sample data, refill, write-out.
//
// Threads: the dialog's thread only (the passes run inside the command).
// track_in is the track being read and, after a run, the preview file.
#pragma once
#include <cstdint>
#include <cstring>
#include "core/app_state.h"

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

// The open track's format chunk (its first 16 bytes) as a record.
wave_format track_wave_format();
// Channels of the open track (1 or 2; process_track refuses any other).
int track_channels();
// Bytes per frame of the open track (its block alignment: 2 or 4).
int track_frame_bytes();
// Frames in the track's data chunk.
uint32_t track_frames();

// The end of the track's sample data inside the read buffer of `in` (the
// track, or the preview being played): the end of the data read, or the end
// of the data chunk when that lies inside the buffer (a chunk after the
// data is never read or played as samples). Never before `in->next`.
uint8_t* track_data_end(const riff_info* in);
// track_data_end of the track's own buffer, track_in_info.
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

// Reads the layout of track_in through the one WAV reader: its format into
// track_format, track_in_chunk on its sample data (the data size cut at the
// file's end) and the position at the first sample byte, so that the buffer
// windows lie where a chunk walk would leave them. The bytes of format record
// a file written from the track carries (the stored chunk's size for plain
// PCM, 16 for extensible PCM), or a WAV_* code (below 0).
int read_track_format();
// Shows "File not found/protected" for the open errors that mean it.
void report_open_error(unsigned code);
// Closes track_in (the track, or the preview file after a run), if open.
void close_preview();
