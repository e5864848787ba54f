// The About box on the Qt back end: the link is painted blue and
// underlined on the box's own background, shows a pointing hand, opens its
// address when the left button is released over it (not on the press, not
// when the release is carried off it), Esc and the close box leave the box
// open and OK closes it; through the main dialog's "?" and Mixer buttons.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <string>
#include <vector>
#include "qt_test_app.h"
#include "core/app_state.h"
#include "core/ids.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "res/about_dialog.h"
#include "res/dialogs.h"
#include "ui/about.h"

namespace {

const char* const LINK_ADDRESS = "https://trackmill.example.org/";

// The Qt back end with the desktop's shell replaced by a record: no
// browser opens and no program starts while the tests run.
std::vector<std::string> urls;
std::vector<std::string> programs;
window_backend recording_backend;

int record_url(const char* url)
{
    urls.push_back(url);
    return 0;
}

int record_program(const char* path)
{
    programs.push_back(path);
    return -1;   // nothing installed
}

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton)
{
    Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons(Qt::NoButton);
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QPointF centre(QWidget* w)
{
    return QPointF(w->width() / 2.0, w->height() / 2.0);
}

// What the user sees and gets from the link of an open box.
struct link_check {
    bool underlined = false;
    bool takes_mouse = false;
    bool blue_text = false;
    bool box_background = false;   // no fill of its own behind the text
    bool hand = false;
    bool credits_pass_mouse = false;
    size_t urls_after_press = 0;
    size_t urls_after_release = 0;
    size_t urls_after_carried_off = 0;
    size_t urls_after_right_click = 0;
};

link_check check_link(window box)
{
    link_check c;
    QWidget* link = qt_control_widget(dialog_item(box, IDC_ABOUT_LINK));
    QWidget* dw = qt_dialog_widget(box);
    if (!link || !dw)
        return c;
    c.underlined = link->font().underline();
    c.takes_mouse = !link->testAttribute(Qt::WA_TransparentForMouseEvents);
    c.credits_pass_mouse = qt_control_widget(dialog_item(box, IDC_ABOUT_CREDITS))->testAttribute(Qt::WA_TransparentForMouseEvents);

    QImage shot = dw->grab().toImage();
    QRect area = link->geometry();
    QColor face = qt_dialog_background();
    c.box_background = shot.pixelColor(area.right() - 1, area.bottom() - 1) == face;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            QColor p = shot.pixelColor(x, y);
            c.blue_text |= p.blue() > 200 && p.red() < 60 && p.green() < 60;
        }

    mouse(link, QEvent::MouseMove, centre(link));
    c.hand = link->cursor().shape() == Qt::PointingHandCursor;

    size_t before = urls.size();
    mouse(link, QEvent::MouseButtonPress, centre(link));
    c.urls_after_press = urls.size() - before;
    mouse(link, QEvent::MouseButtonRelease, centre(link));
    c.urls_after_release = urls.size() - before;

    before = urls.size();
    mouse(link, QEvent::MouseButtonPress, centre(link));
    mouse(link, QEvent::MouseButtonRelease, QPointF(link->width() + 20, link->height() + 20));
    c.urls_after_carried_off = urls.size() - before;

    before = urls.size();
    mouse(link, QEvent::MouseButtonPress, centre(link), Qt::RightButton);
    mouse(link, QEvent::MouseButtonRelease, centre(link), Qt::RightButton);
    c.urls_after_right_click = urls.size() - before;
    return c;
}

void expect_working(const link_check& c)
{
    EXPECT_TRUE(c.underlined);
    EXPECT_TRUE(c.takes_mouse);
    EXPECT_TRUE(c.blue_text);
    EXPECT_TRUE(c.box_background);
    EXPECT_TRUE(c.hand);
    EXPECT_TRUE(c.credits_pass_mouse);
    EXPECT_EQ(c.urls_after_press, 0u);
    EXPECT_EQ(c.urls_after_release, 1u);
    EXPECT_EQ(c.urls_after_carried_off, 0u);
    EXPECT_EQ(c.urls_after_right_click, 0u);
}

