// Inside the sound service: what each back end offers the public routines.
// The public routines check handles, arguments and formats first; a back end
// sees only well-formed requests.
//
// Threads: the dialog's thread, no device lock held.
#pragma once
#include <string>
#include "platform/sound/device_core.h"

// --- the sound card through PortAudio
int pa_begin();                      // (re)starts PortAudio; 0 or -1
void pa_finish();                    // stops PortAudio if it runs
unsigned pa_input_count();
unsigned pa_output_count();
unsigned pa_input_caps(unsigned id, wave_in_caps* caps);
// Opens d (format and direction filled in) on device `id` (WAVE_MAPPER for
// the default) and sets d->engine; with `query` only checks the format.
unsigned pa_open(sound_device* d, unsigned id, bool query);

// --- the virtual sound card
// `repeat_demo`: the demo record starts again after its side.
int virtual_select(const char* source, std::string* error, bool repeat_demo);
// While set, the virtual input delivers nothing more (a test hook).
void virtual_stall_input(bool stalled);
void virtual_pace(bool fast, double speed);
bool virtual_pace_fast();
unsigned virtual_open(sound_device* d, bool query);
