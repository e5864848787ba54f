// Inside the sound service: the open device that both back ends share, with
// its queue of headers, the list of finished ones and the thread that hands
// them to the callback in order.
#include "platform/sound/device_core.h"
#include <cstring>

namespace {

void device_thread(sound_device* d)
{
    std::unique_lock<std::mutex> held(d->lock);
    const unsigned done_message = d->input ? WIM_DATA : WOM_DONE;
    for (;;) {
        while (!d->done.empty()) {
            wave_header* h = d->done.pop();
            h->reserved = 0;
            ++d->in_flight;
            held.unlock();
            d->callback(d, done_message, d->instance, reinterpret_cast<uintptr_t>(h), 0);
            held.lock();
            --d->in_flight;
        }
        d->drained.notify_all();
        if (d->quitting)
            return;
        steady_clock::time_point next = d->engine->pump(held);
        if (!d->done.empty() || d->quitting)
            continue;
        if (next == steady_clock::time_point::max())
            d->wake.wait(held);
        else if (next > steady_clock::now())
            d->wake.wait_until(held, next);
    }
}

void quiet_callback(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}

}  // namespace

void device_begin(sound_device* d)
{
    if (!d->callback)
        d->callback = quiet_callback;
    d->thread = std::thread(device_thread, d);
    d->thread_id = d->thread.get_id();
    d->callback(d, d->input ? WIM_OPEN : WOM_OPEN, d->instance, 0, 0);
}

void device_end(sound_device* d)
{
    {
        std::lock_guard<std::mutex> held(d->lock);
        d->quitting = true;
    }
    d->wake.notify_all();
    if (d->thread.joinable())
        d->thread.join();
    d->callback(d, d->input ? WIM_CLOSE : WOM_CLOSE, d->instance, 0, 0);
}

void device_finish_head(sound_device* d)
{
    wave_header* h = d->queue.pop();
    if (!h)
        return;
    h->flags = (h->flags | WHDR_DONE) & ~WHDR_INQUEUE;
    h->reserved = HEADER_AWAITS_CALLBACK;
    d->done.push(h);
    d->head_offset = 0;
}

void device_finish_all(sound_device* d)
{
    while (!d->queue.empty())
        device_finish_head(d);
}

void device_wait_drained(sound_device* d, std::unique_lock<std::mutex>& held)
{
    d->wake.notify_all();
    if (std::this_thread::get_id() == d->thread_id)
        return;
    d->drained.wait(held, [d] { return d->done.empty() && d->in_flight == 0; });
}

void input_deliver(sound_device* d, const uint8_t* bytes, uint32_t count)
{
    const uint32_t frame = d->format.block_align;
    bool finished = false;
    while (count > 0) {
        wave_header* h = d->queue.first;
        if (!h)
            break;
        // Only whole frames go into a buffer; a buffer with no room for one
        // more is finished.
        uint32_t room = (h->buffer_length - h->bytes_recorded) / frame * frame;
        uint32_t n = count < room ? count : room;
        std::memcpy(h->data + h->bytes_recorded, bytes, n);
        h->bytes_recorded += n;
        bytes += n;
        count -= n;
        if (h->buffer_length - h->bytes_recorded < frame) {
            device_finish_head(d);
            finished = true;
        }
        d->starved = false;
    }
    if (count > 0) {
        if (!d->starved)
            sound_count_overflow();
        d->starved = true;
    }
    if (finished)
        d->wake.notify_all();
}

uint32_t output_take(sound_device* d, uint8_t* out, uint32_t count)
{
    uint32_t taken = 0;
    bool finished = false;
    while (taken < count) {
        wave_header* h = d->queue.first;
        if (!h)
            break;
        uint32_t left = h->buffer_length - d->head_offset;
        uint32_t n = count - taken < left ? count - taken : left;
        const uint8_t* from = h->data + d->head_offset;
        if (out)
            std::memcpy(out + taken, from, n);
        if (n > 0)
            output_tap(from, n);
        d->head_offset += n;
        taken += n;
        if (d->head_offset >= h->buffer_length) {
            device_finish_head(d);
            finished = true;
        }
    }
    d->bytes_played += taken;
    if (finished)
        d->wake.notify_all();
    return taken;
}
