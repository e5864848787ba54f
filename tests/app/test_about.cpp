// The About box and the Mixer button on the headless back end: every
// opening makes the same link (blue on the box's background, underlined, a
// hand over it, its address opened on the release of the button), only OK
// closes the box, and a Mixer with no volume control installed does nothing.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "tests/support/main_dialog_fixture.h"
#include "res/about_dialog.h"
#include "res/version.h"
#include "ui/about.h"
#include "platform/system/system.h"

namespace {

const char* const LINK_ADDRESS = "https://trackmill.example.org/";
// What the link opens: the README installed with the program (here, the
// source folder's stands in for it).
const char* const README_URL = "file://" TM_SOURCE_DIR "/README.md";

// The link as the user meets it in a box that is open.
struct link_seen {
    bool notify = false;
    bool underlined = false;
    bool colored = false;
    static_colors colors = {};
    cursor_shape pointer = CURSOR_ARROW;
};

link_seen look_at_link(window box)
{
    link_seen s;
    window link = dialog_item(box, IDC_ABOUT_LINK);
    EXPECT_NE(link, nullptr);
    s.notify = (get_window_style(link) & SS_NOTIFY) != 0;
    s.underlined = font_is_underlined(get_window_font(link));
    s.colored = window_core_static_colors(link, &s.colors);
    s.pointer = window_core_cursor_over(link);
    return s;
}

void expect_working_link(window box)
{
    link_seen s = look_at_link(box);
    EXPECT_TRUE(s.notify);
    EXPECT_TRUE(s.underlined);
    ASSERT_TRUE(s.colored);
    EXPECT_EQ(s.colors.text, rgb(0, 0, 255));
    EXPECT_EQ(s.colors.mode, TRANSPARENT_BK);
    EXPECT_TRUE(s.colors.brush_null);
    EXPECT_EQ(s.pointer, CURSOR_HAND);

    window link = dialog_item(box, IDC_ABOUT_LINK);
    installed_doc_dir_use(TM_SOURCE_DIR);
    size_t before = headless_opened_urls().size();
    window_core_mouse_button(link, WM_LBUTTONDOWN, 5, 5);
    EXPECT_EQ(headless_opened_urls().size(), before) << "the press alone opens nothing";
    window_core_mouse_button(link, WM_LBUTTONUP, 5, 5);
    std::vector<std::string> urls = headless_opened_urls();
    ASSERT_EQ(urls.size(), before + 1);
    EXPECT_EQ(urls.back(), README_URL);

    // Without an installed README a box says where the documentation is.
    installed_doc_dir_use("/nonexistent-trackmill-docs");
    const size_t boxes = headless_message_boxes().size();
    window_core_mouse_button(link, WM_LBUTTONUP, 5, 5);
    EXPECT_EQ(headless_opened_urls().size(), before + 1);
    ASSERT_EQ(headless_message_boxes().size(), boxes + 1);
    const std::string told = headless_message_boxes().back().text;
    EXPECT_NE(told.find("README.md"), std::string::npos) << told;
    EXPECT_NE(told.find(LINK_ADDRESS), std::string::npos) << told;
    installed_doc_dir_use(nullptr);
}

struct AboutBox : MainDialogTest {};

} // namespace

TEST_F(AboutBox, EveryOpeningGivesTheSameWorkingLinkAndOnlyThatStaticIsColoured)
{
    open_dialog();   // the main dialog lends its underlined font
    for (int opening = 0; opening < 3; ++opening) {
        SCOPED_TRACE(opening);
        window box = headless_open_dialog(about_dialog_template(), about_dialog_proc, 0);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(app.link_control, dialog_item(box, IDC_ABOUT_LINK));
        EXPECT_EQ(app.link_font, app.underlined_font);
        EXPECT_TRUE(!get_focus() || get_focus()->parent != box) << "the box gives no control the focus";
        expect_working_link(box);
        // The other statics keep the default look and let the mouse pass.
        for (int id : {IDC_ABOUT_NAME, IDC_ABOUT_VERSION, IDC_ABOUT_CREDITS, IDC_ABOUT_CONTACT}) {
            static_colors c;
            window other = dialog_item(box, id);
            EXPECT_FALSE(window_core_static_colors(other, &c)) << id;
            EXPECT_EQ(window_core_cursor_over(other), CURSOR_ARROW) << id;
            EXPECT_FALSE(font_is_underlined(get_window_font(other))) << id;
        }
        headless_click(box, IDOK);
        headless_close_dialog(box);
    }
    EXPECT_EQ(headless_opened_urls().size(), 3u);
    EXPECT_EQ(app.link_control, nullptr);
    EXPECT_EQ(headless_message_boxes().size(), 3u) << "one a link click without an installed README";
}

