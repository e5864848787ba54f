// Cleaning a track file offline: the driver that opens the track, writes the
// cleaned file beside it and runs a pass between the two; the fade-in pass.
#pragma once
#include <cstdint>
#include "platform/window/window.h"

enum clean_mode {
    MODE_DECLICK = 1,       // "d"
    MODE_DENOISE = 2,       // "n"
    MODE_FADE_IN = 3,       // "f"
    MODE_DEHUM = 4,         // "a": AC Sinus Remove
    MODE_MONO_STEREO = 5,   // "m"
    MODE_FADE_OUT = 6,      // "o"
    MODE_FILTER_EX = 7,     // "x"
};
constexpr int MODE_LAST = MODE_FILTER_EX;

// The letter of a mode's cleaned file ("d", "n", "f", "a", "m", "o", "x").
char mode_letter(int mode);

int32_t process_track(window dialog, const char* name, int mode);
int read_track_format();
void report_open_error(unsigned code);
int reopen_cleaned_track(const char* name);
int32_t alloc_work_area(int delay);
int fade_in_track();
