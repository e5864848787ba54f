// The Mixer button: starts the desktop's volume control, where the user
// picks the recording source and sets its level.
#include "ui/about.h"

namespace {

// Volume controls of the common Linux desktops, the likeliest first; each
// is looked up in PATH.
const char* const MIXER_PROGRAMS[] = {
    "pavucontrol",
    "pavucontrol-qt",
    "mate-volume-control",
};

} // namespace

void launch_mixer()
{
    // The first one installed is started and left to run on its own; with
    // none, the button does nothing, as the user sees no mixer to open.
    for (const char* program : MIXER_PROGRAMS)
        if (start_program(program) == 0)
            return;
}
