// The drawn displays: the wave view, the level bars and the level dial, with
// their pens, brushes, geometry and the mapping of samples to view rows.
//
// Threads: the set-up routines, draw_level_bars and draw_level_dial run on
// the dialog's thread. draw_wave_view may also run on the playback timer's
// thread; it only reads the geometry (fixed after set-up) and the points it
// is given, and draws each picture whole. The two mappings only read the
// geometry and may run anywhere.
#include "ui/displays.h"

#include <algorithm>
#include <mutex>
#include "core/app_state.h"
#include "core/ids.h"

namespace {

// Where the dialog's client area lies on the screen when the dialog stands
// at its template position. The bar offsets are measured from there, so the
// bars land in the same place over the status line wherever the window is.
constexpr int TEMPLATE_CLIENT_X = 18;
constexpr int TEMPLATE_CLIENT_Y = 36;
constexpr int BAR_SHIFT_X = 16;        // bars start 16 pixels left of the window edge...
constexpr int BAR_SHIFT_Y = 40;        // ...and 40 pixels above it, in template screen terms
constexpr int BAR_SPACING = 28;        // right bar below the left one (pixels)
constexpr int BAR_PEN_WIDTH = 6;
constexpr int BAR_SCALE_TRIM = 45;     // room kept for the figures beside a wide status line
constexpr int BAR_TRIM_ABOVE = 120;
constexpr int DIAL_RAY_START = 40;     // length whose ray points at the left corners
constexpr int HUB_RADIUS = 9;
constexpr uint8_t HUB_STEP = 0x10;     // the hub counts in the upper four bits
constexpr uint8_t HUB_GREY_BIT = 0x80;

// Keeps the fill and the line of one wave-view picture together when the
// playback timer and the dialog's thread draw at the same moment.
std::mutex wave_view_lock;

// A control's rectangle in the dialog's client pixels; zero when the
// control is missing.
rect client_rect_of(window dialog, int id)
{
    rect r = {0, 0, 0, 0};
    window control = dialog_item(dialog, id);
    if (!control)
        return r;
    get_window_rect(control, &r);
    point top_left = {r.left, r.top};
    point bottom_right = {r.right, r.bottom};
    screen_to_client(dialog, &top_left);
    screen_to_client(dialog, &bottom_right);
    return {top_left.x, top_left.y, bottom_right.x, bottom_right.y};
}

// The x of a dial ray's end for a level length: 40 points at the left
// corner, 40 + F/3 at the right one. Truncating division; the product is
// taken wide so that a wild length cannot overflow.
int32_t ray_x(int32_t left_side, int32_t length, int32_t width, int32_t full_scale)
{
    int64_t offset = int64_t(length - int64_t(DIAL_RAY_START)) * 3 * width / full_scale;
    offset = std::clamp<int64_t>(offset, INT32_MIN / 2, INT32_MAX / 2);
    return int32_t(left_side + offset);
}

uint16_t unsigned_sample(int16_t value)
{
    return uint16_t(value + 32767);
}

// Row of an unsigned sample value in the view: larger values lie lower.
// The rows start two above the view's top; the loudest negative samples,
// which would land there, are kept on the top row so that no line leaves
// the view's frame.
uint16_t view_row(uint32_t u)
{
    const int32_t top = app.wave_view_rect.top;
    int32_t y = int32_t(u / app.view_scale) + top - 2 + (app.view_height & 1);
    y = std::max(std::min(y, top + app.view_height - 1), top);
    return uint16_t(y);
}

} // namespace

void create_display_pens()
{
    app.bar_erase_pen = create_pen(BAR_PEN_WIDTH, button_face_color());
    app.bar_low_pen = create_pen(BAR_PEN_WIDTH, rgb(0, 255, 0));
    app.bar_high_pen = create_pen(BAR_PEN_WIDTH, rgb(255, 255, 0));
    app.play_wave_pen = create_pen(1, rgb(0, 0, 255));
}

void set_view_geometry(window dialog)
{
    app.dial_rect = client_rect_of(dialog, IDC_LEVEL_DIAL);
    app.wave_view_rect = client_rect_of(dialog, IDC_WAVE_VIEW);
    const rect& v = app.wave_view_rect;
    app.view_height = int16_t(v.bottom - v.top);
    app.view_width = int16_t(v.right - v.left);
    // A view without height has no scale; the mappings then give 0.
    app.view_scale = app.view_height > 0 ? uint16_t(65535 / app.view_height) : 0;
}

void create_display_brushes()
{
    app.level_mid_brush = create_solid_brush(rgb(255, 255, 0));
    app.level_low_brush = create_solid_brush(rgb(0, 192, 0));
    app.level_high_brush = create_solid_brush(rgb(192, 0, 0));
}

