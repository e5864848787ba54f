// The shell services of the window layer: only web addresses are handed
// to the desktop, and a program is started on its own, with none of our
// open files, in a session of its own, and reaped when it ends; statics
// hear the mouse only when they notify.
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include "platform/window/headless.h"

namespace {

std::string read_when_written(const std::string& path, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        if (!s.empty() && s.back() == '\n' && s.find("end") != std::string::npos)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

bool process_gone(int pid, int timeout_ms)
{
    std::string proc = "/proc/" + std::to_string(pid);
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (access(proc.c_str(), F_OK) != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

TEST(WindowShell, OnlyWebAddressesAreHandedToTheDesktop)
{
    headless_reset();
    for (const char* good : {"https://trackmill.example.org/", "http://example.org", "HTTPS://example.org/a?b=c"})
        EXPECT_TRUE(window_core_is_web_address(good)) << good;
    for (const char* bad : {"", "https://", "http:///etc", "file:///etc/passwd", "/usr/bin/xterm",
                            "javascript:alert(1)", "https://exa mple.org", "https://example.org/\n--x",
                            "ftp://example.org", "mailto:someone@example.org"})
        EXPECT_FALSE(window_core_is_web_address(bad)) << bad;
    EXPECT_FALSE(window_core_is_web_address(nullptr));

    EXPECT_EQ(open_url("file:///etc/passwd"), -1);
    // A document is opened as a file address only when it is a plain file
    // named in full; blanks and the address's own marks are escaped.
    EXPECT_EQ(open_document("/etc"), -1);
    EXPECT_EQ(open_document("etc/passwd"), -1);
    EXPECT_EQ(open_document("/dev/null"), -1);
    EXPECT_EQ(open_document(nullptr), -1);
    const std::string odd = testing::TempDir() + "read me #1?%.md";
    std::fclose(std::fopen(odd.c_str(), "w"));
    ASSERT_EQ(open_document(odd.c_str()), 0);
    EXPECT_EQ(headless_opened_urls().back(), "file://" + testing::TempDir() + "read%20me%20%231%3F%25.md");
    std::remove(odd.c_str());
    headless_reset();
    EXPECT_EQ(open_url(nullptr), -1);
    EXPECT_TRUE(headless_opened_urls().empty()) << "a refused address never reaches the back end";
    EXPECT_EQ(open_url("https://trackmill.example.org/"), 0);
    EXPECT_EQ(headless_opened_urls(), std::vector<std::string>{"https://trackmill.example.org/"});
}

TEST(WindowShell, TheHeadlessShellStartsOnlyProgramsInstalledInIt)
{
    headless_reset();
    EXPECT_EQ(start_program("pavucontrol"), -1);
    headless_install_program("pavucontrol");
    EXPECT_EQ(start_program("pavucontrol"), 0);
    EXPECT_EQ(start_program(""), -1);
    EXPECT_EQ(start_program(nullptr), -1);
    EXPECT_EQ(headless_started_programs(), (std::vector<std::string>{"pavucontrol", "pavucontrol"}));
    headless_reset();
    EXPECT_TRUE(headless_started_programs().empty());
    EXPECT_EQ(start_program("pavucontrol"), -1);
}

TEST(WindowShell, AMissingProgramIsRefusedAtOnce)
{
    EXPECT_EQ(window_core_spawn_program("/nonexistent/trackmill-mixer"), -1);
    EXPECT_EQ(window_core_spawn_program("trackmill-no-such-program-in-path"), -1);
    EXPECT_EQ(window_core_spawn_program(""), -1);
    EXPECT_EQ(window_core_spawn_program(nullptr), -1);
    // A name is looked up in PATH.
    EXPECT_EQ(window_core_spawn_program("true"), 0);
}

TEST(WindowShell, AStartedProgramHasNoneOfOurFilesHasItsOwnSessionAndIsReaped)
{
    char dir_template[] = "/tmp/trackmill-shell-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    std::string dir = dir_template;
    std::string out = dir + "/seen.txt";
    std::string script = dir + "/probe.sh";
    {
        std::ofstream s(script);
        // Its pid, its session, its open descriptors, then a closing word.
        s << "#!/bin/sh\n"
          << "{ echo \"$$ $(cut -d' ' -f6 /proc/$$/stat)\"; ls /proc/$$/fd | tr '\\n' ' '; echo; echo end; } > "
          << out << ".part\n"
          << "mv " << out << ".part " << out << "\n";
    }
    ASSERT_EQ(chmod(script.c_str(), 0700), 0);

    // A file we hold open without close-on-exec, as a capture file might
    // be, at a number the shell running the probe does not use itself.
    int opened = open((dir + "/held").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(opened, 0);
    int held = dup2(opened, 57);
    close(opened);
    ASSERT_EQ(held, 57);

    ASSERT_EQ(window_core_spawn_program(script.c_str()), 0);
    std::string seen = read_when_written(out, 5000);
    close(held);
    ASSERT_FALSE(seen.empty()) << "the probe never wrote";

    std::istringstream lines(seen);
    int pid = 0, session = 0;
    lines >> pid >> session;
    EXPECT_GT(pid, 0);
    EXPECT_EQ(session, pid) << "the program leads a session of its own";
    std::set<int> fds;
    int fd;
    while (lines >> fd)
        fds.insert(fd);
    EXPECT_TRUE(fds.count(0) && fds.count(1)) << "the listing is read from the probe's own descriptors";
    EXPECT_EQ(fds.count(held), 0u) << "our open file went with it";

    EXPECT_TRUE(process_gone(pid, 5000)) << "the ended program is left a zombie";

    std::remove(out.c_str());
    std::remove(script.c_str());
    std::remove((dir + "/held").c_str());
    rmdir(dir.c_str());
}

namespace {
const control_template statics[] = {
    {20, CTL_LTEXT, "link", 10, 10, 60, 10},
    {21, CTL_LTEXT, "plain", 10, 30, 60, 10},
};
const dialog_template statics_tmpl = {"STATICS", "Statics", "Sans", 8, 10, 10, 100, 60, statics, 2};

std::vector<unsigned> heard;
window_proc base = nullptr;
msg_result hearing_proc(window w, unsigned message, wparam wp, lparam lp)
{
    heard.push_back(message);
    if (message == WM_SETCURSOR) {
        call_window_proc(base, w, message, wp, lp);
        set_cursor(CURSOR_HAND);
        return 0;
    }
    return call_window_proc(base, w, message, wp, lp);
}
msg_result quiet_dialog(window, unsigned, wparam, lparam) { return 0; }
} // namespace

TEST(WindowShell, StaticsHearTheMouseOnlyWithNotify)
{
    headless_reset();
    heard.clear();
    window d = headless_open_dialog(&statics_tmpl, quiet_dialog, 0);
    window link = dialog_item(d, 20);
    base = subclass_window(link, hearing_proc);

    window_core_mouse_button(link, WM_LBUTTONUP, 1, 1);
    EXPECT_EQ(window_core_cursor_over(link), CURSOR_ARROW);
    EXPECT_TRUE(heard.empty()) << "a static without notify lets the mouse pass";

    set_window_style(link, get_window_style(link) | SS_NOTIFY);
    EXPECT_EQ(window_core_cursor_over(link), CURSOR_HAND);
    window_core_mouse_button(link, WM_LBUTTONDOWN, 3, 4);
    window_core_mouse_button(link, WM_LBUTTONUP, 3, 4);
    window_core_mouse_button(link, WM_CLOSE, 3, 4);   // not a mouse button: dropped
    EXPECT_EQ(heard, (std::vector<unsigned>{WM_SETCURSOR, WM_LBUTTONDOWN, WM_LBUTTONUP}));

    // The plain procedure shows the arrow; the dialog leaves statics alone.
    window plain = dialog_item(d, 21);
    set_window_style(plain, SS_NOTIFY);
    EXPECT_EQ(window_core_cursor_over(plain), CURSOR_ARROW);
    static_colors c;
    EXPECT_FALSE(window_core_static_colors(plain, &c));
    EXPECT_FALSE(window_core_static_colors(d, &c));
    headless_close_dialog(d);
}
