// The DeNoiser: watches each channel for a rapid zigzag and, where it builds
// up over large steps, flattens the channel's three newest samples.
//
// Threads: the dialog's thread only; the pass runs inside the command.
#pragma once
#include <cstdint>
#include "clean/pass.h"

// The pass over the open track into the cleaned file; a write that fails
// leaves no result line.
extern const clean_pass denoiser_pass;

// Moves entries 0, 1 and 2 of a four-entry history one place older; entry 0
// keeps its value until the caller overwrites it.
void shift_history(int16_t* history);

// The correction of one channel: when the three newest steps are large, each
// of the three newest samples becomes its predecessor plus a quarter of its
// step, and is written back at `write` and one frame earlier each time,
// stopping at the channel's first sample in the output block (`block_start`
// is the block's first byte; `channels` samples lie between two frames).
void smooth_last_three(uint8_t* write, const uint8_t* block_start, int16_t* diffs, int16_t* samples,
                       int channels);
