// Drawing on the Qt back end's persistent surface (offscreen platform):
// what one wave-view redraw (white fill and a polyline across the view)
// and one meter redraw (bars, dial face, two wedges, hub) cost, the GUI
// thread blocked as it is while a cleaning pass runs.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "platform/qt/qt_widgets.h"
#include "platform/qt/qt_window.h"
#include "platform/window/headless.h"

namespace {

const control_template controls[] = {{1, CTL_WHITERECT, "", 15, 90, 276, 72}};
const dialog_template tmpl = {"BENCH", "Bench", "MS Sans Serif", 8, 10, 10, 311, 316, controls, 1};

msg_result quiet_proc(window, unsigned, wparam, lparam)
{
    return 0;
}

template <typename F>
double microseconds_each(int n, F fn)
{
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i)
        fn(i);
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / n;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (qt_window_start(&argc, argv) != 0) {
        std::fprintf(stderr, "bench_draw_qt: no Qt platform\n");
        return 1;
    }
    window d = window_core_create_dialog(&tmpl, nullptr, quiet_proc);
    qt_dialog_widget(d)->show();
    rect view = {26, 146, 503, 263};
    const int n = 3000;
    for (int shape = 0; shape < 2; ++shape) {
        std::vector<point> pts(477);
        for (int i = 0; i < 477; ++i)
            pts[i] = {26 + i, shape ? 200 + int(40 * std::sin(i / 10.0)) : 150 + (i * 37) % 100};
        double us = microseconds_each(n, [&](int) {
            dc c = get_dc(d);
            fill_rect(c, &view, stock_object(WHITE_BRUSH));
            polyline(c, pts.data(), int(pts.size()));
            release_dc(d, c);
        });
        std::printf("wave view redraw, 477 points, %s: %.1f us\n", shape ? "smooth signal" : "full-height zigzag", us);
    }
    gdi bar = create_pen(6, rgb(0, 255, 0));
    gdi wedge = create_solid_brush(rgb(0, 192, 0));
    double us = microseconds_each(n, [&](int i) {
        dc c = get_dc(d);
        select_object(c, bar);
        move_to(c, 28, 413);
        line_to(c, 28 + i % 200, 413);
        move_to(c, 28, 441);
        line_to(c, 28 + i % 150, 441);
        rect dial = {449, 310, 518, 368};
        select_object(c, stock_object(WHITE_PEN));
        fill_rect(c, &dial, stock_object(LTGRAY_BRUSH));
        select_object(c, wedge);
        pie(c, 449, 310, 518, 368, 449, 339, 470 + i % 40, 368);
        pie(c, 449, 310, 518, 368, 470 + i % 40, 310, 449, 339);
        ellipse(c, 474, 330, 493, 348);
        release_dc(d, c);
    });
    std::printf("meter redraw (two bars, dial, two wedges, hub): %.1f us\n", us);
    delete_object(bar);
    delete_object(wedge);
    window_core_destroy_dialog(d);
    return 0;
}
