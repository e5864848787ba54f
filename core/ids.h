// Identifiers of the main dialog's controls, the commands they send, the
// commands that device callbacks and the dialog post, and private messages.
#pragma once
#include "platform/window/window.h"

enum : int {
    // controls and their commands
    CMD_RECORD = 1,              // Record / Stop
    CMD_EXIT = 2,                // Exit (also the cancel command)
    IDC_FILE_BOX = 66,           // capture file name
    CMD_CHANGE = 67,             // Change...
    IDC_BUFFER_COUNT = 68,       // Number of Buffers box
    IDC_BUFFER_SIZE = 69,        // Record Buffer Size box
    IDC_STATUS = 70,             // status line
    IDC_PLAY_BUFFER = 71,        // Play buffer box (shown only)
    CMD_SELECT = 72,             // Select...
    IDC_FORMAT_NAME = 73,        // chosen format's description
    IDC_FORMAT_TAG = 80,         // chosen format tag's name
    CMD_MIXER = 81,
    CMD_MONITOR = 82,            // Monitor / Stop
    CMD_PLAY = 87,
    CMD_PAUSE = 88,              // Pause / Restart
    CMD_ABOUT = 89,              // ?
    CMD_SIGNAL_RECORD = 92,      // SignalRecord
    CMD_DECLICKER = 1006,        // DeClicker / Close track
    CMD_BIAS_ADJUST = 1007,
    CMD_DENOISER = 1008,         // DeNoiser / Close track
    IDC_WAVE_VIEW = 1012,
    IDC_LEVEL_DIAL = 1013,
    IDC_THRESHOLD = 1014,
    IDC_BIAS_LEFT = 1015,
    IDC_BIAS_RIGHT = 1016,
    IDC_THRESHOLD_LABEL = 1017,
    IDC_AC_FREQ_LABEL = 1018,
    IDC_AC_FREQ = 1019,
    CMD_AC_SINUS_REMOVE = 1020,
    CMD_MONO_STEREO = 1021,
    CMD_FADE_IN = 1022,
    CMD_FADE_OUT = 1023,
    CMD_FILTER_EX = 1024,
    IDC_INTRO_MAX = 1025,
};

// Private messages of the main dialog, above WM_USER so that none is taken
// for a system message.
enum : unsigned {
    MSG_SIGNAL_ARMED = WM_USER + 1,
    MSG_BIAS_READY = WM_USER + 2,
    // Posted by the preview's timer routine when an odd-numbered playback
    // buffer starts to be heard; wparam is its number (status line).
    MSG_PREVIEW_FRAME = WM_USER + 3,
    // Device and playback events: lparam is the wave header the device
    // handed back (none for MSG_PLAYBACK_REFILL).
    MSG_RECORD_BUFFER = WM_USER + 4,
    MSG_MONITOR_BUFFER = WM_USER + 5,
    MSG_TRACK_BUFFER = WM_USER + 6,
    MSG_SIGNAL_BUFFER = WM_USER + 7,
    MSG_PLAYBACK_DONE = WM_USER + 8,
    MSG_PLAYBACK_REFILL = WM_USER + 9,
    // Posted by the capture watch when the recording's device has delivered
    // nothing for twice a buffer's time (capture/capture_watch.h).
    MSG_CAPTURE_STALLED = WM_USER + 10,
};

// Caption of the program's message boxes. The box that ends the run when the
// playback buffers cannot be had has its own spelling, kept as users know it.
inline constexpr const char* APP_CAPTION = "Trackmill";
inline constexpr const char* MEMORY_ERROR_CAPTION = "Track Mill";
