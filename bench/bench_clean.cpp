// Speed of the cleaning passes on a 10-minute 44.1 kHz stereo track: each
// pass against a plain copy through the same RIFF layer and against real
// time, with the process's peak memory. Goal: every pass within 3x the copy.
//
// bench_clean [MINUTES [RUNS [PASS]]]   (default 10 minutes, best of 5 runs,
// every pass; PASS is declick, denoise or fadein, for a profiler's run of one
// pass. The track is made in a private directory under /tmp and removed
// afterwards)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>
#include "core/app_state.h"
#include "clean/process_track.h"
#include "platform/file/riff.h"
#include "platform/sound/sound.h"

namespace {

constexpr int RATE = 44100;
int runs = 5;   // best of, against noise from the other users of the machine

// Times are the process's CPU time (user and system): the machine is
// shared, and wall time there measures the neighbours as much as the pass.
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
double wall_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long peak_kib()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Music-like material: two tones, noise, a click every second or so and a
// zigzag now and then, so that every pass finds work.
bool make_track(const std::string& name, uint32_t frames)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return false;
    auto put32 = [f](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto put16 = [f](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    const uint32_t data = frames * 4;
    std::fwrite("RIFF", 1, 4, f);
    put32(36 + data);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(16);
    put16(1);
    put16(2);
    put32(RATE);
    put32(RATE * 4);
    put16(4);
    put16(16);
    std::fwrite("data", 1, 4, f);
    put32(data);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, 300);
    std::vector<int16_t> block(2 * 4096);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min<uint32_t>(4096, frames - done);
        for (uint32_t j = 0; j < n; ++j) {
            const uint32_t i = done + j;
            double l = 6000 * std::sin(i * 0.0627) + 3000 * std::sin(i * 0.0131) + noise(rng);
            double r = 5000 * std::sin(i * 0.0511) + 2000 * std::sin(i * 0.0097) + noise(rng);
            if (i % 45000 < 3)
                l = r = (i % 45000 == 2) ? -24000 : 22000;
            if (i % 30000 < 12)
                l += (i & 1) ? 1500 : -1500;
            block[2 * j] = int16_t(std::clamp(l, -32768.0, 32767.0));
            block[2 * j + 1] = int16_t(std::clamp(r, -32768.0, 32767.0));
        }
        std::fwrite(block.data(), 4, n, f);
        done += n;
    }
    return std::fclose(f) == 0;
}

