// Cleaning a track file offline: the driver that opens the track, writes the
// cleaned file beside it and runs a pass between the two; the fade-in pass.
#pragma once
#include <cstdint>
#include "platform/window/window.h"

enum clean_mode { MODE_DECLICK = 1, MODE_DENOISE = 2, MODE_FADE_IN = 3 };

int32_t process_track(window dialog, const char* name, int mode);
int32_t alloc_work_area(int delay);
int fade_in_track();
