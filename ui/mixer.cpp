// The Mixer button: starts the desktop's volume control, where the user
// picks the recording source and sets its level.
#include "ui/about.h"

#include <string>
#include "platform/system/system.h"

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
    // The first one installed is started and left to run on its own.
    for (const char* program : MIXER_PROGRAMS)
        if (start_program(program) == 0)
            return;
    // With none, the user is told which ones the button looks for, so the
    // click does not seem lost and one of them can be installed.
    std::string names;
    for (const char* program : MIXER_PROGRAMS)
        names += std::string(names.empty() ? "" : ", ") + program;
    const bool polish = ui_language() == LANG_POLISH;
    const std::string text =
        (polish ? "Nie zainstalowano programu do regulacji głośności.\nMikser uruchamia pierwszy z: "
                : "No volume control is installed.\nMixer starts the first one installed of: ") +
        names;
    message_box(nullptr, text.c_str(), "Trackmill", MB_OK | MB_ICONINFORMATION);
}
