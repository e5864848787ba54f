// Inside the sound service: the open device that both back ends share, with
// its queue of headers, the list of finished ones and the thread that hands
// them to the callback in order.
//
// Threads: every field below `lock` is guarded by it. The back end's own
// thread (the card's, or the virtual card's pump) fills or drains the queue
// under the lock; only the device thread calls the callback, never holding
// the lock.
#pragma once
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include "platform/sound/sound.h"

using steady_clock = std::chrono::steady_clock;

// A list of headers linked through their `next` field.
struct header_queue {
    wave_header* first = nullptr;
    wave_header* last = nullptr;
    bool empty() const { return first == nullptr; }
    void push(wave_header* h)
    {
        h->next = nullptr;
        if (last)
            last->next = h;
        else
            first = h;
        last = h;
    }
    wave_header* pop()
    {
        wave_header* h = first;
        if (h) {
            first = h->next;
            if (!first)
                last = nullptr;
            h->next = nullptr;
        }
        return h;
    }
};

// header.reserved while a finished header waits for its callback: it may not
// be queued again before the application has heard of it.
constexpr uintptr_t HEADER_AWAITS_CALLBACK = 0x574F4B45;

struct sound_device;

// What a back end does for one open device.
class device_engine {
public:
    virtual ~device_engine() = default;
    // Input: begin capturing (called without the lock). Output: not used.
    virtual unsigned start() { return MMSYSERR_NOERROR; }
    // No data moves after it returns (called without the lock).
    virtual void stop() {}
    // Releases what the open took (called without the lock, after stop).
    virtual void close() {}
    // Device thread, lock held: move whatever is due; returns when it wants
    // to run again (time_point::max() to sleep until woken).
    virtual steady_clock::time_point pump(std::unique_lock<std::mutex>&) { return steady_clock::time_point::max(); }
    // Lock held: output was paused, restarted, reset or given a buffer.
    virtual void output_changed() {}
};

struct sound_device {
    uint32_t magic = 0;
    bool input = true;
    wave_format format = {};
    wave_callback callback = nullptr;
    uintptr_t instance = 0;

    std::mutex lock;
    std::condition_variable wake;       // the device thread sleeps on it
    std::condition_variable drained;    // callers wait for the callbacks on it
    header_queue queue;                 // input: to fill; output: to play
    header_queue done;                  // finished, waiting for the callback
    int in_flight = 0;                  // callbacks being made right now
    bool running = false;               // input: capturing; output: not paused
    bool quitting = false;
    bool starved = false;               // input arrived with no buffer queued
    uint32_t head_offset = 0;           // output: bytes of the first header played
    uint64_t bytes_played = 0;          // output: since open or the last reset

    std::unique_ptr<device_engine> engine;
    std::thread thread;
    std::thread::id thread_id;
};

struct wave_in_object : sound_device {};
struct wave_out_object : sound_device {};

// Starts the device thread and sends the open message.
void device_begin(sound_device* d);
// Stops the device thread after the last callbacks and sends the close message.
void device_end(sound_device* d);

// Lock held: takes the first queued header off the queue as finished and
// puts it on the list for its callback.
void device_finish_head(sound_device* d);
// Lock held: returns every queued header (input keeps what was recorded).
void device_finish_all(sound_device* d);
// Lock held: waits until every finished header has been through the
// callback (unless called on the device thread itself).
void device_wait_drained(sound_device* d, std::unique_lock<std::mutex>& held);

// Lock held: copies `count` bytes of input (whole frames) into the queued
// headers, finishing each that fills. Input with no header to take it is
// lost and counted as an overflow.
void input_deliver(sound_device* d, const uint8_t* bytes, uint32_t count);
// Lock held: takes up to `count` bytes of output from the queued headers
// into `out` (when not null) and to the tap, finishing each header played to
// its end. Returns the bytes taken.
uint32_t output_take(sound_device* d, uint8_t* out, uint32_t count);

// The overflow count that sound_input_overflows() reports.
void sound_count_overflow();
// The tap of played output (virtual card).
void output_tap(const uint8_t* bytes, uint32_t count);
