// The Qt back end under the offscreen platform: clicks and typing reach the
// dialog procedure, the model's texts, states and fonts show in the
// widgets, posted messages from other threads are handled on the GUI
// thread by the modal loop, buttons take the procedure's colours and erase
// drawing, and drawing calls land on the persistent surface pixel by pixel.
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstdio>
#include <chrono>
#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>
#include "platform/system/system.h"
#include "qt_test_app.h"

namespace {

enum { ID_GO = 10, ID_BOX = 11, ID_NOTE = 12, ID_NAME = 13, ID_VIEW = 14, ID_DEF = 15, ID_AREA = 16 };

const control_template controls[] = {
    {-1, CTL_GROUPBOX, "Group", 5, 5, 120, 40},
    {ID_GO, CTL_PUSHBUTTON, "&Go", 10, 20, 40, 12},
    {ID_BOX, CTL_EDIT, "", 60, 20, 40, 12},
    {ID_NOTE, CTL_LTEXT, "Two\nlines", 130, 10, 40, 20},
    {ID_NAME, CTL_CTEXT, "None Selected", 130, 35, 60, 12},
    {ID_VIEW, CTL_WHITERECT, "", 10, 60, 100, 40},
    {ID_DEF, CTL_DEFPUSHBUTTON, "OK", 130, 60, 40, 12},
    {ID_AREA, CTL_STATIC_AREA, "", 130, 80, 40, 30},
};
const dialog_template tmpl = {"TEST", "Test dialog", "MS Sans Serif", 8, 10, 10, 200, 120,
                              controls, int(sizeof controls / sizeof controls[0])};

struct seen_message {
    unsigned message;
    wparam wp;
    bool on_gui_thread;
};
std::vector<seen_message> seen;
std::atomic<int> ctlcolor_asked{0};
std::string dropped;   // the path of the last WM_DROPFILES
bool color_buttons = false;
gdi yellow_brush = nullptr;

bool gui_thread()
{
    return QThread::currentThread() == qApp->thread();
}

msg_result test_proc(window dialog, unsigned message, wparam wp, lparam lp)
{
    switch (message) {
    case WM_COMMAND:
        seen.push_back({message, wp, gui_thread()});
        if (loword(wp) == 2)
            end_dialog(dialog, 7);
        return 0;
    case WM_DROPFILES:
        dropped = reinterpret_cast<const char*>(lp);
        return 1;
    case WM_CTLCOLORBTN:
        ++ctlcolor_asked;
        if (!color_buttons || control_id(reinterpret_cast<window>(lp)) != ID_GO)
            return 0;
        set_text_color(reinterpret_cast<dc>(wp), rgb(0, 255, 0));
        return msg_result(yellow_brush);
    default:
        if (message >= WM_USER)
            seen.push_back({message, wp, gui_thread()});
        return 0;
    }
}

window open_test_dialog()
{
    window d = window_core_create_dialog(&tmpl, nullptr, test_proc);
    test_proc(d, WM_INITDIALOG, 0, 0);
    return d;
}

QWidget* widget_of(window d, int id)
{
    return qt_control_widget(dialog_item(d, id));
}

void mouse_click(QWidget* w)
{
    QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

void type_keys(QWidget* w, const QString& text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
    }
}

QRgb surface_pixel(window d, int x, int y)
{
    return qt_surface_image(d).pixel(x, y);
}

struct QtWindow : testing::Test {
    void SetUp() override
    {
        qt_test_start();
        seen.clear();
        ctlcolor_asked = 0;
        color_buttons = false;
        if (!yellow_brush)
            yellow_brush = create_solid_brush(rgb(255, 255, 0));
    }
};

} // namespace

