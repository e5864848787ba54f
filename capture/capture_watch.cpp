// The watch over a running recording: a periodic check of the time since
// the device last handed a buffer back, against twice a buffer's time.
#include "capture/capture_watch.h"

#include <algorithm>
#include <atomic>
#include "core/app_state.h"
#include "core/ids.h"
#include "platform/system/system.h"
#include "platform/system/timer.h"
#include "platform/window/window.h"

namespace {

constexpr uint32_t START_ALLOWANCE_MS = 3000;   // before the first buffer
constexpr uint32_t RUNNING_FLOOR_MS = 1000;     // a late buffer is not a dead device
constexpr uint32_t LONGEST_CHECK_MS = 250;      // the check's period at most

uintptr_t watch_timer = 0;                      // dialog's thread
std::atomic<uint32_t> started_tick{0};          // clock (ms) at the start
std::atomic<uint32_t> last_delivery_tick{0};    // clock (ms) at the last buffer
std::atomic<bool> delivered_any{false};
std::atomic<uint32_t> limit_before_first{0};    // ms, fixed at the start
std::atomic<uint32_t> limit_running{0};
std::atomic<bool> stall_posted{false};          // told, and not yet handled
std::atomic<bool> watching{false};

// Timer's thread: tells the dialog once, until it has handled the news.
void check(uintptr_t, unsigned, uintptr_t, uintptr_t, uintptr_t)
{
    if (watching.load() && capture_stalled() && !stall_posted.exchange(true))
        post_message(app.main_dialog, MSG_CAPTURE_STALLED, 0, 0);
}

} // namespace

uint32_t capture_stall_limit_ms(bool delivering)
{
    const uint32_t floor = delivering ? RUNNING_FLOOR_MS : START_ALLOWANCE_MS;
    const CaptureBufferRing& ring = app.capture_ring;
    const uint32_t rate = ring.capture_format.fmt.avg_bytes_per_sec;
    if (!ring.device || rate == 0)
        return START_ALLOWANCE_MS;
    const uint64_t twice = 2 * ((uint64_t(ring.buffer_bytes) * 1000 + rate - 1) / rate);
    return uint32_t(std::min<uint64_t>(std::max<uint64_t>(twice, floor), UINT32_MAX / 2));
}

void start_capture_watch()
{
    stop_capture_watch();
    const uint32_t now = get_tick_count();
    started_tick = now;
    last_delivery_tick = now;
    delivered_any = false;
    stall_posted = false;
    limit_before_first = capture_stall_limit_ms(false);
    limit_running = capture_stall_limit_ms(true);
    watching = true;
    const uint32_t period = std::clamp<uint32_t>(limit_running.load() / 4, 10, LONGEST_CHECK_MS);
    // Without a timer the recording runs unwatched, as it always could.
    watch_timer = timer_set_event(period, 10, check, 0);
}

void stop_capture_watch()
{
    watching = false;
    if (watch_timer) {
        timer_kill_event(watch_timer);
        watch_timer = 0;
    }
}

void capture_watch_delivered()
{
    last_delivery_tick = get_tick_count();
    delivered_any = true;
}

bool capture_stalled()
{
    if (!watching.load())
        return false;
    const bool any = delivered_any.load();
    const uint32_t since = get_tick_count() - (any ? last_delivery_tick.load() : started_tick.load());
    return since >= (any ? limit_running.load() : limit_before_first.load());
}

void capture_watch_acknowledge()
{
    stall_posted = false;
}
