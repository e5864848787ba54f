// Periodic timers: a routine called on the timer's own thread every period,
// as the playback view follows the sound; a manual mode drives them in tests.
//
// Threads: every routine here may be called from any thread. A timer's
// routine runs on that timer's own thread (in manual mode, on the thread
// that calls timer_tick_all), one call at a time, never overlapping itself.
// A routine must not wait for the thread that may kill its timer: the kill
// waits for the routine.
#pragma once
#include <cstdint>

// routine(timer id, 0, user data, 0, 0)
using timer_routine = void (*)(uintptr_t id, unsigned message, uintptr_t user, uintptr_t reserved1, uintptr_t reserved2);

// Calls `routine` every period_ms milliseconds, the first time one period
// from now, on a steady clock. Calls come within about resolution_ms (at
// best about 1 ms) of their time; a call that runs late does not make the
// following ones crowd in, they keep the period's beat. Returns the timer's
// id (never 0), or 0 when period_ms is 0, routine is null or no thread can
// be started.
uintptr_t timer_set_event(uint32_t period_ms, uint32_t resolution_ms, timer_routine routine, uintptr_t user);

// Stops the timer. Returns once a call of its routine that runs on another
// thread has finished, so nothing the routine uses is touched afterwards; a
// routine may kill its own timer (no further call is made). 0, or -1 for an
// id that is not a running timer.
int timer_kill_event(uintptr_t id);

// --- test hooks -------------------------------------------------------------
// Timers set while manual mode is on never run by themselves: each
// timer_tick_all runs every live manual timer's routine once, in the order
// they were set, on the calling thread, and returns how many ran.
void timer_use_manual(bool on);
int timer_tick_all();
// The period of a running timer in ms, 0 for an unknown id.
uint32_t timer_period(uintptr_t id);
// Timers running now (manual ones included).
int timer_count();
