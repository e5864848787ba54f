// A small dialog that carries only the three controls the displays draw
// over (status line, wave view, level dial) at the main dialog's places.
#pragma once
#include "core/app_state.h"
#include "core/ids.h"
#include "ui/displays.h"

namespace display_test {

inline const control_template controls[] = {
    {-1, CTL_GROUPBOX, "Wave View left channel", 6, 80, 296, 90},
    {IDC_WAVE_VIEW, CTL_WHITERECT, "", 15, 90, 276, 72},
    {IDC_LEVEL_DIAL, CTL_STATIC_AREA, "", 257, 191, 39, 36},
    {-1, CTL_GROUPBOX, "Status", 6, 240, 190, 45},
    {IDC_STATUS, CTL_LTEXT, "Idle", 15, 257, 175, 19},
};
inline const dialog_template dialog = {"DISPLAYTEST", "Trackmill Recorder", "MS Sans Serif", 8,
                                       10, 10, 311, 316, controls, 5};

// Sets the displays up as the main dialog does while it initialises.
inline msg_result proc(window d, unsigned message, wparam, lparam)
{
    if (message == WM_INITDIALOG) {
        app.main_dialog = d;
        create_display_pens();
        set_view_geometry(d);
        create_display_brushes();
        set_bar_geometry(d);
    }
    return 0;
}

inline void delete_display_objects()
{
    gdi* objects[] = {&app.bar_erase_pen, &app.bar_low_pen, &app.bar_high_pen, &app.play_wave_pen,
                      &app.level_low_brush, &app.level_mid_brush, &app.level_high_brush};
    for (gdi* o : objects) {
        delete_object(*o);
        *o = nullptr;
    }
}

} // namespace display_test