void set_bar_geometry(window dialog)
{
    rect status = client_rect_of(dialog, IDC_STATUS);
    int32_t width = status.right - status.left;
    app.bar_full_scale = uint16_t(width);
    if (width > BAR_TRIM_ABOVE)
        app.bar_full_scale = uint16_t(app.bar_full_scale - BAR_SCALE_TRIM);
    int32_t x = status.left + TEMPLATE_CLIENT_X;
    if (x > BAR_SHIFT_X)
        x -= BAR_SHIFT_X;
    app.bar_origin = {x, status.top + TEMPLATE_CLIENT_Y - BAR_SHIFT_Y};
}

void draw_wave_view(int16_t count, const point* points, gdi pen)
{
    int n = count != 0 && count <= app.view_width ? count : app.view_width;
    if (n < 0)
        n = app.view_width;   // a count that wrapped past 32767 means "more than the view holds"

    std::lock_guard<std::mutex> lock(wave_view_lock);
    window dialog = app.main_dialog;
    dc d = get_dc(dialog);
    if (!d)
        return;
    fill_rect(d, &app.wave_view_rect, stock_object(WHITE_BRUSH));
    gdi old_pen = select_object(d, pen ? pen : stock_object(BLACK_PEN));
    if (points && n > 1)
        polyline(d, points, n);
    select_object(d, old_pen);
    release_dc(dialog, d);
}

void draw_level_bars(int32_t left, int32_t right, int32_t old_left, int32_t old_right)
{
    if (left == old_left && right == old_right)
        return;
    window dialog = app.main_dialog;
    dc d = get_dc(dialog);
    if (!d)
        return;
    const int32_t x0 = app.bar_origin.x;
    const int32_t y0 = app.bar_origin.y;

    // Paint the previous bars over in the dialog's colour.
    select_object(d, app.bar_erase_pen);
    move_to(d, x0, y0);
    line_to(d, x0 + old_left, y0);
    move_to(d, x0, y0 + BAR_SPACING);
    line_to(d, x0 + old_right, y0 + BAR_SPACING);

    // The left channel's length colours both bars.
    select_object(d, left > app.bar_full_scale / 4 ? app.bar_high_pen : app.bar_low_pen);
    move_to(d, x0, y0);
    line_to(d, x0 + left, y0);
    move_to(d, x0, y0 + BAR_SPACING);
    line_to(d, x0 + right, y0 + BAR_SPACING);

    draw_level_dial(d, left, right);
}

void draw_level_dial(dc d, int32_t left, int32_t right)
{
    window dialog = app.main_dialog;
    if (!d)
        d = get_dc(dialog);
    if (!d)
        return;
    const rect& dial = app.dial_rect;
    const int32_t l = dial.left, t = dial.top, r = dial.right, b = dial.bottom;
    const int32_t w = r - l;
    const int32_t hh = (b - t) >> 1;
    const int32_t full = app.bar_full_scale;

    gdi wedge_brush = app.level_low_brush;
    if (left > full / 2)
        wedge_brush = app.level_high_brush;
    else if (left > full / 4)
        wedge_brush = app.level_mid_brush;

    select_object(d, stock_object(WHITE_PEN));
    fill_rect(d, &dial, stock_object(LTGRAY_BRUSH));
    select_object(d, wedge_brush);

    // Both wedges grow from nine o'clock: the right channel under the
    // bottom, the left channel over the top. A dial without a scale shows
    // its face and hub only.
    if (full != 0) {
        pie(d, l, t, r, b, l, t + hh, ray_x(l, right, w, full), b);
        pie(d, l, t, r, b, ray_x(l, left, w, full), t, l, t + hh);
    }

    select_object(d, (app.hub_counter & HUB_GREY_BIT) ? stock_object(LTGRAY_BRUSH) : app.level_high_brush);
    app.hub_counter = uint8_t(app.hub_counter + HUB_STEP);
    const int32_t half_w = w >> 1;
    ellipse(d, l + half_w - HUB_RADIUS, t + hh - HUB_RADIUS, r - half_w + HUB_RADIUS, b - hh + HUB_RADIUS);

    release_dc(dialog, d);
}

uint16_t sample_to_view_row(int16_t value)
{
    if (app.view_scale == 0)
        return 0;
    return view_row(unsigned_sample(value));
}

uint16_t level_to_view_row(const int16_t* values, int16_t n)
{
    // No values, or no scale: there is no row to give.
    if (app.view_scale == 0 || !values || n <= 0)
        return 0;
    uint32_t sum = 0;   // at most 32767 x 65535, which fits
    for (int i = 0; i < n; ++i)
        sum += unsigned_sample(values[i]);
    return view_row(sum / uint32_t(n));
}
