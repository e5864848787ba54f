// The periodic timer service: real timers call on their own thread and a
// kill waits for a running call; manual timers run only when ticked.
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <thread>
#include "platform/system/timer.h"

namespace {

using namespace std::chrono_literals;

struct probe {
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    std::atomic<uintptr_t> id{0};
    std::thread::id thread;
    std::chrono::milliseconds hold{0};
    bool kill_self = false;
};

void probe_routine(uintptr_t id, unsigned, uintptr_t user, uintptr_t, uintptr_t)
{
    auto* p = reinterpret_cast<probe*>(user);
    p->inside = true;
    p->thread = std::this_thread::get_id();
    if (p->hold.count())
        std::this_thread::sleep_for(p->hold);
    ++p->calls;
    if (p->kill_self)
        timer_kill_event(id);
    p->finished = true;
    p->inside = false;
}

template <typename F>
bool wait_for(F done)
{
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class TimerTest : public testing::Test {
protected:
    void SetUp() override { timer_use_manual(false); }
    void TearDown() override { timer_use_manual(false); }
};

} // namespace

TEST_F(TimerTest, ARealTimerCallsItsRoutineRepeatedlyOnItsOwnThreadUntilKilled)
{
    probe p;
    const uintptr_t id = timer_set_event(2, 5, probe_routine, reinterpret_cast<uintptr_t>(&p));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(timer_period(id), 2u);
    EXPECT_EQ(timer_count(), 1);
    ASSERT_TRUE(wait_for([&] { return p.calls >= 3; }));
    EXPECT_NE(p.thread, std::this_thread::get_id());
    EXPECT_EQ(timer_kill_event(id), 0);
    const int after_kill = p.calls;
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(p.calls, after_kill);
    EXPECT_EQ(timer_count(), 0);
    EXPECT_EQ(timer_kill_event(id), -1) << "a second kill finds nothing";
    EXPECT_EQ(timer_period(id), 0u);
}

TEST_F(TimerTest, AKillReturnsOnlyAfterTheRunningCallHasFinished)
{
    probe p;
    p.hold = 40ms;
    const uintptr_t id = timer_set_event(1, 5, probe_routine, reinterpret_cast<uintptr_t>(&p));
    ASSERT_TRUE(wait_for([&] { return p.inside.load(); }));
    EXPECT_EQ(timer_kill_event(id), 0);
    EXPECT_TRUE(p.finished);
    EXPECT_FALSE(p.inside);
}

TEST_F(TimerTest, ARoutineMayKillItsOwnTimer)
{
    probe p;
    p.kill_self = true;
    p.id = timer_set_event(1, 5, probe_routine, reinterpret_cast<uintptr_t>(&p));
    ASSERT_TRUE(wait_for([&] { return p.finished.load(); }));
    ASSERT_TRUE(wait_for([] { return timer_count() == 0; }));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(p.calls, 1);
}

TEST_F(TimerTest, ANullPeriodOrRoutineIsRefused)
{
    probe p;
    EXPECT_EQ(timer_set_event(0, 5, probe_routine, reinterpret_cast<uintptr_t>(&p)), 0u);
    EXPECT_EQ(timer_set_event(10, 5, nullptr, 0), 0u);
    EXPECT_EQ(timer_count(), 0);
}

TEST_F(TimerTest, ManualTimersRunOnlyWhenTickedOnTheTickingThreadInTheOrderSet)
{
    timer_use_manual(true);
    probe a, b;
    const uintptr_t ida = timer_set_event(1, 5, probe_routine, reinterpret_cast<uintptr_t>(&a));
    const uintptr_t idb = timer_set_event(1000, 5, probe_routine, reinterpret_cast<uintptr_t>(&b));
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(a.calls, 0);
    EXPECT_EQ(timer_tick_all(), 2);
    EXPECT_EQ(timer_tick_all(), 2);
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(b.calls, 2);
    EXPECT_EQ(a.thread, std::this_thread::get_id());
    EXPECT_EQ(timer_kill_event(ida), 0);
    EXPECT_EQ(timer_tick_all(), 1);
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(timer_kill_event(idb), 0);
    EXPECT_EQ(timer_tick_all(), 0);
}

TEST_F(TimerTest, AKillFromAnotherThreadWaitsForAManualCallInProgress)
{
    timer_use_manual(true);
    probe p;
    p.hold = 40ms;
    const uintptr_t id = timer_set_event(5, 5, probe_routine, reinterpret_cast<uintptr_t>(&p));
    std::thread ticker([] { timer_tick_all(); });
    ASSERT_TRUE(wait_for([&] { return p.inside.load(); }));
    EXPECT_EQ(timer_kill_event(id), 0);
    EXPECT_TRUE(p.finished);
    ticker.join();
}