struct QtAbout : testing::Test {
    void SetUp() override
    {
        qt_test_start();
        app_state_reset();
        set_ui_language(LANG_ENGLISH);
        urls.clear();
        programs.clear();
        recording_backend = *window_core_backend();
        recording_backend.open_url = record_url;
        recording_backend.start_program = record_program;
        window_set_backend(&recording_backend);
    }
    void TearDown() override
    {
        qt_test_start();   // the plain Qt back end again
        set_ui_language(LANG_ENGLISH);
    }
};

} // namespace

TEST_F(QtAbout, TheLinkLooksAndWorksAlikeOnEveryOpeningAndOnlyOkCloses)
{
    for (int opening = 0; opening < 3; ++opening) {
        SCOPED_TRACE(opening);
        window box = window_core_create_dialog(about_dialog_template(), nullptr, about_dialog_proc);
        about_dialog_proc(box, WM_INITDIALOG, 0, 0);
        QWidget* dw = qt_dialog_widget(box);
        ASSERT_NE(dw, nullptr);
        dw->show();
        qt_test_process();
        EXPECT_EQ(dw->windowTitle(), "About Trackmill");

        expect_working(check_link(box));

        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dw, &esc);
        QCloseEvent close_box;
        QApplication::sendEvent(dw, &close_box);
        EXPECT_FALSE(box->ended);

        auto* ok = qobject_cast<QAbstractButton*>(qt_control_widget(dialog_item(box, IDOK)));
        ASSERT_NE(ok, nullptr);
        ok->click();
        EXPECT_TRUE(box->ended);
        EXPECT_EQ(box->end_result, 0);
        window_core_destroy_dialog(box);
    }
    EXPECT_EQ(urls, std::vector<std::string>(3, LINK_ADDRESS));
}

TEST_F(QtAbout, QuestionMarkOpensTheBoxOverTheRunningDialogAndMixerWithoutAProgramShowsNothing)
{
    link_check seen;
    QString caption;
    bool box_opened = false, main_back = false, modal_after_mixer = true;
    QTimer::singleShot(30, [&] {
        window main = window_core_top_dialog();
        // The box runs its own loop; this looks at it once it shows, then OK.
        QTimer::singleShot(50, [&, main] {
            window box = window_core_top_dialog();
            box_opened = box && box != main;
            if (!box_opened)
                return;
            caption = qt_dialog_widget(box)->windowTitle();
            seen = check_link(box);
            qobject_cast<QAbstractButton*>(qt_control_widget(dialog_item(box, IDOK)))->click();
        });
        qobject_cast<QAbstractButton*>(qt_control_widget(dialog_item(main, CMD_ABOUT)))->click();
        main_back = window_core_top_dialog() == main;

        qobject_cast<QAbstractButton*>(qt_control_widget(dialog_item(main, CMD_MIXER)))->click();
        qt_test_process();
        modal_after_mixer = QApplication::activeModalWidget() != nullptr || window_core_top_dialog() != main;
        qobject_cast<QAbstractButton*>(qt_control_widget(dialog_item(main, CMD_EXIT)))->click();
    });
    QTimer::singleShot(10000, [] {   // never hang the suite
        while (window d = window_core_top_dialog()) {
            end_dialog(d, -1);
            if (d == window_core_top_dialog())
                break;
        }
    });
    EXPECT_EQ(dialog_box(main_dialog_template(), nullptr, main_dialog_proc, 0), 0);
    release_resources();

    EXPECT_TRUE(box_opened);
    EXPECT_EQ(caption, "About Trackmill");
    expect_working(seen);
    EXPECT_TRUE(main_back);
    EXPECT_FALSE(modal_after_mixer);
    ASSERT_FALSE(programs.empty());
    EXPECT_EQ(programs.front(), "pavucontrol");
}

TEST_F(QtAbout, ThePolishBoxHasItsOwnTextsAndTheSameLink)
{
    set_ui_language(LANG_POLISH);
    window box = window_core_create_dialog(about_dialog_template(), nullptr, about_dialog_proc);
    about_dialog_proc(box, WM_INITDIALOG, 0, 0);
    qt_dialog_widget(box)->show();
    qt_test_process();
    EXPECT_EQ(qt_dialog_widget(box)->windowTitle(), "O programie Trackmill");
    auto* name = qobject_cast<QLabel*>(qt_control_widget(dialog_item(box, IDC_ABOUT_NAME)));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "Magnetofon cyfrowy Auto-track");
    expect_working(check_link(box));
    end_dialog(box, 0);
    window_core_destroy_dialog(box);
}
