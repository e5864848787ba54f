// Cleaning a track file offline: the driver that opens the track, writes the
// cleaned file beside it and runs the mode's pass (clean/pass.h) between them.
#pragma once
#include <cstdint>
#include "platform/window/window.h"

// The modes of the pass table (clean/pass.cpp); later passes take 4, 5, ...
enum clean_mode { MODE_DECLICK = 1, MODE_DENOISE = 2, MODE_FADE_IN = 3 };

int32_t process_track(window dialog, const char* name, int mode);
// Takes the work area for an output block of the cleaned file (the passes'
// scratch memory). Its size in 4-byte units less 12288 bytes, or -1.
int32_t alloc_work_area(int delay);
