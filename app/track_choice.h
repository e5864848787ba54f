// Choosing the track to clean by its file, as given on the command line or
// dropped on the window, instead of the last take recorded.
//
// Threads: the dialog's thread only.
#pragma once
#include "platform/window/window.h"

// Makes `path` the track that the cleaning buttons work on: track_name
// becomes its full name with the counter on the number in it (none when it
// has none), and the status line says so. A file that is not a 16-bit PCM
// WAV the passes can read, a name too long, or a choice while a capture
// runs or a cleaned track is open is refused with a message box, and
// nothing changes. 0, or -1 when refused.
int choose_track(window dialog, const char* path);