TEST_F(QtWindow, ControlsSitAtTheirPixelRectanglesAndOnlyButtonsAndEditsTakeClicks)
{
    window d = open_test_dialog();
    QWidget* dw = qt_dialog_widget(d);
    ASSERT_NE(dw, nullptr);
    int bx = 0, by = 0;
    window_core_backend()->base_units(&tmpl, &bx, &by);
    EXPECT_GE(bx, 5);
    EXPECT_GE(by, 11);
    EXPECT_EQ(dw->size(), QSize(200 * bx / 4, 120 * by / 8));
    EXPECT_EQ(dw->windowTitle(), "Test dialog");
    for (window c : d->children) {
        if (c->kind == CTL_ICON)
            continue;
        QWidget* w = qt_control_widget(c);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), QRect(c->client.left, c->client.top, c->client.right - c->client.left,
                                       c->client.bottom - c->client.top))
            << "control " << c->id;
    }
    // Neither the group box around the button nor the drawing overlay
    // above everything takes the button's clicks.
    QWidget* go = widget_of(d, ID_GO);
    EXPECT_EQ(dw->childAt(go->geometry().center()), go);
    QWidget* box = widget_of(d, ID_BOX);
    EXPECT_EQ(dw->childAt(box->geometry().center()), box);
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, ClicksAndTypingReachTheProcedureAndDisabledButtonsStaySilent)
{
    window d = open_test_dialog();
    mouse_click(widget_of(d, ID_GO));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(loword(seen[0].wp), unsigned(ID_GO));
    EXPECT_EQ(hiword(seen[0].wp), 0u);

    enable_item(d, ID_GO, false);
    EXPECT_FALSE(widget_of(d, ID_GO)->isEnabled());
    mouse_click(widget_of(d, ID_GO));
    EXPECT_EQ(seen.size(), 1u);
    enable_item(d, ID_GO, true);
    EXPECT_TRUE(widget_of(d, ID_GO)->isEnabled());

    type_keys(widget_of(d, ID_BOX), "46");
    char text[16];
    get_item_text(d, ID_BOX, text, sizeof text);
    EXPECT_STREQ(text, "46");

    // Enter presses the default button, Escape leaves like the close box.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(qt_dialog_widget(d), &enter);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(qt_dialog_widget(d), &escape);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(loword(seen[1].wp), unsigned(ID_DEF));
    EXPECT_EQ(loword(seen[2].wp), 2u);
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, ALocalFileDroppedOnTheDialogReachesTheProcedureOnceTheDropHasEnded)
{
    window d = open_test_dialog();
    QWidget* w = qt_dialog_widget(d);
    EXPECT_TRUE(w->acceptDrops());
    QMimeData data;
    data.setUrls({QUrl("https://example.org/a.wav"), QUrl::fromLocalFile("/tmp/side 1.wav")});
    dropped.clear();
    // The drop goes where the drag's entry was accepted.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    EXPECT_EQ(dropped, "");
    QCoreApplication::processEvents();
    EXPECT_EQ(dropped, "/tmp/side 1.wav");
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, TextsStatesAndFontsOfTheModelShow)
{
    window d = open_test_dialog();
    auto* go = static_cast<QPushButton*>(widget_of(d, ID_GO));
    auto* box = static_cast<QLineEdit*>(widget_of(d, ID_BOX));
    auto* note = static_cast<QLabel*>(widget_of(d, ID_NOTE));
    auto* name = static_cast<QLabel*>(widget_of(d, ID_NAME));
    EXPECT_EQ(go->text(), "&Go");
    EXPECT_EQ(note->text(), "Two\nlines");
    EXPECT_TRUE(name->alignment() & Qt::AlignHCenter);

    set_item_text(d, ID_GO, "Stop");
    set_item_text(d, ID_BOX, "./wavecap.wav");
    set_item_text(d, ID_NAME, "<b>PCM</b> & more");   // shown as typed, never as markup
    set_window_text(d, "Renamed");
    EXPECT_EQ(go->text(), "Stop");
    EXPECT_EQ(box->text(), "./wavecap.wav");
    EXPECT_EQ(name->text(), "<b>PCM</b> & more");
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_EQ(qt_dialog_widget(d)->windowTitle(), "Renamed");

    set_button_state(dialog_item(d, ID_GO), true);
    EXPECT_TRUE(go->isDown());
    set_button_state(dialog_item(d, ID_GO), false);
    EXPECT_FALSE(go->isDown());

    font u = create_underlined_font(get_window_font(dialog_item(d, ID_GO)));
    set_window_font(dialog_item(d, ID_GO), u, true);
    EXPECT_TRUE(go->font().underline());
    set_window_font(dialog_item(d, ID_GO), get_window_font(d), true);
    EXPECT_FALSE(go->font().underline());
    delete_font(u);

    set_focus(dialog_item(d, ID_GO));
    EXPECT_EQ(qt_dialog_widget(d)->focusWidget(), go);
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, TextsWrittenFromAnotherThreadShowOnTheGuiThread)
{
    window d = open_test_dialog();
    std::thread t([d] { set_item_text(d, ID_NOTE, "from the timer"); });
    t.join();
    auto* note = static_cast<QLabel*>(widget_of(d, ID_NOTE));
    qt_test_process();
    EXPECT_EQ(note->text(), "from the timer");
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, TheModalLoopHandlesMessagesPostedFromAnotherThreadInOrderOnTheGuiThread)
{
    static std::thread poster;
    static int received;
    received = 0;
    dialog_proc proc = [](window dialog, unsigned message, wparam wp, lparam lp) -> msg_result {
        if (message == WM_INITDIALOG) {
            poster = std::thread([dialog] {
                for (int i = 0; i < 50; ++i) {
                    post_message(dialog, WM_USER + 1, wparam(i), 0);
                    if (i % 10 == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
            return 0;
        }
        if (message == WM_USER + 1 && ++received == 50)
            end_dialog(dialog, 42);
        return test_proc(dialog, message, wp, lp);
    };
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (window d = window_core_top_dialog())
            end_dialog(d, -1);
    });
    watchdog.start(10000);
    EXPECT_EQ(dialog_box(&tmpl, nullptr, proc, 0), 42);
    poster.join();
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(seen[i].wp, wparam(i));
        EXPECT_TRUE(seen[i].on_gui_thread);
    }
}

TEST_F(QtWindow, TheCloseBoxEndsTheDialogThroughCommandTwo)
{
    QTimer::singleShot(50, [] {
        if (window d = window_core_top_dialog())
            qt_dialog_widget(d)->close();
    });
    EXPECT_EQ(dialog_box(&tmpl, nullptr, test_proc, 0), 7);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(loword(seen.back().wp), 2u);
}

TEST_F(QtWindow, ButtonsPaintInTheColoursTheProcedureReturns)
{
    window d = open_test_dialog();
    color_buttons = true;
    QWidget* go = widget_of(d, ID_GO);
    QImage plain = widget_of(d, ID_DEF)->grab().toImage();
    QImage shot = go->grab().toImage();
    EXPECT_GT(ctlcolor_asked.load(), 0);
    // The face takes the yellow brush (the style shades it a little) and
    // the caption the green text colour; the other button keeps its look.
    QColor face = shot.pixelColor(shot.width() / 2, 3);
    EXPECT_GT(face.red(), 200);
    EXPECT_GT(face.green(), 200);
    EXPECT_LT(face.blue(), 120);
    bool green_text = false;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            QColor c = shot.pixelColor(x, y);
            if (c.green() > 200 && c.red() < 100 && c.blue() < 100)
                green_text = true;
        }
    EXPECT_TRUE(green_text);
    QColor plain_face = plain.pixelColor(plain.width() / 2, 3);
    EXPECT_GT(plain_face.blue(), 180);
    window_core_destroy_dialog(d);
}

