// The main dialog's procedure: set-up, button colours, the subclassed
// SignalRecord button, and the dispatch of every command and device event.
//
// Threads: the dialog's thread only; devices and timers reach it by posting.
#pragma once
#include "platform/window/window.h"

// The dialog procedure of MAINDIALOG.
msg_result main_dialog_proc(window dialog, unsigned message, wparam wp, lparam lp);
// The SignalRecord button's procedure after subclassing: inverts the button
// on every background erase, hands everything else to the saved procedure.
msg_result signal_button_wnd_proc(window w, unsigned message, wparam wp, lparam lp);

// Change... after the save dialog has put the chosen name in
// capture_file_name: checks its length, derives the track names and shows
// the new name. 0, or -1 after "Filename too short" / "Filename too long";
// capture_file_name is then `earlier_name` again and the track names stay.
int accept_capture_file_name(window dialog, const char* earlier_name);
