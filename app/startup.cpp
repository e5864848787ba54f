// Start-up and shutdown. The instance lock is held by the process until it
// ends, however it ends, so a crashed run never blocks the next one.
#include "app/startup.h"

#include <cstdlib>
#include "core/app_state.h"
#include "core/ids.h"
#include "app/main_dialog.h"
#include "clean/track_io.h"
#include "playback/playback.h"
#include "platform/sound/sound.h"
#include "platform/system/system.h"
#include "res/dialogs.h"
#include "res/strings.h"
#include "res/ui_text.h"

namespace {
const char* const INSTANCE_LOCK_NAME = "mxlo";
constexpr int STRING_BYTES = 192;

void free_block(void* p)
{
    std::free(p);
}
} // namespace

int trackmill_startup(const char* track)
{
    // Without an input device the window still opens, on the demo record,
    // so that everything but a real recording can be tried (the dialog's
    // status line says so); only when even that fails is the run refused.
    if (wave_in_get_num_devs() == 0 && sound_use_demo_input() != 0) {
        message_box(nullptr, ui_text("No sound card installed !"), APP_CAPTION, MB_OK);
        return 1;
    }
    wave_in_caps caps;
    if (wave_in_get_dev_caps(0, &caps, sizeof caps) != 0) {
        message_box(nullptr, ui_text("Cannot determine sound card capabilities!"), APP_CAPTION, MB_OK);
        return 1;
    }
    // Only a lock held by another process stops the start; a lock that
    // cannot be made at all (no writable runtime directory) does not.
    if (instance_lock_acquire(INSTANCE_LOCK_NAME) == ERROR_ALREADY_EXISTS) {
        char text[STRING_BYTES];
        load_string(IDS_SECOND_INSTANCE, text, sizeof text);
        message_box(nullptr, text, APP_CAPTION, MB_OK);
        return 0;
    }
    intptr_t result = dialog_box(main_dialog_template(), nullptr, main_dialog_proc, lparam(track));
    release_resources();
    return int(result);
}

void release_resources()
{
    if (app.play_timer) {
        kill_play_timer();
        app.play_timer = 0;
    }
    close_preview();
    if (app.play_device) {
        wave_out_close(app.play_device);
        app.play_device = nullptr;
        app.playback_record.device = nullptr;
    }
    if (app.view_rows) {
        free_block(app.view_rows);
        app.view_rows = app.rows_cursor = nullptr;
    }
    // Both, even when only the second exists: a first Play whose first
    // allocation failed may have left the second one behind.
    free_block(app.play_buffers[0]);
    free_block(app.play_buffers[1]);
    app.play_buffers[0] = app.play_buffers[1] = nullptr;
    if (app.view_points) {
        free_block(app.view_points);
        app.view_points = nullptr;
        app.view_points_count = 0;
        app.view_picture = nullptr;   // it lay in the same block
        app.view_picture_size = app.view_picture_count = 0;
    }
    if (app.work_area) {
        free_block(app.work_area);
        app.work_area = nullptr;
        app.work_area_bytes = 0;
    }
    // The displays' pens and brushes, made when the dialog opened.
    gdi* objects[] = {&app.level_high_brush, &app.level_mid_brush, &app.level_low_brush, &app.bar_erase_pen,
                      &app.bar_low_pen,      &app.bar_high_pen,    &app.play_wave_pen};
    for (gdi* o : objects) {
        if (*o) {
            delete_object(*o);
            *o = nullptr;
        }
    }
    if (app.underlined_font) {
        delete_font(app.underlined_font);
        app.underlined_font = nullptr;
    }
}
