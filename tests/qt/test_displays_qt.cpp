// The displays rendered by the Qt back end (offscreen platform): the pixels
// of the dialog's drawing surface under the bars, the dial and the wave view
// have the colours those drawings were given, over the controls they belong to.
#include <gtest/gtest.h>
#include <QColor>
#include <QImage>
#include <QWidget>
#include <vector>
#include "qt_test_app.h"
#include "tests/support/display_dialog.h"

namespace {

const QColor RED(192, 0, 0), GREEN(0, 192, 0), YELLOW(255, 255, 0), GREY(192, 192, 192);
const QColor WHITE(255, 255, 255), BLACK(0, 0, 0), BLUE(0, 0, 255), BAR_GREEN(0, 255, 0);

struct DisplaysQt : testing::Test {
    window dialog = nullptr;
    void SetUp() override
    {
        qt_test_start();
        app_state_reset();
        dialog = window_core_create_dialog(&display_test::dialog, nullptr, display_test::proc);
        display_test::proc(dialog, WM_INITDIALOG, 0, 0);
    }
    void TearDown() override
    {
        window_core_destroy_dialog(dialog);
        display_test::delete_display_objects();
    }
    QColor pixel(int x, int y) const
    {
        QImage image = qt_surface_image(dialog);
        if (!image.valid(x, y))
            return QColor(Qt::transparent);
        return QColor::fromRgba(image.pixel(x, y));
    }
};

int32_t length_of(int32_t level)
{
    return int32_t(app.bar_full_scale) * level / app.level_full_value + 3;
}

} // namespace

TEST_F(DisplaysQt, GeometryLiesOverTheControlsInTheDialogsClientArea)
{
    QWidget* view = qt_control_widget(dialog_item(dialog, IDC_WAVE_VIEW));
    QWidget* dial = qt_control_widget(dialog_item(dialog, IDC_LEVEL_DIAL));
    ASSERT_TRUE(view && dial);
    QRect v = view->geometry();
    EXPECT_EQ(app.wave_view_rect.left, v.left());
    EXPECT_EQ(app.wave_view_rect.top, v.top());
    EXPECT_EQ(app.view_width, v.width());
    EXPECT_EQ(app.view_height, v.height());
    EXPECT_EQ(app.dial_rect.left, dial->geometry().left());
    EXPECT_EQ(app.dial_rect.bottom, dial->geometry().top() + dial->geometry().height());
    EXPECT_GT(app.view_scale, 0);
}

TEST_F(DisplaysQt, BarsShowTheLeftChannelsColourAndEraseToTheDialogsColour)
{
    const int x0 = app.bar_origin.x, y0 = app.bar_origin.y;
    const int full = app.bar_full_scale;
    int left = length_of(20000), right = length_of(30000);
    draw_level_bars(left, right, 3, 3);
    EXPECT_EQ(pixel(x0 + left / 2, y0), YELLOW);
    EXPECT_EQ(pixel(x0 + right - 6, y0 + 28), YELLOW);
    EXPECT_EQ(pixel(x0 + left / 2, y0 + 2), YELLOW);      // six pixels thick
    EXPECT_EQ(pixel(x0 + left / 2, y0 + 5).alpha(), 0);   // and no thicker

    // Quieter: the tails of the louder bars are painted over in the dialog's
    // colour, and a left length of a quarter or less turns both bars green.
    draw_level_bars(full / 4, 40, left, right);
    QColor face = QColor(red_of(button_face_color()), green_of(button_face_color()), blue_of(button_face_color()));
    EXPECT_EQ(pixel(x0 + full / 8, y0), BAR_GREEN);
    EXPECT_EQ(pixel(x0 + 20, y0 + 28), BAR_GREEN);
    EXPECT_EQ(pixel(x0 + left - 8, y0), face);
    EXPECT_EQ(pixel(x0 + right - 8, y0 + 28), face);
}

TEST_F(DisplaysQt, TheDialShowsWedgesOnItsGreyFaceAndABlinkingHub)
{
    const rect& d = app.dial_rect;
    const int w = d.right - d.left, hh = (d.bottom - d.top) >> 1;
    const int cx = d.left + w / 2, cy = d.top + hh;
    const int full = app.bar_full_scale;

    // A loud left channel fills the upper half; a silent right one leaves a
    // small wedge just under nine o'clock.
    draw_level_dial(nullptr, full + 3, 3);
    EXPECT_EQ(pixel(d.left + 1, d.top + 1), GREY);          // corner outside the ellipse
    EXPECT_EQ(pixel(cx, d.top + hh / 3), RED);              // upper wedge, twelve o'clock
    EXPECT_EQ(pixel(cx, d.bottom - hh / 3), GREY);          // six o'clock: no wedge
    EXPECT_EQ(pixel(d.left + 6, cy + 3), RED);              // lower wedge near nine o'clock
    EXPECT_EQ(pixel(cx, cy), RED);                          // hub, first drawing

    // A middling left level: yellow wedges; after eight drawings the hub turns grey.
    for (int i = 0; i < 8; ++i)
        draw_level_dial(nullptr, full / 3, full / 3);
    EXPECT_EQ(pixel(cx - w / 4, d.top + hh / 2), YELLOW);
    EXPECT_EQ(pixel(cx, cy), GREY);

    // A quiet one: green.
    draw_level_dial(nullptr, full / 4, full);
    EXPECT_EQ(pixel(d.left + 6, cy - 3), GREEN);
    EXPECT_EQ(pixel(cx, d.bottom - hh / 3), GREEN);         // the loud right channel's wedge
}

TEST_F(DisplaysQt, TheWaveViewIsWhiteWithTheLineInThePensColour)
{
    const int left = app.wave_view_rect.left;
    const int row = sample_to_view_row(0);
    std::vector<point> pts(app.view_width);
    for (int i = 0; i < app.view_width; ++i)
        pts[i] = {left + i, row};
    draw_wave_view(0, pts.data(), nullptr);
    EXPECT_EQ(pixel(left + 20, row), BLACK);
    EXPECT_EQ(pixel(left + 20, row + 6), WHITE);
    EXPECT_EQ(pixel(left + 1, app.wave_view_rect.top + 1), WHITE);

    draw_wave_view(0, pts.data(), app.play_wave_pen);
    EXPECT_EQ(pixel(left + 20, row), BLUE);
    // The line runs from the sample row of -32767 to that of 32767 inside the view.
    EXPECT_GE(int(sample_to_view_row(-32767)), app.wave_view_rect.top - 2);
    EXPECT_LT(int(sample_to_view_row(32767)), app.wave_view_rect.bottom);
}