TEST_F(AboutBox, WithoutTheMainDialogTheLinkUnderlinesTheBoxsOwnFont)
{
    ASSERT_EQ(app.underlined_font, nullptr);
    ASSERT_EQ(app.dialog_font, nullptr);
    for (int opening = 0; opening < 2; ++opening) {
        window box = headless_open_dialog(about_dialog_template(), about_dialog_proc, 0);
        expect_working_link(box);
        font first = app.link_font;
        EXPECT_NE(first, nullptr);
        EXPECT_EQ(get_window_font(dialog_item(box, IDC_ABOUT_LINK)), first);
        headless_click(box, IDOK);
        headless_close_dialog(box);
    }
}

TEST_F(AboutBox, ALinkReleaseCarriedOffOrAnotherMessageOpensNothing)
{
    window box = headless_open_dialog(about_dialog_template(), about_dialog_proc, 0);
    window link = dialog_item(box, IDC_ABOUT_LINK);
    send_message(link, WM_LBUTTONDOWN, 1, 0);
    send_message(link, WM_SETCURSOR, wparam(link), 1);
    send_message(link, WM_ERASEBKGND, 0, 0);
    EXPECT_TRUE(headless_opened_urls().empty());
    // A static that was not made a link hears nothing of the mouse.
    window credits = dialog_item(box, IDC_ABOUT_CREDITS);
    window_core_mouse_button(credits, WM_LBUTTONUP, 1, 1);
    EXPECT_TRUE(headless_opened_urls().empty());
    // A disabled link does not take clicks either.
    enable_item(box, IDC_ABOUT_LINK, false);
    window_core_mouse_button(link, WM_LBUTTONUP, 1, 1);
    EXPECT_TRUE(headless_opened_urls().empty());
    headless_close_dialog(box);
}

TEST_F(AboutBox, EscAndTheCloseBoxLeaveItOpenOkEndsItWithZero)
{
    window box = headless_open_dialog(about_dialog_template(), about_dialog_proc, 0);
    window_core_close(box);                                   // the close box
    send_message(box, WM_COMMAND, make_wparam(IDCANCEL, 0), 0);   // Esc
    send_message(box, WM_COMMAND, make_wparam(IDC_ABOUT_LINK, 0), lparam(dialog_item(box, IDC_ABOUT_LINK)));
    EXPECT_FALSE(box->ended);
    headless_click(box, IDOK);
    EXPECT_TRUE(box->ended);
    EXPECT_EQ(box->end_result, 0);
    headless_close_dialog(box);
}

TEST_F(AboutBox, TheQuestionMarkOpensItModallyAndOnlyOkReturnsToTheDialog)
{
    open_dialog();
    // In the box: Esc first, which leaves it open, then OK.
    headless_script_click(IDCANCEL);
    headless_script_click(IDOK);
    click(CMD_ABOUT);
    EXPECT_EQ(app.link_control, nullptr) << "the box is closed again";
    EXPECT_EQ(app.link_font, app.underlined_font);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
    EXPECT_TRUE(headless_message_boxes().empty());

    // With nothing scripted the box refuses the close box and is left with OK:
    // the question mark never hangs a scripted run.
    headless_set_idle_close_ms(20);
    click(CMD_ABOUT);
    click(CMD_ABOUT);
    EXPECT_EQ(text(IDC_STATUS), "Idle");
}

