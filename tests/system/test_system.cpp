// System services: the instance lock against another process and after it
// ends, path names folded to their full form, the free-space query and its
// injected failure, the virtual clock, and the language from the locale.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include "platform/system/system.h"

namespace {

struct Env {
    std::string name;
    std::string old;
    bool had;
    Env(const char* n, const char* value) : name(n)
    {
        const char* o = getenv(n);
        had = o != nullptr;
        old = o ? o : "";
        if (value)
            setenv(n, value, 1);
        else
            unsetenv(n);
    }
    ~Env()
    {
        if (had)
            setenv(name.c_str(), old.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

struct LockDir {
    std::string dir;
    LockDir()
    {
        char d[] = "/tmp/trackmill-lock-XXXXXX";
        dir = mkdtemp(d) ? d : "";
    }
    ~LockDir()
    {
        instance_lock_release();
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << cmd;
    }
};

// A child takes the lock `name` and keeps it until the parent has tried it
// too (then ends, or crashes); returns what the parent's attempt gave.
unsigned attempt_while_child_holds(const char* name, bool child_crashes_after)
{
    int ready[2], stop[2];
    if (pipe(ready) != 0 || pipe(stop) != 0)
        return ~0u;
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(stop[1]);
        char ok = instance_lock_acquire(name) == 0 ? 'y' : 'n';
        if (write(ready[1], &ok, 1) != 1)
            _exit(2);
        char c;
        while (read(stop[0], &c, 1) > 0) {
        }
        if (child_crashes_after)
            kill(getpid(), SIGKILL);   // ends without any clean-up of its own
        _exit(0);
    }
    close(ready[1]);
    close(stop[0]);
    char ok = 'n';
    EXPECT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    unsigned result = instance_lock_acquire(name);
    close(stop[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    close(ready[0]);
    return result;
}

} // namespace

TEST(InstanceLock, HeldByAnotherProcessItIsRefusedAndFreeOnceThatProcessEnds)
{
    LockDir dir;
    Env runtime("XDG_RUNTIME_DIR", dir.dir.c_str());
    EXPECT_EQ(attempt_while_child_holds("mxlo", false), unsigned(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(instance_lock_acquire("mxlo"), 0u);
    instance_lock_release();
    // A holder that crashes leaves nothing behind either.
    EXPECT_EQ(attempt_while_child_holds("mxlo", true), unsigned(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(instance_lock_acquire("mxlo"), 0u);
}

TEST(InstanceLock, WithoutAUsableRuntimeDirectoryTheLockStillWorks)
{
    LockDir dir;
    Env runtime("XDG_RUNTIME_DIR", "/nonexistent/runtime");
    EXPECT_EQ(attempt_while_child_holds("mxlo-test", false), unsigned(ERROR_ALREADY_EXISTS));
}

TEST(FullPath, NamesAreFoldedToTheirAbsoluteForm)
{
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string here = cwd;
    if (here == "/")
        here = "";
    struct Case {
        const char* name;
        std::string full;
    };
    const Case cases[] = {
        {"./wavecap.wav", here + "/wavecap.wav"},
        {"/a/b/../c//d.wav", "/a/c/d.wav"},
        {"/a/./b/", "/a/b/"},
        {"/..", "/"},
        {"x/../y.wav", here + "/y.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[4096];
        EXPECT_EQ(full_path_name(c.name, out, sizeof out), int(c.full.size()));
        EXPECT_EQ(std::string(out), c.full);
    }
    char small[8];
    set_last_error(0);
    EXPECT_EQ(full_path_name("/long/path/name.wav", small, sizeof small), 0);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(full_path_name(nullptr, small, sizeof small), 0);
}

TEST(DiskFree, TheQueryAnswersAndCanBeMadeToFail)
{
    uint64_t bytes = 0;
    EXPECT_EQ(disk_free_bytes(nullptr, &bytes), 1);
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(disk_free_bytes("/nonexistent/dir", &bytes), 0);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_FILE_NOT_FOUND));
    disk_free_fail(ERROR_ACCESS_DENIED);
    EXPECT_EQ(disk_free_bytes(".", &bytes), 0);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_ACCESS_DENIED));
    disk_free_fail(0);
    EXPECT_EQ(disk_free_bytes(".", &bytes), 1);
}

TEST(Clock, TheVirtualClockMovesOnlyWhenTold)
{
    clock_use_virtual(true);
    clock_set(0xFFFFFF00u);
    EXPECT_EQ(get_tick_count(), 0xFFFFFF00u);
    clock_advance(0x200);
    EXPECT_EQ(get_tick_count(), 0x100u);   // wraps at 32 bits like the system's count
    clock_use_virtual(false);
    uint32_t a = get_tick_count();
    usleep(20000);
    uint32_t b = get_tick_count();
    EXPECT_GE(b - a, 15u);
}

TEST(Clock, AFasterRateMovesTheRealClockFasterWithoutAJump)
{
    clock_use_virtual(false);
    uint32_t before = get_tick_count();
    clock_set_rate(100.0);
    uint32_t at_change = get_tick_count();
    EXPECT_LT(uint32_t(at_change - before), 5000u) << "the count must not jump when the rate changes";
    usleep(20000);
    uint32_t fast = get_tick_count();
    EXPECT_GE(uint32_t(fast - at_change), 1800u);   // 20 ms of wall time at 100 times
    clock_set_rate(1.0);
    uint32_t back = get_tick_count();
    usleep(20000);
    EXPECT_LT(uint32_t(get_tick_count() - back), 1000u);
    EXPECT_GE(int32_t(get_tick_count() - fast), 0) << "the clock never runs backwards";
}

TEST(Language, TheLocaleChoosesUnlessTheCommandLineDid)
{
    Env all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", "pl_PL.UTF-8");
    // ui_language reads the environment only while nothing was set.
    EXPECT_EQ(ui_language(), LANG_POLISH);
    set_ui_language(LANG_ENGLISH);
    EXPECT_EQ(ui_language(), LANG_ENGLISH);
}
