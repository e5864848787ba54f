// The window core under the headless back end: templates become controls,
// posted messages keep their order across threads and never reach a dialog
// that has gone, the close box becomes command 2, subclassing chains,
// questions take scripted answers, a script's clicks get their turn beside
// a busy device, and drawing calls carry the pen and brush they were made with.
#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include "platform/window/headless.h"

namespace {
const control_template controls[] = {
    {10, CTL_PUSHBUTTON, "&Go", 10, 20, 40, 12},
    {11, CTL_EDIT, "", 60, 20, 40, 12},
};
const dialog_template tmpl = {"TEST", "Test", "Sans", 8, 10, 10, 200, 100, controls, 2};

std::vector<std::pair<unsigned, uintptr_t>> seen;

msg_result test_proc(window dialog, unsigned message, wparam wp, lparam lp)
{
    if (message == WM_COMMAND) {
        seen.push_back({message, wp});
        if (loword(wp) == 2)
            end_dialog(dialog, 7);
    } else if (message == WM_USER + 1) {
        seen.push_back({message, wp});
    }
    return 0;
}

int erase_count = 0;
window_proc old_proc = nullptr;
msg_result counting_proc(window w, unsigned message, wparam wp, lparam lp)
{
    if (message == WM_ERASEBKGND) {
        ++erase_count;
        return 1;
    }
    return call_window_proc(old_proc, w, message, wp, lp);
}

struct WindowCore : testing::Test {
    void SetUp() override
    {
        headless_reset();
        seen.clear();
    }
};
} // namespace

TEST_F(WindowCore, TemplateUnitsBecomePixelsAndScreenRectanglesShiftByTheClientOrigin)
{
    window d = headless_open_dialog(&tmpl, test_proc, 0);
    rect r;
    get_window_rect(dialog_item(d, 10), &r);
    // 6 x 13 base units: x = 10 * 6 / 4 = 15, y = 20 * 13 / 8 = 32, origin (18, 36).
    EXPECT_EQ(r.left, 15 + 18);
    EXPECT_EQ(r.top, 32 + 36);
    EXPECT_EQ(r.right, 50 * 6 / 4 + 18);
    EXPECT_EQ(r.bottom, 32 * 13 / 8 + 36);
    point p = {r.left, r.top};
    screen_to_client(d, &p);
    EXPECT_EQ(p.x, 15);
    EXPECT_EQ(p.y, 32);
    headless_close_dialog(d);
}

TEST_F(WindowCore, MessagesPostedFromOtherThreadsArriveInOrderWithTheirIds)
{
    window d = headless_open_dialog(&tmpl, test_proc, 0);
    std::thread t([d] {
        for (int i = 0; i < 100; ++i)
            post_message(d, WM_COMMAND, make_wparam(83, 1), i);
    });
    t.join();
    post_message(d, WM_USER + 1, 5, 0);
    EXPECT_EQ(headless_pump(), 101);
    ASSERT_EQ(seen.size(), 101u);
    EXPECT_EQ(loword(seen[0].second), 83u);
    EXPECT_EQ(hiword(seen[0].second), 1u);
    EXPECT_EQ(seen.back().first, unsigned(WM_USER + 1));
    headless_close_dialog(d);
}

TEST_F(WindowCore, DialogBoxRunsTheScriptAndTheCloseBoxActsAsCommandTwo)
{
    headless_script_type(11, "hello");
    headless_script_click(10);
    headless_set_idle_close_ms(20);
    EXPECT_EQ(dialog_box(&tmpl, nullptr, test_proc, 0), 7);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(loword(seen[0].second), 10u);
    EXPECT_EQ(loword(seen[1].second), 2u);
}

TEST_F(WindowCore, DisabledButtonsIgnoreClicksAndTextsRoundTrip)
{
    window d = headless_open_dialog(&tmpl, test_proc, 0);
    enable_item(d, 10, false);
    headless_click(d, 10);
    EXPECT_TRUE(seen.empty());
    headless_type(d, 11, "zażółć");
    char buf[4];
    EXPECT_EQ(get_item_text(d, 11, buf, sizeof buf), 2);   // a UTF-8 character is never cut
    EXPECT_STREQ(buf, "za");
    headless_close_dialog(d);
}

TEST_F(WindowCore, SubclassedControlsSeeTheirMessagesAndPassTheRestOn)
{
    window d = headless_open_dialog(&tmpl, test_proc, 0);
    window b = dialog_item(d, 10);
    old_proc = subclass_window(b, counting_proc);
    EXPECT_EQ(send_message(b, WM_ERASEBKGND, 0, 0), 1);
    EXPECT_EQ(erase_count, 1);
    font f = create_underlined_font(get_window_font(b));
    send_message(b, WM_SETFONT, wparam(f), 0);   // handed on to the plain procedure
    EXPECT_TRUE(font_is_underlined(get_window_font(b)));
    delete_font(f);
    headless_close_dialog(d);
}

TEST_F(WindowCore, QuestionsTakeScriptedAnswersAndDefaultToTheSafeOne)
{
    headless_answer_box(IDYES);
    EXPECT_EQ(message_box(nullptr, "Overwrite?", "Trackmill", MB_YESNO), IDYES);
    EXPECT_EQ(message_box(nullptr, "Again?", "Trackmill", MB_YESNO), IDNO);
    EXPECT_EQ(message_box(nullptr, "Note", "Trackmill", MB_OK), IDOK);
    auto boxes = headless_message_boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Trackmill");
    EXPECT_EQ(boxes[1].answer, IDNO);

    char name[16] = "old.wav";
    headless_answer_save("/a/very/long/name/that/does/not/fit.wav");
    EXPECT_EQ(save_file_dialog(nullptr, "Wave Files", "*.wav", name, sizeof name, true), 0);
    EXPECT_STREQ(name, "old.wav");
    headless_answer_save("new.wav");
    EXPECT_EQ(save_file_dialog(nullptr, "Wave Files", "*.wav", name, sizeof name, true), 1);
    EXPECT_STREQ(name, "new.wav");
}

