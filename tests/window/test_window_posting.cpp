// Posting to a dialog that has gone: a device callback or the playback
// timer may still post to the main dialog after it closed, and the message
// must not reach a later dialog or freed memory.
#include <gtest/gtest.h>
#include <vector>
#include "platform/window/headless.h"

namespace {
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
} // namespace

TEST(WindowPosting, PostsToAClosedDialogOrItsControlsAreRefusedAndNeverHandled)
{
    headless_reset();
    heard.clear();
    window first = headless_open_dialog(&gone_tmpl, hearing_proc, 0);
    window button = dialog_item(first, 10);
    ASSERT_TRUE(post_message(first, WM_USER + 1, 0, 0));
    headless_close_dialog(first);

    // After the close: refused, not queued for whatever comes next.
    EXPECT_FALSE(post_message(first, WM_USER + 2, 0, 0));
    EXPECT_FALSE(post_message(button, WM_USER + 3, 0, 0));

    window second = headless_open_dialog(&gone_tmpl, hearing_proc, 0);
    EXPECT_TRUE(post_message(second, WM_USER + 4, 0, 0));
    EXPECT_EQ(headless_pump(), 1);
    EXPECT_EQ(heard, std::vector<unsigned>{WM_USER + 4});
    headless_close_dialog(second);
}
