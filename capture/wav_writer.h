// The capture file: header with placeholder sizes, appended audio, the size
// patch at the end, and the save-file dialog behind Change...
#pragma once
#include <cstdint>
#include "platform/audio_format.h"
#include "platform/file/file.h"

// Writes the header with placeholder sizes and keeps the format in
// capture_file_format, which the appends and the size patch go by. 0, or -1
// when the format has no header or the file did not take the header whole.
int write_wav_header(plain_file file, const format_area* chosen_format);
// The append step: writes `n` bytes from `data` to the capture file;
// last_write_count and data_bytes_written count what it took. Once a second
// it sets the header's sizes to what the file holds by then.
void append_capture_data(const uint8_t* data, uint32_t n);
// True once an append of the capture file begun last did not go whole into
// it: the file then ends there, and nothing converted later may follow.
bool capture_append_fell_short();
// The size patch: RIFF size and data size from data_bytes and, in a file
// that is not PCM, the fact chunk's frames and the pad byte after odd data.
// Leaves the file's position where it was, so it may run mid-recording.
// 0, or -1 when the file did not take them (all are tried).
int patch_wav_sizes(plain_file file, const format_area* chosen_format, uint32_t data_bytes);
// Tells the writer the PCM bytes one conversion took in; they count towards
// the fact chunk's frames once the next append goes whole into the file.
void count_capture_source(uint32_t pcm_bytes);
// Little-endian stores into the file; false when it did not take them.
bool write_le32(uint32_t value, plain_file file);
bool write_le16(uint16_t value, plain_file file);
bool write_byte(uint8_t value, plain_file file);
int choose_capture_file();                      // 1 when a name was chosen
// The largest data size whose RIFF size still fits in 32 bits; an append
// that would pass it writes nothing (the recording then ends as on a full disk).
uint32_t max_capture_data_bytes(const format_area* chosen_format);
