// The program's own main dialog run modally on the Qt back end: the
// defaults of start-up show in the widgets, Change... goes through the real
// save dialog and the file box shows the derived track name, the
// SignalRecord button paints in the procedure's colours, Exit ends the run.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include "qt_test_app.h"
#include "core/app_state.h"
#include "core/ids.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "res/dialogs.h"

namespace {

QWidget* widget(int id)
{
    window d = window_core_top_dialog();
    return d ? qt_control_widget(dialog_item(d, id)) : nullptr;
}

QString shown(int id)
{
    QWidget* w = widget(id);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    return QString();
}

void click(int id)
{
    if (auto* b = qobject_cast<QAbstractButton*>(widget(id)))
        b->click();
}

struct seen_state {
    QString file_box, status, threshold, buffers, play_buffer, file_after_change;
    bool play_enabled = true, pause_enabled = true;
    QImage signal_button;
};

} // namespace

TEST(QtMainRun, DefaultsShowChangeUsesTheSaveDialogAndExitEndsTheRun)
{
    qt_test_start();
    app_state_reset();
    set_ui_language(LANG_ENGLISH);
    QTemporaryDir dir;
    QString chosen = dir.path() + "/side.wav";

    seen_state s;
    QTimer::singleShot(30, [&] {
        s.file_box = shown(IDC_FILE_BOX);
        s.status = shown(IDC_STATUS);
        s.threshold = shown(IDC_THRESHOLD);
        s.buffers = shown(IDC_BUFFER_COUNT);
        s.play_buffer = shown(IDC_PLAY_BUFFER);
        s.play_enabled = widget(CMD_PLAY)->isEnabled();
        s.pause_enabled = widget(CMD_PAUSE)->isEnabled();
        s.signal_button = widget(CMD_SIGNAL_RECORD)->grab().toImage();
        qt_test_answer_modal([&](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (!fd)
                return false;
            qt_test_choose_file(fd, chosen);
            return true;
        });
        click(CMD_CHANGE);
        s.file_after_change = shown(IDC_FILE_BOX);
        click(CMD_EXIT);
    });
    QTimer::singleShot(10000, [] {   // never hang the suite
        if (window d = window_core_top_dialog())
            end_dialog(d, -1);
    });
    EXPECT_EQ(dialog_box(main_dialog_template(), nullptr, main_dialog_proc, 0), 0);
    release_resources();

    EXPECT_EQ(s.file_box, "./wavecap.wav");
    EXPECT_EQ(s.status, "Idle");
    EXPECT_EQ(s.threshold, "11");
    EXPECT_EQ(s.buffers, "5");
    EXPECT_EQ(s.play_buffer, "1048576");
    EXPECT_FALSE(s.play_enabled);
    EXPECT_FALSE(s.pause_enabled);
    EXPECT_EQ(s.file_after_change, dir.path() + "/side0.wav");

    // Before any signal buffer the button shows white on magenta over its
    // yellow face.
    ASSERT_FALSE(s.signal_button.isNull());
    bool magenta = false, yellow = false;
    for (int y = 0; y < s.signal_button.height(); ++y)
        for (int x = 0; x < s.signal_button.width(); ++x) {
            QColor c = s.signal_button.pixelColor(x, y);
            magenta |= c == QColor(255, 0, 255);
            yellow |= c.red() > 200 && c.green() > 200 && c.blue() < 100;
        }
    EXPECT_TRUE(magenta);
    EXPECT_TRUE(yellow);
}

TEST(QtMainRun, AnInterruptLeavesByTheExitPath)
{
    qt_test_start();
    app_state_reset();
    set_ui_language(LANG_ENGLISH);
    QTimer::singleShot(30, [] { raise(SIGTERM); });
    QTimer::singleShot(10000, [] {   // never hang the suite
        if (window d = window_core_top_dialog())
            end_dialog(d, -1);
    });
    EXPECT_EQ(dialog_box(main_dialog_template(), nullptr, main_dialog_proc, 0), 0);
    release_resources();
}
