// One hour of 44.1 kHz 16-bit stereo from the virtual card in fast mode
// through the capture ring, in each of the ring's three shapes, to a
// consumer that only queues every buffer again: wall time, multiple of real
// time, virtual clock and peak memory.
#include <sys/resource.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include "core/app_state.h"
#include "capture/capture_ring.h"
#include "platform/sound/sound.h"
#include "platform/system/system.h"

namespace {

// The buffers the callback hands over, in a fixed ring: nothing is
// allocated per buffer.
struct handover {
    std::mutex lock;
    std::condition_variable ready;
    wave_header* slots[64] = {};
    unsigned head = 0, tail = 0;
} box;

void ring_callback(void*, unsigned message, uintptr_t, uintptr_t header, uintptr_t)
{
    if (message != WIM_DATA)
        return;
    std::lock_guard<std::mutex> held(box.lock);
    box.slots[box.tail++ % 64] = reinterpret_cast<wave_header*>(header);
    box.ready.notify_one();
}

wave_header* next_buffer()
{
    std::unique_lock<std::mutex> held(box.lock);
    box.ready.wait(held, [] { return box.head != box.tail; });
    return box.slots[box.head++ % 64];
}

long peak_kib()
{
    rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

int run(const char* name, uint32_t buffer_bytes, int count)
{
    const uint64_t hour_bytes = 3600ull * 44100 * 4;
    CaptureBufferRing* ring = &app.capture_ring;
    set_capture_params(ring, 2, 16, 44100, buffer_bytes, count);
    if (open_wave_in(ring, ring_callback) != 0) {
        std::fprintf(stderr, "bench_ring: the ring does not open\n");
        return 1;
    }
    clock_set(0);
    auto t0 = std::chrono::steady_clock::now();
    if (start_sampling(ring) != 0) {
        std::fprintf(stderr, "bench_ring: the ring does not start\n");
        return 1;
    }
    uint64_t bytes = 0, buffers = 0;
    while (bytes < hour_bytes) {
        wave_header* h = next_buffer();
        bytes += h->bytes_recorded;
        ++buffers;
        if (wave_in_add_buffer(ring->device, h, sizeof *h) != MMSYSERR_NOERROR) {
            std::fprintf(stderr, "bench_ring: a buffer could not be queued again\n");
            return 1;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    uint32_t clock_ms = get_tick_count();
    stop_sampling(ring);
    close_wave_in(ring);
    box.head = box.tail = 0;
    std::printf("%-15s %5u bytes x %2d: %8llu buffers in %6.2f s = %7.0f x real time; virtual clock %.1f s; peak memory %ld KiB\n",
                name, buffer_bytes, count, (unsigned long long)buffers, seconds, 3600.0 / seconds, clock_ms / 1000.0, peak_kib());
    return 0;
}

}  // namespace

int main()
{
    if (sound_use_virtual("demo") != 0) {
        std::fprintf(stderr, "bench_ring: %s\n", sound_source_error());
        return 1;
    }
    sound_pace_fast();
    std::printf("one hour of 44.1 kHz 16-bit stereo (the demo side, then silence) through the capture ring\n");
    int failed = 0;
    failed |= run("record", 8192, 5);
    failed |= run("monitor", 4096, 5);
    failed |= run("signal sampling", 1024, 30);
    return failed;
}