namespace {
window_proc plain_button_proc = nullptr;
int erase_seen = 0;
msg_result inverting_proc(window w, unsigned message, wparam wp, lparam lp)
{
    if (message == WM_ERASEBKGND) {
        ++erase_seen;
        rect r;
        get_client_rect(w, &r);
        invert_rect(reinterpret_cast<dc>(wp), &r);
        return 1;
    }
    return call_window_proc(plain_button_proc, w, message, wp, lp);
}
} // namespace

TEST_F(QtWindow, ASubclassedButtonDrawsOnItsOwnBackgroundWhenItPaints)
{
    window d = open_test_dialog();
    window go = dialog_item(d, ID_GO);
    QImage before = qt_control_widget(go)->grab().toImage();
    plain_button_proc = subclass_window(go, inverting_proc);
    erase_seen = 0;
    QImage after = qt_control_widget(go)->grab().toImage();
    EXPECT_GT(erase_seen, 0);
    // The corner outside the rounded face shows the inverted background,
    // and nothing of it reached the dialog's own surface.
    QColor b = before.pixelColor(0, 0), a = after.pixelColor(0, 0);
    EXPECT_EQ(b, qt_dialog_background());
    EXPECT_EQ(a, QColor(255 - b.red(), 255 - b.green(), 255 - b.blue()));
    EXPECT_EQ(qAlpha(surface_pixel(d, 0, 0)), 0);
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, AnImmediateRepaintThatMakesAButtonEraseItselfDoesNotLockUp)
{
    // A long command draws on the GUI thread; the surface repaints at once,
    // which paints the subclassed button under it, whose erase draws again.
    window d = open_test_dialog();
    qt_dialog_widget(d)->show();
    qt_test_process();
    plain_button_proc = subclass_window(dialog_item(d, ID_GO), inverting_proc);
    erase_seen = 0;
    std::atomic<bool> done{false};
    std::thread watchdog([&done] {
        for (int i = 0; i < 200 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done) {
            std::fprintf(stderr, "drawing locked up during an immediate repaint\n");
            std::_Exit(3);
        }
    });
    rect all;
    get_client_rect(d, &all);
    for (int i = 0; i < 3; ++i) {
        dc c = get_dc(d);
        fill_rect(c, &all, stock_object(WHITE_BRUSH));
        release_dc(d, c);
        std::this_thread::sleep_for(std::chrono::milliseconds(45));
    }
    done = true;
    watchdog.join();
    EXPECT_GT(erase_seen, 0);
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, DrawingCallsLandOnTheSurfacePixelByPixel)
{
    window d = open_test_dialog();
    dc c = get_dc(d);
    gdi green = create_pen(1, rgb(0, 255, 0));
    gdi old_pen = select_object(c, green);

    // fill_rect leaves out the right column and the bottom row.
    rect r = {10, 10, 20, 15};
    fill_rect(c, &r, stock_object(LTGRAY_BRUSH));
    EXPECT_EQ(surface_pixel(d, 10, 10), qRgb(192, 192, 192));
    EXPECT_EQ(surface_pixel(d, 19, 14), qRgb(192, 192, 192));
    EXPECT_EQ(qAlpha(surface_pixel(d, 20, 14)), 0);
    EXPECT_EQ(qAlpha(surface_pixel(d, 19, 15)), 0);

    // A one-pixel line stops before its end point; a polyline too.
    move_to(c, 30, 5);
    line_to(c, 40, 5);
    EXPECT_EQ(surface_pixel(d, 30, 5), qRgb(0, 255, 0));
    EXPECT_EQ(surface_pixel(d, 39, 5), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(surface_pixel(d, 40, 5)), 0);
    point pts[] = {{50, 5}, {60, 5}, {60, 15}};
    polyline(c, pts, 3);
    EXPECT_EQ(surface_pixel(d, 60, 5), qRgb(0, 255, 0));   // a corner is drawn once
    EXPECT_EQ(surface_pixel(d, 60, 14), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(surface_pixel(d, 60, 15)), 0);
    move_to(c, 70, 60);
    line_to(c, 80, 70);
    EXPECT_EQ(surface_pixel(d, 70, 60), qRgb(0, 255, 0));
    EXPECT_EQ(surface_pixel(d, 75, 65), qRgb(0, 255, 0));
    EXPECT_EQ(surface_pixel(d, 79, 69), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(surface_pixel(d, 80, 70)), 0);
    // A line that leaves the surface is clipped, not lost.
    move_to(c, -10, 50);
    line_to(c, 20, 50);
    EXPECT_EQ(surface_pixel(d, 0, 50), qRgb(0, 255, 0));
    EXPECT_EQ(surface_pixel(d, 19, 50), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(surface_pixel(d, 20, 50)), 0);

    // A wide pen draws a thick bar around its line; a zero-length line nothing.
    gdi bar = create_pen(6, rgb(255, 255, 0));
    select_object(c, bar);
    move_to(c, 70, 40);
    line_to(c, 100, 40);
    EXPECT_EQ(surface_pixel(d, 85, 38), qRgb(255, 255, 0));
    EXPECT_EQ(surface_pixel(d, 85, 42), qRgb(255, 255, 0));
    EXPECT_EQ(qAlpha(surface_pixel(d, 85, 45)), 0);
    move_to(c, 120, 40);
    line_to(c, 120, 40);
    EXPECT_EQ(qAlpha(surface_pixel(d, 120, 40)), 0);

    // A pie from nine o'clock counter-clockwise to six o'clock fills the
    // lower left quarter; the other quarters stay empty.
    gdi red = create_solid_brush(rgb(192, 0, 0));
    select_object(c, stock_object(WHITE_PEN));
    select_object(c, red);
    pie(c, 100, 60, 140, 100, 100, 80, 120, 100);
    EXPECT_EQ(surface_pixel(d, 110, 90), qRgb(192, 0, 0));
    EXPECT_EQ(qAlpha(surface_pixel(d, 130, 90)), 0);
    EXPECT_EQ(qAlpha(surface_pixel(d, 110, 70)), 0);
    EXPECT_EQ(qAlpha(surface_pixel(d, 130, 70)), 0);
    // The other way round it takes the three other quarters.
    pie(c, 150, 60, 190, 100, 170, 100, 150, 80);
    EXPECT_EQ(qAlpha(surface_pixel(d, 160, 90)), 0);
    EXPECT_EQ(surface_pixel(d, 180, 90), qRgb(192, 0, 0));
    EXPECT_EQ(surface_pixel(d, 160, 70), qRgb(192, 0, 0));

    // An ellipse: brush inside, pen on the rim, corners untouched.
    ellipse(c, 200, 60, 220, 80);
    EXPECT_EQ(surface_pixel(d, 210, 70), qRgb(192, 0, 0));
    EXPECT_EQ(surface_pixel(d, 200, 70), qRgb(255, 255, 255));
    EXPECT_EQ(qAlpha(surface_pixel(d, 200, 60)), 0);
    EXPECT_EQ(qAlpha(surface_pixel(d, 220, 70)), 0);

    // Inverting turns drawn pixels and the bare background into their opposites.
    rect inv = {10, 10, 12, 20};
    invert_rect(c, &inv);
    EXPECT_EQ(surface_pixel(d, 10, 10), qRgb(63, 63, 63));
    QColor bg = qt_dialog_background();
    EXPECT_EQ(surface_pixel(d, 10, 17), qRgb(255 - bg.red(), 255 - bg.green(), 255 - bg.blue()));

    select_object(c, old_pen);
    release_dc(d, c);
    delete_object(green);
    delete_object(bar);
    delete_object(red);
    window_core_destroy_dialog(d);
}

