// The displays under the headless window layer, which records every drawing
// call with the pen and brush it was made with: geometry taken from the
// controls, the sample-to-row mapping, the bars, the dial and the wave view.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>
#include "platform/window/headless.h"
#include "tests/support/display_dialog.h"

namespace {

// Headless pixels: 6 x 13 base units, client origin (18, 36) on the screen.
constexpr rect VIEW = {22, 146, 436, 263};   // control 1012
constexpr rect DIAL = {385, 310, 444, 368};  // control 1013
constexpr int X0 = 24, Y0 = 413;             // status line at (22, 417), width 263
constexpr int FULL = 263 - 45;

constexpr colorref GREEN_PEN = rgb(0, 255, 0), YELLOW_PEN = rgb(255, 255, 0);
constexpr colorref LOW = rgb(0, 192, 0), MID = rgb(255, 255, 0), HIGH = rgb(192, 0, 0);
constexpr colorref GREY = rgb(192, 192, 192), WHITE = rgb(255, 255, 255);

struct Displays : testing::Test {
    window dialog = nullptr;
    void SetUp() override
    {
        app_state_reset();
        headless_reset();
        dialog = headless_open_dialog(&display_test::dialog, display_test::proc, 0);
        headless_clear_draw_calls();
    }
    void TearDown() override
    {
        headless_close_dialog(dialog);
        display_test::delete_display_objects();
        window_set_backend(nullptr);
    }
};

bool same_rect(const draw_call& c, const rect& r)
{
    return c.v[0] == r.left && c.v[1] == r.top && c.v[2] == r.right && c.v[3] == r.bottom;
}

void expect_line(const draw_call& c, int x1, int y1, int x2, int y2, colorref color)
{
    EXPECT_EQ(c.op, DRAW_LINE);
    EXPECT_EQ(c.pen_width, 6);
    EXPECT_EQ(c.pen_color, color);
    EXPECT_EQ(c.v[0], x1);
    EXPECT_EQ(c.v[1], y1);
    EXPECT_EQ(c.v[2], x2);
    EXPECT_EQ(c.v[3], y2);
}

} // namespace

TEST_F(Displays, GeometryComesFromTheControlsInClientPixels)
{
    EXPECT_EQ(app.wave_view_rect.left, VIEW.left);
    EXPECT_EQ(app.wave_view_rect.top, VIEW.top);
    EXPECT_EQ(app.wave_view_rect.right, VIEW.right);
    EXPECT_EQ(app.wave_view_rect.bottom, VIEW.bottom);
    EXPECT_EQ(app.dial_rect.left, DIAL.left);
    EXPECT_EQ(app.dial_rect.top, DIAL.top);
    EXPECT_EQ(app.dial_rect.right, DIAL.right);
    EXPECT_EQ(app.dial_rect.bottom, DIAL.bottom);
    EXPECT_EQ(app.view_height, 117);
    EXPECT_EQ(app.view_width, 414);
    EXPECT_EQ(app.view_scale, 65535 / 117);
    EXPECT_EQ(app.bar_origin.x, X0);
    EXPECT_EQ(app.bar_origin.y, Y0);
    EXPECT_EQ(app.bar_full_scale, FULL);
}

TEST_F(Displays, GeometryFollowsTheDialogWhereverItsClientAreaLies)
{
    // The same dialog with its client area elsewhere on the screen: every
    // position stays the same in client pixels.
    static window_backend moved = *headless_backend();
    moved.client_origin = [](window, point* p) { *p = {500, 321}; };
    window_set_backend(&moved);
    window other = window_core_create_dialog(&display_test::dialog, nullptr, display_test::proc);
    display_test::delete_display_objects();
    display_test::proc(other, WM_INITDIALOG, 0, 0);
    EXPECT_EQ(app.wave_view_rect.left, VIEW.left);
    EXPECT_EQ(app.wave_view_rect.top, VIEW.top);
    EXPECT_EQ(app.dial_rect.right, DIAL.right);
    EXPECT_EQ(app.bar_origin.x, X0);
    EXPECT_EQ(app.bar_origin.y, Y0);
    window_core_destroy_dialog(other);
    app.main_dialog = dialog;
}

