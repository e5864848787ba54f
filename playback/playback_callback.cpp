// The wave-output completion routine of the preview: it runs on the sound
// device's thread and only hands each played buffer to the dialog.
#include <atomic>
#include "app/app_state.h"
#include "app/ids.h"
#include "capture/capture_control.h"

void playback_done_callback(void*, unsigned message, uintptr_t, uintptr_t header, uintptr_t)
{
    // The position record is read in samples; the timer's thread writes the
    // same field, so both store it atomically.
    std::atomic_ref<uint32_t>(app.play_position.type).store(TIME_SAMPLES, std::memory_order_relaxed);
    if (message == WOM_DONE)
        post_message(app.main_dialog, WM_COMMAND, make_wparam(CMD_PLAYBACK_DONE, 1), lparam(header));
}
