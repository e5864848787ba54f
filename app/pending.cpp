// Routines whose subsystems are not built yet. Each does nothing visible and
// reports failure where it has a result, so the dialog's commands that call
// them leave everything as it was. A subsystem that brings the real routine
// removes its line here in the same change.
#include <cstdlib>
#include "app/app_state.h"
#include "app/capture_modes.h"
#include "capture/capture_ring.h"
#include "capture/compression.h"
#include "capture/wav_writer.h"
#include "capture/capture_control.h"
#include "clean/process_track.h"
#include "playback/displays.h"
#include "playback/playback.h"
#include "ui/about.h"

// capture start and stop

