// The real main dialog templates in the Qt back end, in both languages:
// every push button takes a mouse click at its centre (no group box, label
// or drawing overlay in the way) and sends its own command id, and every
// caption fits inside its control with the font that stands in for the
// templates' font.
#include <gtest/gtest.h>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <vector>
#include "qt_test_app.h"
#include "res/dialogs.h"

namespace {

std::vector<unsigned> commands;

msg_result recording_proc(window, unsigned message, wparam wp, lparam)
{
    if (message == WM_COMMAND)
        commands.push_back(loword(wp));
    return 0;
}

void click_at(QWidget* dialog, QPoint at)
{
    QWidget* target = dialog->childAt(at);
    ASSERT_NE(target, nullptr);
    QPointF local = target->mapFrom(dialog, at);
    QMouseEvent press(QEvent::MouseButtonPress, local, target->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

struct QtMainDialog : testing::TestWithParam<ui_lang> {
    window dialog = nullptr;
    void SetUp() override
    {
        qt_test_start();
        commands.clear();
        dialog = window_core_create_dialog(main_dialog_template_for(GetParam()), nullptr, recording_proc);
    }
    void TearDown() override { window_core_destroy_dialog(dialog); }
};

} // namespace

TEST_P(QtMainDialog, EveryButtonSendsItsOwnCommandWhenClicked)
{
    QWidget* dw = qt_dialog_widget(dialog);
    int buttons = 0;
    for (window c : dialog->children) {
        if (c->kind != CTL_PUSHBUTTON && c->kind != CTL_DEFPUSHBUTTON)
            continue;
        ++buttons;
        commands.clear();
        click_at(dw, qt_control_widget(c)->geometry().center());
        ASSERT_EQ(commands.size(), 1u) << c->text;
        EXPECT_EQ(commands[0], unsigned(c->id)) << c->text;
    }
    EXPECT_EQ(buttons, 18);
}

TEST_P(QtMainDialog, CaptionsFitTheirControls)
{
    for (window c : dialog->children) {
        QWidget* w = qt_control_widget(c);
        QFontMetrics m(w->font());
        QString text = QString::fromStdString(c->text);
        switch (c->kind) {
        case CTL_PUSHBUTTON:
        case CTL_DEFPUSHBUTTON: {
            QRect need = m.boundingRect(QRect(0, 0, 10000, 10000), Qt::TextShowMnemonic, text);
            EXPECT_LE(need.width(), w->width() - 4) << c->text;
            EXPECT_LE(m.height(), w->height() - 2) << c->text;
            break;
        }
        case CTL_LTEXT:
        case CTL_CTEXT: {
            // Labels wrap only where the caption breaks its lines.
            QRect need = m.boundingRect(QRect(0, 0, 10000, 10000), 0, text);
            EXPECT_LE(need.width(), w->width()) << c->text;
            EXPECT_LE(need.height(), w->height() + 2) << c->text;
            break;
        }
        case CTL_GROUPBOX:
            EXPECT_LE(m.horizontalAdvance(text) + 8, w->width()) << c->text;
            break;
        case CTL_EDIT:
            EXPECT_GE(w->height(), m.height() + 4) << c->id;
            break;
        default:
            break;
        }
    }
}

TEST_P(QtMainDialog, TheWindowHasTheTemplatesSizeInPixels)
{
    const dialog_template* t = main_dialog_template_for(GetParam());
    int bx = 0, by = 0;
    window_core_backend()->base_units(t, &bx, &by);
    QWidget* dw = qt_dialog_widget(dialog);
    EXPECT_EQ(dw->width(), t->cx * bx / 4);
    EXPECT_EQ(dw->height(), t->cy * by / 8);
    EXPECT_LE(dw->width(), 1024 - 40);   // fits the smallest screen we expect
    EXPECT_LE(dw->height(), 768 - 60);
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, QtMainDialog, testing::Values(LANG_ENGLISH, LANG_POLISH),
                         [](const testing::TestParamInfo<ui_lang>& info) {
                             return std::string(info.param == LANG_POLISH ? "Polish" : "English");
                         });
