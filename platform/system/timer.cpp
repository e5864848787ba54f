// Periodic timers, one thread each, waking on a steady clock; and the manual
// timers of the tests, which run only when ticked.
#include "platform/system/timer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;

struct timer_entry {
    uintptr_t id = 0;
    std::chrono::milliseconds period{0};
    timer_routine routine = nullptr;
    uintptr_t user = 0;
    bool manual = false;

    std::mutex lock;
    std::condition_variable changed;   // stopping set, or a manual call ended
    bool stopping = false;
    std::thread::id calling;           // the thread inside the routine, if any
    std::thread thread;                // real timers only
};

struct registry {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<timer_entry>> timers;   // by id, so in the order set
    uintptr_t next_id = 1;
    bool manual = false;
};

// Never destroyed: a timer thread still running while the process ends must
// not find its registry gone.
registry& timers()
{
    static registry* r = new registry;
    return *r;
}

void timer_thread(std::shared_ptr<timer_entry> t)
{
    steady::time_point due = steady::now() + t->period;
    std::unique_lock<std::mutex> held(t->lock);
    for (;;) {
        if (t->changed.wait_until(held, due, [&] { return t->stopping; }))
            return;
        t->calling = std::this_thread::get_id();
        held.unlock();
        t->routine(t->id, 0, t->user, 0, 0);
        held.lock();
        t->calling = std::thread::id();
        // Keep the beat: a late call skips the periods it overran.
        due += t->period;
        const steady::time_point now = steady::now();
        if (due <= now)
            due += ((now - due) / t->period + 1) * t->period;
    }
}

} // namespace

uintptr_t timer_set_event(uint32_t period_ms, uint32_t resolution_ms, timer_routine routine, uintptr_t user)
{
    (void)resolution_ms;   // every timer wakes as precisely as the clock allows
    if (period_ms == 0 || !routine)
        return 0;
    auto t = std::make_shared<timer_entry>();
    t->period = std::chrono::milliseconds(period_ms);
    t->routine = routine;
    t->user = user;

    registry& r = timers();
    std::lock_guard<std::mutex> held(r.lock);
    t->id = r.next_id++;
    t->manual = r.manual;
    if (!t->manual) {
        try {
            t->thread = std::thread(timer_thread, t);
        } catch (const std::system_error&) {
            return 0;
        }
    }
    r.timers[t->id] = t;
    return t->id;
}

int timer_kill_event(uintptr_t id)
{
    std::shared_ptr<timer_entry> t;
    {
        registry& r = timers();
        std::lock_guard<std::mutex> held(r.lock);
        auto it = r.timers.find(id);
        if (it == r.timers.end())
            return -1;
        t = it->second;
        r.timers.erase(it);
    }
    const std::thread::id self = std::this_thread::get_id();
    {
        std::unique_lock<std::mutex> held(t->lock);
        t->stopping = true;
        t->changed.notify_all();
        // A manual call made on another thread is waited for like a real one.
        if (t->manual)
            t->changed.wait(held, [&] { return t->calling == std::thread::id() || t->calling == self; });
    }
    if (t->thread.joinable()) {
        if (t->thread.get_id() == self)
            t->thread.detach();   // killed from its own routine: it ends after this call
        else
            t->thread.join();
    }
    return 0;
}

void timer_use_manual(bool on)
{
    registry& r = timers();
    std::lock_guard<std::mutex> held(r.lock);
    r.manual = on;
}

int timer_tick_all()
{
    std::vector<std::shared_ptr<timer_entry>> due;
    {
        registry& r = timers();
        std::lock_guard<std::mutex> held(r.lock);
        for (auto& [id, t] : r.timers)
            if (t->manual)
                due.push_back(t);
    }
    int ran = 0;
    for (auto& t : due) {
        {
            std::lock_guard<std::mutex> held(t->lock);
            if (t->stopping)
                continue;   // killed by an earlier routine of this round
            t->calling = std::this_thread::get_id();
        }
        t->routine(t->id, 0, t->user, 0, 0);
        ++ran;
        std::lock_guard<std::mutex> held(t->lock);
        t->calling = std::thread::id();
        t->changed.notify_all();
    }
    return ran;
}

uint32_t timer_period(uintptr_t id)
{
    registry& r = timers();
    std::lock_guard<std::mutex> held(r.lock);
    auto it = r.timers.find(id);
    return it == r.timers.end() ? 0 : uint32_t(it->second->period.count());
}

int timer_count()
{
    registry& r = timers();
    std::lock_guard<std::mutex> held(r.lock);
    return int(r.timers.size());
}