TEST_F(Displays, AStatusLineOfAtMost120PixelsKeepsItsWholeWidthAsScale)
{
    static const control_template narrow_controls[] = {
        {IDC_STATUS, CTL_LTEXT, "", 4, 200, 80, 19},   // 120 pixels, at client x 6
        {IDC_WAVE_VIEW, CTL_WHITERECT, "", 15, 90, 0, 0},
    };
    static const dialog_template narrow = {"NARROW", "", "", 8, 10, 10, 200, 250, narrow_controls, 2};
    window d = window_core_create_dialog(&narrow, nullptr, display_test::proc);
    set_bar_geometry(d);
    set_view_geometry(d);
    EXPECT_EQ(app.bar_full_scale, 120);
    EXPECT_EQ(app.bar_origin.x, 6 + 18 - 16);
    // A view without height must not divide by zero; it maps nothing.
    EXPECT_EQ(app.view_height, 0);
    EXPECT_EQ(app.view_scale, 0);
    EXPECT_EQ(sample_to_view_row(1000), 0);
    window_core_destroy_dialog(d);
}

TEST_F(Displays, SamplesMapToRowsWithTheSixteenBitWrap)
{
    struct row_case {
        int16_t top, height, value;
        uint16_t row;
    };
    // Even height 72 (scale 910): rows from top - 2.
    // Odd height 117 (scale 560): one lower.
    // Height 85 (scale 771 divides 65535): -32768 lands one row below 32767.
    // The rows above the top are kept on the top row, inside the view.
    const row_case cases[] = {
        {100, 72, -32767, 100}, {100, 72, -32000, 100}, {100, 72, -30000, 101}, {100, 72, 0, 98 + 36},
        {100, 72, 32767, 98 + 72}, {100, 72, -32768, 98 + 72},
        {146, 117, -32767, 146}, {146, 117, 0, 145 + 58}, {146, 117, 32767, 145 + 117}, {146, 117, -32768, 145 + 117},
        {10, 85, 32767, 9 + 84}, {10, 85, -32768, 9 + 85},
        {0, 72, -32767, 0},
    };
    for (const row_case& c : cases) {
        app.wave_view_rect.top = c.top;
        app.view_height = c.height;
        app.view_scale = uint16_t(65535 / c.height);
        EXPECT_EQ(sample_to_view_row(c.value), c.row) << "height " << c.height << " value " << c.value;
    }
    app.view_scale = 0;
    EXPECT_EQ(sample_to_view_row(-32767), 0);
    EXPECT_EQ(sample_to_view_row(32767), 0);
}

TEST_F(Displays, LevelRowsAverageTheWrappedValuesWithTruncation)
{
    const int16_t mixed[] = {-32767, 32767, 0};       // (0 + 65534 + 32767) / 3 = 32767
    EXPECT_EQ(level_to_view_row(mixed, 3), sample_to_view_row(0));
    const int16_t lowest[] = {-32768, -32768, -32768, -32768};
    EXPECT_EQ(level_to_view_row(lowest, 4), sample_to_view_row(-32768));
    // (0 + 1) / 2 truncates to 0: the row of -32767; the sum must not wrap at 16 bits.
    const int16_t pair[] = {-32767, -32766};
    EXPECT_EQ(level_to_view_row(pair, 2), sample_to_view_row(-32767));
    std::vector<int16_t> many(32767, 32767);
    EXPECT_EQ(level_to_view_row(many.data(), 32767), sample_to_view_row(32767));
    // Nothing to average, or no scale: no row.
    EXPECT_EQ(level_to_view_row(mixed, 0), 0);
    EXPECT_EQ(level_to_view_row(mixed, -3), 0);
    EXPECT_EQ(level_to_view_row(nullptr, 3), 0);
    app.view_scale = 0;
    EXPECT_EQ(level_to_view_row(mixed, 3), 0);
}

TEST_F(Displays, BarsEraseTheOldLengthsThenDrawTheNewOnesAndTheDial)
{
    draw_level_bars(50, 30, 10, 20);
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 8u);
    expect_line(calls[0], X0, Y0, X0 + 10, Y0, button_face_color());
    expect_line(calls[1], X0, Y0 + 28, X0 + 20, Y0 + 28, button_face_color());
    expect_line(calls[2], X0, Y0, X0 + 50, Y0, GREEN_PEN);
    expect_line(calls[3], X0, Y0 + 28, X0 + 30, Y0 + 28, GREEN_PEN);
    EXPECT_EQ(calls[4].op, DRAW_FILL_RECT);
    EXPECT_EQ(calls[5].op, DRAW_PIE);
    EXPECT_EQ(calls[6].op, DRAW_PIE);
    EXPECT_EQ(calls[7].op, DRAW_ELLIPSE);
    for (const draw_call& c : calls)
        EXPECT_EQ(c.target, dialog);
}

