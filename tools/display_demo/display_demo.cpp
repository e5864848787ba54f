// Shows the main dialog with its displays drawn from a test pattern: both
// level bars, the level dial and a stretch of waveform in the wave view.
//
// trackmill-display-demo [--polish]
// With TRACKMILL_SCREENSHOT=FILE.png the window is saved to FILE and closed
// (run it under xvfb-run); without it the window stays until closed.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>
#include "core/app_state.h"
#include "core/ids.h"
#include "platform/qt/qt_window.h"
#include "ui/displays.h"
#include "res/dialogs.h"

namespace {

// Levels of the pattern (mean absolute sample values, 0..32767).
constexpr int32_t LEFT_LEVEL = 14000;
constexpr int32_t RIGHT_LEVEL = 9000;

int32_t bar_length(int32_t level)
{
    return int32_t(app.bar_full_scale) * level / app.level_full_value + 3;
}

// A plucked tone with an overtone, rising out of silence and dying away
// across the view, as a cleaned track's left channel might look.
int16_t pattern_sample(int column, int columns)
{
    double t = double(column) / columns;
    double envelope = t < 0.08 ? t / 0.08 : std::exp(-3.0 * (t - 0.08));
    double s = 0.7 * std::sin(2 * M_PI * 9.0 * t) + 0.25 * std::sin(2 * M_PI * 31.0 * t + 1.0);
    return int16_t(std::lround(30000.0 * envelope * s));
}

void draw_pattern()
{
    int columns = app.view_width;
    std::vector<point> points(columns > 0 ? columns : 0);
    for (int i = 0; i < columns; ++i)
        points[i] = {app.wave_view_rect.left + i, int32_t(sample_to_view_row(pattern_sample(i, columns)))};
    draw_wave_view(int16_t(columns), points.data(), app.play_wave_pen);

    // Silence first, then the pattern's levels, as a monitor run would move them.
    draw_level_bars(3, 3, 0, 0);
    draw_level_bars(bar_length(LEFT_LEVEL), bar_length(RIGHT_LEVEL), 3, 3);
}

msg_result demo_proc(window dialog, unsigned message, wparam wp, lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        app.main_dialog = dialog;
        create_display_pens();
        set_view_geometry(dialog);
        create_display_brushes();
        set_bar_geometry(dialog);
        set_item_text(dialog, IDC_FILE_BOX, app.capture_file_name);
        set_item_text(dialog, IDC_STATUS, "Monitor");
        draw_pattern();
        return 0;
    case WM_COMMAND:
        if (loword(wp) == CMD_EXIT)
            end_dialog(dialog, 0);
        return 0;
    default:
        return 0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qt_window_start(&argc, argv) != 0) {
        std::fprintf(stderr, "trackmill-display-demo: no display to show the window on\n");
        return 1;
    }
    ui_lang lang = argc > 1 && std::strcmp(argv[1], "--polish") == 0 ? LANG_POLISH : LANG_ENGLISH;
    dialog_box(main_dialog_template_for(lang), nullptr, demo_proc, 0);
    return 0;
}
