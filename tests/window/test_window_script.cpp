// The headless modal loop with a device that posts again as soon as its
// buffer is handled (the fast virtual card during Monitor): the script's
// next action still gets its turn, as a user's click does in a window.
#include <gtest/gtest.h>
#include "platform/window/headless.h"

namespace {

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

} // namespace

TEST(WindowScript, AnActionAfterAClickThatStartsAFastDeviceIsNotStarved)
{
    window_set_backend(headless_backend());
    headless_reset();
    headless_set_idle_close_ms(50);
    headless_script_click(ID_START);
    headless_script_click(ID_STOP);
    EXPECT_EQ(dialog_box(&tmpl, nullptr, proc, 0), 7);
    EXPECT_GE(buffers_at_stop, 1) << "the device's first buffer comes before the next action";
    EXPECT_LT(buffers, GIVE_UP);
    EXPECT_LE(buffers - buffers_at_stop, 1) << "a stopped device's last buffer only";
    headless_reset();
}