TEST_F(Displays, TheLeftLengthAloneColoursBothBarsAndBothWedges)
{
    struct colour_case {
        int left, right;
        colorref pen, wedge;
    };
    // FULL = 218: a quarter is 54, a half 109.
    const colour_case cases[] = {
        {3, 3, GREEN_PEN, LOW},
        {54, 200, GREEN_PEN, LOW},     // a louder right channel changes nothing
        {55, 3, YELLOW_PEN, MID},
        {109, 221, YELLOW_PEN, MID},
        {110, 3, YELLOW_PEN, HIGH},
        {221, 0, YELLOW_PEN, HIGH},
    };
    int old_left = 0, old_right = 0;
    for (const colour_case& c : cases) {
        headless_clear_draw_calls();
        draw_level_bars(c.left, c.right, old_left, old_right);
        auto calls = headless_draw_calls();
        ASSERT_EQ(calls.size(), 8u);
        EXPECT_EQ(calls[2].pen_color, c.pen) << c.left;
        EXPECT_EQ(calls[3].pen_color, c.pen) << c.left;
        EXPECT_EQ(calls[5].brush_color, c.wedge) << c.left;
        EXPECT_EQ(calls[6].brush_color, c.wedge) << c.left;
        EXPECT_EQ(calls[5].pen_color, WHITE);
        old_left = c.left;
        old_right = c.right;
    }
}

TEST_F(Displays, UnchangedLengthsDrawNothingAndLeaveTheHubAlone)
{
    app.hub_counter = 0x35;
    draw_level_bars(3, 3, 3, 3);
    draw_level_bars(0, 200, 0, 200);
    EXPECT_TRUE(headless_draw_calls().empty());
    EXPECT_EQ(app.hub_counter, 0x35);
    // One channel changing is enough to draw.
    draw_level_bars(3, 4, 3, 3);
    EXPECT_EQ(headless_draw_calls().size(), 8u);
    EXPECT_EQ(app.hub_counter, 0x45);
}

TEST_F(Displays, CaptureStopErasesTheWholeLengthAndShowsZeroLevel)
{
    draw_level_bars(0, 0, FULL, FULL);
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 8u);
    expect_line(calls[0], X0, Y0, X0 + FULL, Y0, button_face_color());
    expect_line(calls[1], X0, Y0 + 28, X0 + FULL, Y0 + 28, button_face_color());
    expect_line(calls[2], X0, Y0, X0, Y0, GREEN_PEN);
    // Length 0: (0 - 40) x 3 x 59 / 218 = -32.47, truncated toward zero.
    EXPECT_EQ(calls[5].v[6], DIAL.left - 32);
    EXPECT_EQ(calls[6].v[4], DIAL.left - 32);
}

TEST_F(Displays, DialRaysPointAtTheCornersForForty_AndFortyPlusAThirdOfTheScale)
{
    const int l = DIAL.left, t = DIAL.top, r = DIAL.right, b = DIAL.bottom;
    const int hh = (b - t) >> 1;   // 29
    struct ray_case {
        int length, x;
    };
    const ray_case cases[] = {
        {40, l},                                 // the left corners
        {40 + FULL / 3, l + 72 * 3 * 59 / 218},  // 58: one short of the right corner, as 218 is not a multiple of 3
        {3, l - 30},                             // -6549 / 218 = -30.04 truncates to -30, not -31
        {FULL + 3, l + (FULL - 37) * 3 * 59 / FULL},
    };
    for (const ray_case& c : cases) {
        headless_clear_draw_calls();
        draw_level_dial(nullptr, c.length, c.length);
        auto calls = headless_draw_calls();
        ASSERT_EQ(calls.size(), 4u);
        EXPECT_EQ(calls[0].op, DRAW_FILL_RECT);
        EXPECT_TRUE(same_rect(calls[0], DIAL));
        EXPECT_EQ(calls[0].brush_color, GREY);
        // Lower wedge (right channel): from nine o'clock to the ray through the bottom.
        const int lower[8] = {l, t, r, b, l, t + hh, c.x, b};
        // Upper wedge (left channel): from the ray through the top to nine o'clock.
        const int upper[8] = {l, t, r, b, c.x, t, l, t + hh};
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(calls[1].v[i], lower[i]) << "length " << c.length << " lower " << i;
            EXPECT_EQ(calls[2].v[i], upper[i]) << "length " << c.length << " upper " << i;
        }
    }
    // A huge length must not overflow into a ray on the wrong side.
    headless_clear_draw_calls();
    draw_level_dial(nullptr, INT32_MAX, INT32_MIN);
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_GT(calls[2].v[4], r);
    EXPECT_LT(calls[1].v[6], l);
}

