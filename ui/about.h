// The About box with its link, and the mixer launch.
#pragma once
#include "platform/window/window.h"

// The "?" command: the About box, modal, with no owner; returns when OK
// closes it (Esc and the close box do not).
void show_about_box();
// The Mixer command: starts the desktop's volume control program, the
// first one installed; with none, a box names the programs looked for.
void launch_mixer();

// The About box's procedure: control 1010 becomes a link on every opening,
// shown blue on the box's background; only OK ends the box, with 0.
msg_result about_dialog_proc(window dialog, unsigned message, wparam wp, lparam lp);
// The link's procedure: a hand over it, and the installed README opened
// (a file address) when the left button is released over it; with none
// installed, a box says where the documentation is.
msg_result link_wnd_proc(window w, unsigned message, wparam wp, lparam lp);
