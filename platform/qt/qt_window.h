// Start-up of the Qt Widgets window back end: the real program calls this
// before its first dialog; everything else goes through window.h.
//
// Threads: call once, on the thread that will run the dialogs (main).
#pragma once

// Creates the application object when a display is reachable (or
// QT_QPA_PLATFORM names a platform) and installs the Qt back end with
// window_set_backend. Returns 0, or -1 when there is no display; the caller
// then tells the user what to do. Calling it again only reinstalls the
// back end. It also turns the core's draw-call log off, which only tests read.
//
// With TRACKMILL_SCREENSHOT=FILE.png in the environment, the first dialog
// shown is saved to that file once it has painted and is then closed as if
// by its close box. With TRACKMILL_SCREENSHOT_CLICKS=ID,ID,... the dialog's
// controls of those ids are pressed first, one after the other (a format
// chooser they open takes the format it offers), and the picture is taken
// TRACKMILL_SCREENSHOT_WAIT_MS (default 800) after the last press.
int qt_window_start(int* argc, char** argv);