TEST_F(QtWindow, DrawingsFromAnotherThreadShowAboveTheControls)
{
    window d = open_test_dialog();
    QWidget* view = widget_of(d, ID_VIEW);
    QRect g = view->geometry();
    std::thread t([d, g] {
        dc c = get_dc(d);
        gdi blue = create_pen(1, rgb(0, 0, 255));
        select_object(c, blue);
        move_to(c, g.left() + 5, g.top() + 10);
        line_to(c, g.left() + 50, g.top() + 10);
        release_dc(d, c);
        delete_object(blue);
    });
    t.join();
    qt_test_process();
    QImage shot = qt_dialog_widget(d)->grab().toImage();
    EXPECT_EQ(shot.pixelColor(g.left() + 20, g.top() + 10), QColor(0, 0, 255));
    EXPECT_EQ(shot.pixelColor(g.left() + 20, g.top() + 20), QColor(255, 255, 255));
    window_core_destroy_dialog(d);

    // Drawing on a dialog that is gone is dropped quietly.
    std::thread late([d] {
        draw_call call{DRAW_LINE, d};
        call.v[2] = 10;
        qt_surface_draw(call);
    });
    late.join();
}

TEST_F(QtWindow, MessageBoxesShowTheirTextAndReturnTheAnswerClicked)
{
    QString text, caption;
    qt_test_answer_modal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return false;
        text = box->text();
        caption = box->windowTitle();
        box->button(QMessageBox::No)->click();
        return true;
    });
    EXPECT_EQ(message_box(nullptr, "Overwrite current file ?!", "Trackmill", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(text, "Overwrite current file ?!");
    EXPECT_EQ(caption, "Trackmill");

    bool topmost = false;
    qt_test_answer_modal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return false;
        topmost = box->windowFlags() & Qt::WindowStaysOnTopHint;
        box->button(QMessageBox::Ok)->click();
        return true;
    });
    EXPECT_EQ(message_box(nullptr, "No sound card installed !", "Trackmill", MB_OK | MB_TOPMOST), IDOK);
    EXPECT_TRUE(topmost);

    // In Polish the box answers in Polish, and so does the save dialog.
    set_ui_language(LANG_POLISH);
    QStringList buttons;
    QString save_title, accept;
    qt_test_answer_modal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return false;
        buttons = {box->button(QMessageBox::Yes)->text(), box->button(QMessageBox::No)->text()};
        box->button(QMessageBox::Yes)->click();
        return true;
    });
    EXPECT_EQ(message_box(nullptr, "Zastąpić bieżący plik ?!", "Trackmill", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(buttons, (QStringList{"&Tak", "&Nie"}));
    qt_test_answer_modal([&](QWidget* w) {
        auto* fd = qobject_cast<QFileDialog*>(w);
        if (!fd)
            return false;
        save_title = fd->windowTitle();
        accept = fd->labelText(QFileDialog::Accept);
        fd->reject();
        return true;
    });
    char name[256] = "./wavecap.wav";
    EXPECT_EQ(save_file_dialog(nullptr, "Pliki Wave", "*.wav", name, sizeof name, true), 0);
    EXPECT_EQ(save_title, "Zapisz jako");
    EXPECT_EQ(accept, "&Zapisz");
    set_ui_language(LANG_ENGLISH);
}

TEST_F(QtWindow, TheSaveDialogHandsBackAFullNameOrLeavesTheNameOnCancel)
{
    QTemporaryDir dir;
    QString chosen = dir.path() + "/side.wav";
    QString filter;
    qt_test_answer_modal([&](QWidget* w) {
        auto* fd = qobject_cast<QFileDialog*>(w);
        if (!fd)
            return false;
        filter = fd->nameFilters().join(";");
        qt_test_choose_file(fd, chosen);
        return true;
    });
    char name[256] = "./wavecap.wav";
    EXPECT_EQ(save_file_dialog(nullptr, "Wave Files", "*.wav", name, sizeof name, true), 1);
    EXPECT_EQ(QString::fromUtf8(name), chosen);
    EXPECT_EQ(filter, "Wave Files (*.wav)");

    qt_test_answer_modal([](QWidget* w) {
        auto* fd = qobject_cast<QFileDialog*>(w);
        if (!fd)
            return false;
        fd->reject();
        return true;
    });
    EXPECT_EQ(save_file_dialog(nullptr, "Wave Files", "*.wav", name, sizeof name, true), 0);
    EXPECT_EQ(QString::fromUtf8(name), chosen);

    // An existing file is only taken after the user agrees to replace it.
    QFile existing(chosen);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    bool asked = false;
    qt_test_answer_modal([&](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            asked = true;
            box->button(QMessageBox::Yes)->click();
            return true;
        }
        if (auto* fd = qobject_cast<QFileDialog*>(w); fd && !asked && fd->isVisible())
            qt_test_choose_file(fd, chosen);
        return false;
    });
    std::strcpy(name, "./wavecap.wav");
    EXPECT_EQ(save_file_dialog(nullptr, "Wave Files", "*.wav", name, sizeof name, true), 1);
    EXPECT_TRUE(asked);
    EXPECT_EQ(QString::fromUtf8(name), chosen);
}

TEST_F(QtWindow, ANameTooLongForTheCallerIsRefusedWithANoticeAndAskedAgain)
{
    QTemporaryDir dir;
    QString long_name = dir.path() + "/" + QString(40, 'x') + ".wav";
    int step = 0;
    QString notice;
    qt_test_answer_modal([&](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            notice = box->text();
            box->button(QMessageBox::Ok)->click();
            return false;
        }
        auto* fd = qobject_cast<QFileDialog*>(w);
        if (!fd)
            return false;
        if (step++ == 0) {
            qt_test_choose_file(fd, long_name);
            return false;
        }
        fd->reject();
        return true;
    });
    char name[24] = "old.wav";
    EXPECT_EQ(save_file_dialog(nullptr, "Wave Files", "*.wav", name, sizeof name, true), 0);
    EXPECT_STREQ(name, "old.wav");
    EXPECT_TRUE(notice.contains("too long"));
    EXPECT_EQ(step, 2);
}