TEST_F(Displays, TheHubIsACircleThatShowsRedForEightDrawingsThenGreyForEight)
{
    const int l = DIAL.left, t = DIAL.top, r = DIAL.right, b = DIAL.bottom;
    std::vector<colorref> hubs;
    for (int i = 0; i < 33; ++i) {
        headless_clear_draw_calls();
        draw_level_dial(nullptr, 3, 3);
        auto calls = headless_draw_calls();
        ASSERT_EQ(calls.size(), 4u);
        const draw_call& hub = calls[3];
        EXPECT_EQ(hub.op, DRAW_ELLIPSE);
        EXPECT_EQ(hub.v[0], l + 29 - 9);
        EXPECT_EQ(hub.v[1], t + 29 - 9);
        EXPECT_EQ(hub.v[2], r - 29 + 9);
        EXPECT_EQ(hub.v[3], b - 29 + 9);
        hubs.push_back(hub.brush_color);
    }
    for (int i = 0; i < 33; ++i)
        EXPECT_EQ(hubs[i], (i / 8) % 2 ? GREY : HIGH) << "drawing " << i;
    // The counter steps its upper four bits and keeps the lower four.
    app.hub_counter = 0xF7;
    draw_level_dial(nullptr, 3, 3);
    EXPECT_EQ(app.hub_counter, 0x07);
}

TEST_F(Displays, ADialWithoutScaleShowsFaceAndHubOnly)
{
    app.bar_full_scale = 0;
    draw_level_bars(10, 10, 0, 0);
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[4].op, DRAW_FILL_RECT);
    EXPECT_EQ(calls[5].op, DRAW_ELLIPSE);
    EXPECT_EQ(calls[2].pen_color, YELLOW_PEN);
}

TEST_F(Displays, TheWaveViewFillsWhiteThenDrawsTheGivenPointsOrTheWholeWidth)
{
    std::vector<point> pts(app.view_width + 64);
    for (size_t i = 0; i < pts.size(); ++i)
        pts[i] = {VIEW.left + int(i), VIEW.top + int(i % 50)};
    struct count_case {
        int16_t count;
        size_t drawn;
    };
    const count_case cases[] = {
        {5, 5}, {414, 414}, {0, 414}, {415, 414}, {int16_t(-3), 414},
    };
    for (const count_case& c : cases) {
        headless_clear_draw_calls();
        draw_wave_view(c.count, pts.data(), nullptr);
        auto calls = headless_draw_calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].op, DRAW_FILL_RECT);
        EXPECT_TRUE(same_rect(calls[0], VIEW));
        EXPECT_EQ(calls[0].brush_color, WHITE);
        EXPECT_EQ(calls[1].op, DRAW_POLYLINE);
        EXPECT_EQ(calls[1].pen_color, rgb(0, 0, 0));
        EXPECT_EQ(calls[1].pen_width, 1);
        ASSERT_EQ(calls[1].points.size(), c.drawn) << "count " << c.count;
        EXPECT_EQ(calls[1].points.back().x, pts[c.drawn - 1].x);
        EXPECT_EQ(calls[1].points.back().y, pts[c.drawn - 1].y);
    }
    headless_clear_draw_calls();
    draw_wave_view(10, pts.data(), app.play_wave_pen);
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].pen_color, rgb(0, 0, 255));
    EXPECT_EQ(calls[1].pen_width, 1);
}

TEST_F(Displays, DrawingsFromTheTimerThreadAndTheDialogThreadStayWhole)
{
    std::vector<point> pts(app.view_width);
    for (int i = 0; i < app.view_width; ++i)
        pts[i] = {VIEW.left + i, VIEW.top + 10};
    std::atomic<int> ready{0};
    auto draw_many = [&](gdi pen) {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        for (int i = 0; i < 1000; ++i)
            draw_wave_view(0, pts.data(), pen);
    };
    std::thread timer(draw_many, app.play_wave_pen);
    draw_many(nullptr);
    timer.join();
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 4000u);
    for (size_t i = 0; i < calls.size(); i += 2) {
        ASSERT_EQ(calls[i].op, DRAW_FILL_RECT) << i;
        ASSERT_EQ(calls[i + 1].op, DRAW_POLYLINE) << i;
    }
}

TEST_F(Displays, WithoutADialogNothingIsDrawnAndNothingBreaks)
{
    app.main_dialog = nullptr;
    uint8_t hub = app.hub_counter;
    draw_level_bars(10, 20, 0, 0);
    draw_wave_view(0, nullptr, nullptr);
    draw_level_dial(nullptr, 5, 5);
    EXPECT_TRUE(headless_draw_calls().empty());
    EXPECT_EQ(app.hub_counter, hub);
}