TEST_F(WindowCore, DrawingCallsRecordTheSelectedPenAndBrush)
{
    window d = headless_open_dialog(&tmpl, test_proc, 0);
    gdi pen = create_pen(6, rgb(0, 255, 0));
    gdi brush = create_solid_brush(rgb(192, 0, 0));
    dc c = get_dc(d);
    gdi old = select_object(c, pen);
    select_object(c, brush);
    move_to(c, 1, 2);
    line_to(c, 30, 2);
    ellipse(c, 0, 0, 10, 10);
    select_object(c, old);
    point pts[3] = {{0, 0}, {1, 5}, {2, 3}};
    polyline(c, pts, 3);
    release_dc(d, c);
    auto calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].op, DRAW_LINE);
    EXPECT_EQ(calls[0].pen_width, 6);
    EXPECT_EQ(calls[0].pen_color, rgb(0, 255, 0));
    EXPECT_EQ(calls[0].v[2], 30);
    EXPECT_EQ(calls[1].brush_color, rgb(192, 0, 0));
    EXPECT_EQ(calls[2].pen_color, rgb(0, 0, 0));
    EXPECT_EQ(calls[2].points.size(), 3u);
    delete_object(pen);
    delete_object(brush);
    headless_close_dialog(d);
}

// Posting to a dialog that has gone: a device callback or the playback
// timer may still post to the main dialog after it closed, and the message
// must not reach a later dialog or freed memory.
namespace posting {
const control_template gone_controls[] = {
    {10, CTL_PUSHBUTTON, "&Go", 10, 20, 40, 12},
};
const dialog_template gone_tmpl = {"GONE", "Gone", "Sans", 8, 10, 10, 200, 100, gone_controls, 1};

std::vector<unsigned> heard;

msg_result hearing_proc(window, unsigned message, wparam, lparam)
{
    if (message >= WM_USER)
        heard.push_back(message);
    return 0;
}
} // namespace posting

TEST(WindowPosting, PostsToAClosedDialogOrItsControlsAreRefusedAndNeverHandled)
{
    headless_reset();
    posting::heard.clear();
    window first = headless_open_dialog(&posting::gone_tmpl, posting::hearing_proc, 0);
    window button = dialog_item(first, 10);
    ASSERT_TRUE(post_message(first, WM_USER + 1, 0, 0));
    headless_close_dialog(first);

    // After the close: refused, not queued for whatever comes next.
    EXPECT_FALSE(post_message(first, WM_USER + 2, 0, 0));
    EXPECT_FALSE(post_message(button, WM_USER + 3, 0, 0));

    window second = headless_open_dialog(&posting::gone_tmpl, posting::hearing_proc, 0);
    EXPECT_TRUE(post_message(second, WM_USER + 4, 0, 0));
    EXPECT_EQ(headless_pump(), 1);
    EXPECT_EQ(posting::heard, std::vector<unsigned>{WM_USER + 4});
    headless_close_dialog(second);
}

// The headless modal loop with a device that posts again as soon as its
// buffer is handled (the fast virtual card during Monitor): the script's
// next action still gets its turn, as a user's click does in a window.
namespace script {

enum { ID_START = 10, ID_STOP = 11, MSG_BUFFER = WM_USER + 1 };
constexpr int GIVE_UP = 100000;   // buffers after which the dialog ends itself

const control_template controls[] = {
    {ID_START, CTL_PUSHBUTTON, "Start", 10, 10, 40, 14},
    {ID_STOP, CTL_PUSHBUTTON, "Stop", 60, 10, 40, 14},
};
const dialog_template tmpl = {"SCRIPT", "Script", "MS Sans Serif", 8, 10, 10, 120, 40, controls, 2};

bool running = false;
int buffers = 0;
int buffers_at_stop = -1;

msg_result proc(window dialog, unsigned message, wparam wp, lparam)
{
    if (message == MSG_BUFFER) {
        if (++buffers >= GIVE_UP)
            end_dialog(dialog, -1);
        else if (running)
            post_message(dialog, MSG_BUFFER, 0, 0);   // re-queued: the next one is on its way
        return 1;
    }
    if (message != WM_COMMAND)
        return 0;
    switch (loword(wp)) {
    case ID_START:
        running = true;
        post_message(dialog, MSG_BUFFER, 0, 0);
        return 1;
    case ID_STOP:
        running = false;
        buffers_at_stop = buffers;
        return 1;
    case IDCANCEL:
        end_dialog(dialog, 7);
        return 1;
    default:
        return 0;
    }
}

} // namespace script

TEST(WindowScript, AnActionAfterAClickThatStartsAFastDeviceIsNotStarved)
{
    window_set_backend(headless_backend());
    headless_reset();
    headless_set_idle_close_ms(50);
    headless_script_click(script::ID_START);
    headless_script_click(script::ID_STOP);
    EXPECT_EQ(dialog_box(&script::tmpl, nullptr, script::proc, 0), 7);
    EXPECT_GE(script::buffers_at_stop, 1) << "the device's first buffer comes before the next action";
    EXPECT_LT(script::buffers, script::GIVE_UP);
    EXPECT_LE(script::buffers - script::buffers_at_stop, 1) << "a stopped device's last buffer only";
    headless_reset();
}
