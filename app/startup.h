// The program's start-up and shutdown: the device checks, the single
// instance lock, the main dialog run modally, and the release of what the
// run left open.
//
// Threads: the user-interface thread only.
#pragma once

// The whole run on the window back end installed now (Qt, or headless in
// tests and the batch tool). Without an input device the demo record stands
// in for it. `track` (may be null) is the track file the dialog opens on,
// to be cleaned. Returns the process exit code: 1 without a usable input
// device, 0 when another instance runs, else the dialog's result.
int trackmill_startup(const char* track = nullptr);
// Releases, in order, whatever the run left open: the playback timer, the
// preview file, the output device, the playback memory, the view's points,
// the cleaning work area, the displays' brushes and pens, the underlined
// font. Safe to call twice, and after a dialog that never ended.
void release_resources();