TEST(AboutTemplate, BothLanguagesShareTheLayoutAndTheirOwnTexts)
{
    const dialog_template& en = *about_dialog_template_for(LANG_ENGLISH);
    const dialog_template& pl = *about_dialog_template_for(LANG_POLISH);
    EXPECT_STREQ(en.name, "101");
    EXPECT_STREQ(en.title, "About Trackmill");
    EXPECT_STREQ(pl.title, "O programie Trackmill");
    ASSERT_EQ(en.control_count, pl.control_count);
    for (const dialog_template* t : {&en, &pl}) {
        EXPECT_EQ(t->cx, 186);
        EXPECT_EQ(t->cy, 109);
        EXPECT_STREQ(t->font_face, "MS Sans Serif");
        EXPECT_EQ(t->font_points, 8);
    }
    for (int i = 0; i < en.control_count; ++i) {
        const control_template& e = en.controls[i];
        const control_template& p = pl.controls[i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(e.id, p.id);
        EXPECT_EQ(e.kind, p.kind);
        EXPECT_EQ(e.x, p.x);
        EXPECT_EQ(e.y, p.y);
        EXPECT_EQ(e.cy, p.cy);
        EXPECT_EQ(e.cx, e.id == IDC_ABOUT_CREDITS ? 118 : p.cx);
        EXPECT_LE(e.x + e.cx, en.cx);
        EXPECT_LE(e.y + e.cy, en.cy);
    }
    EXPECT_EQ(pl.controls[3].cx, 113);

    set_ui_language(LANG_POLISH);
    window box = headless_open_dialog(about_dialog_template(), about_dialog_proc, 0);
    char text[64];
    get_item_text(box, IDC_ABOUT_NAME, text, sizeof text);
    EXPECT_STREQ(text, "Magnetofon cyfrowy Auto-track");
    get_item_text(box, IDC_ABOUT_VERSION, text, sizeof text);
    EXPECT_EQ(std::string(text), std::string("Wersja ") + TRACKMILL_VERSION);
    get_item_text(box, IDC_ABOUT_LINK, text, sizeof text);
    EXPECT_STREQ(text, LINK_ADDRESS);
    EXPECT_EQ(dialog_item(box, IDC_ABOUT_ICON)->kind, CTL_ICON);
    EXPECT_EQ(dialog_item(box, IDOK)->kind, CTL_DEFPUSHBUTTON);
    headless_click(box, IDOK);
    headless_close_dialog(box);
    set_ui_language(LANG_ENGLISH);
}

TEST_F(MainDialogTest, MixerWithoutAVolumeControlNamesTheProgramsItLooksFor)
{
    for (ui_lang lang : {LANG_ENGLISH, LANG_POLISH}) {
        open_dialog(lang);
        click(CMD_MIXER);
        std::vector<std::string> asked = headless_started_programs();
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.front(), "pavucontrol");
        const std::vector<std::string> boxes = box_texts();
        ASSERT_EQ(boxes.size(), 1u);
        for (const char* program : {"pavucontrol", "pavucontrol-qt", "mate-volume-control"})
            EXPECT_NE(boxes[0].find(program), std::string::npos) << boxes[0];
        EXPECT_NE(boxes[0].find(lang == LANG_POLISH ? "Nie zainstalowano" : "No volume control"), std::string::npos);
        EXPECT_TRUE(enabled(CMD_MIXER));
        TearDown();
        dialog = nullptr;
        SetUp();
    }
}

TEST_F(MainDialogTest, MixerStartsTheFirstVolumeControlInstalledAndNoOther)
{
    open_dialog();
    headless_install_program("pavucontrol-qt");
    headless_install_program("mate-volume-control");
    click(CMD_MIXER);
    EXPECT_EQ(headless_started_programs(), (std::vector<std::string>{"pavucontrol", "pavucontrol-qt"}));
    EXPECT_TRUE(headless_message_boxes().empty());
}
