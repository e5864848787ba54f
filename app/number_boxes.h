// Reading the main dialog's number boxes into their settings at the moment
// of use: a wide unsigned number, then the box's limits or its fallback.
#pragma once
#include <cstdint>
#include "platform/window/window.h"

// The number in a box's text: decimal digits only, blanks around them
// allowed. 1 with the value in *value (saturated at the largest 64-bit
// value), 0 when the text is empty or holds anything else (a sign included).
int parse_box_number(const char* text, uint64_t* value);

// Each reads its box, stores the result in its AppState field and returns it.
int16_t read_threshold_box(window dialog);      // 1014 -> filter_threshold: 1..45, else 11
int16_t read_ac_freq_box(window dialog);        // 1019 -> ac_sinus_freq: 0..2048, else 50
int32_t read_intro_max_box(window dialog);      // 1025 -> intro_max_seconds: 0..55, else 9
uint32_t read_buffer_size_box(window dialog);   // 69 -> record_buffer_bytes: as typed, else 65536
int32_t read_buffer_count_box(window dialog);   // 68 -> num_buffers: as typed, else 5