// The reference: the track's samples copied buffer by buffer into a new
// WAV file, through the buffers the passes use, doing nothing to them.
[[gnu::noinline]] bool plain_copy(const char* in_name, const char* out_name)
{
    riff_info in_info{}, out_info{};
    riff_file in = riff_open(in_name, &in_info, MMIO_READ | MMIO_ALLOCBUF);
    riff_file out = riff_open(out_name, &out_info, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    bool ok = in && out;
    riff_chunk riff{}, fmt{}, data{}, out_riff{}, out_fmt{}, out_data{};
    uint8_t format[32];
    if (ok) {
        fmt.id = FOURCC_FMT;
        data.id = FOURCC_DATA;
        ok = riff_descend(in, &riff, nullptr, 0) == 0 && riff_descend(in, &fmt, &riff, MMIO_FINDCHUNK) == 0 &&
             fmt.size <= sizeof format && riff_read(in, format, int32_t(fmt.size)) == int32_t(fmt.size) &&
             riff_descend(in, &data, &riff, MMIO_FINDCHUNK) == 0;
    }
    if (ok) {
        out_riff.form_type = FOURCC_WAVE;
        out_fmt.id = FOURCC_FMT;
        out_data.id = FOURCC_DATA;
        ok = riff_create_chunk(out, &out_riff, MMIO_CREATERIFF) == 0 && riff_create_chunk(out, &out_fmt, 0) == 0 &&
             riff_write(out, format, int32_t(fmt.size)) == int32_t(fmt.size) && riff_ascend(out, &out_fmt, 0) == 0 &&
             riff_create_chunk(out, &out_data, 0) == 0 && riff_get_info(in, &in_info) == 0 &&
             riff_get_info(out, &out_info) == 0;
    }
    uint64_t left = data.size;
    while (ok && left > 0) {
        if (in_info.next >= in_info.end_read) {
            ok = riff_advance(in, &in_info, MMIO_READ) == 0 && in_info.next < in_info.end_read;
            continue;
        }
        if (out_info.next >= out_info.end_write) {
            out_info.flags |= MMIO_DIRTY;
            ok = riff_advance(out, &out_info, MMIO_WRITE) == 0;
            continue;
        }
        const uint64_t n = std::min<uint64_t>({left, uint64_t(in_info.end_read - in_info.next),
                                               uint64_t(out_info.end_write - out_info.next)});
        std::memcpy(out_info.next, in_info.next, n);
        in_info.next += n;
        out_info.next += n;
        left -= n;
    }
    if (ok) {
        out_info.flags |= MMIO_DIRTY;
        ok = riff_set_info(out, &out_info) == 0 && riff_ascend(out, &out_data, 0) == 0 &&
             riff_ascend(out, &out_riff, 0) == 0;
    }
    if (out && riff_close(out) != 0)
        ok = false;
    if (in)
        riff_close(in);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : runs;
    const char* only = argc > 3 ? argv[3] : nullptr;
    const uint32_t frames = uint32_t(minutes * 60 * RATE);
    char tmpl[] = "/tmp/tm-bench-clean-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("bench_clean: mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    const std::string track = dir + "/track3.wav";
    if (!make_track(track, frames)) {
        std::fprintf(stderr, "bench_clean: cannot write %s\n", track.c_str());
        return 1;
    }
    const double audio_seconds = double(frames) / RATE;
    std::printf("track: %.1f min, 44.1 kHz stereo 16-bit, %.1f MB; peak memory after making it %ld KiB\n",
                minutes, frames * 4 / 1e6, peak_kib());

    double copy = 1e9, copy_wall = 1e9;
    for (int run = 0; run < runs; ++run) {
        const double c0 = cpu_seconds(), w0 = wall_seconds();
        if (!plain_copy(track.c_str(), (dir + "/copy.wav").c_str())) {
            std::fprintf(stderr, "bench_clean: the plain copy failed\n");
            return 1;
        }
        copy = std::min(copy, cpu_seconds() - c0);
        copy_wall = std::min(copy_wall, wall_seconds() - w0);
    }
    std::printf("%-10s cpu %6.3f s (wall %6.3f s)  %6.0fx real time                  peak %ld KiB\n", "plain copy",
                copy, copy_wall, audio_seconds / copy, peak_kib());

    // A run ends by opening the preview's output device: the virtual card,
    // so that no sound card's start-up is timed with the pass.
    sound_use_virtual("demo");
    struct { const char* name; int mode; } passes[] = {
        {"declick", MODE_DECLICK}, {"denoise", MODE_DENOISE}, {"fadein", MODE_FADE_IN}};
    int status = 0;
    for (auto& p : passes) {
        if (only && std::strcmp(only, p.name) != 0)
            continue;
        double best = 1e9, best_wall = 1e9;
        for (int run = 0; run < runs; ++run) {
            const double c0 = cpu_seconds(), w0 = wall_seconds();
            const int32_t r = process_track(nullptr, track.c_str(), p.mode);
            const double c = cpu_seconds() - c0, w = wall_seconds() - w0;
            app.track_in = nullptr;
            if (r != 0) {
                std::fprintf(stderr, "bench_clean: %s failed (%d): %s\n", p.name, int(r), app.result_text);
                return 1;
            }
            best = std::min(best, c);
            best_wall = std::min(best_wall, w);
        }
        const double ratio = best / copy;
        std::printf("%-10s cpu %6.3f s (wall %6.3f s)  %6.0fx real time  %5.2fx the copy  peak %ld KiB  (%s)%s\n",
                    p.name, best, best_wall, audio_seconds / best, ratio, peak_kib(), app.result_text,
                    ratio > 3 ? "  OVER 3x" : "");
        if (ratio > 3)
            status = 1;
    }
    const std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0)
        std::fprintf(stderr, "bench_clean: could not remove %s\n", dir.c_str());
    return status;
}
