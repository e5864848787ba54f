// Helpers of the sound tests: a WAV file writer, an inbox that collects what
// device callbacks send, and a scratch directory.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>
#include "platform/sound/sound.h"

namespace sound_test {

inline void put16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}

// The bytes of a canonical PCM WAV file holding `data`.
inline std::vector<uint8_t> wav_bytes(uint32_t rate, int channels, int bits, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> b;
    uint16_t align = uint16_t(channels * bits / 8);
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    put32(b, uint32_t(36 + data.size()));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(b, 16);
    put16(b, 1);
    put16(b, uint16_t(channels));
    put32(b, rate);
    put32(b, rate * align);
    put16(b, align);
    put16(b, uint16_t(bits));
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

inline std::vector<uint8_t> samples_le(const std::vector<int16_t>& s)
{
    std::vector<uint8_t> b;
    b.reserve(s.size() * 2);
    for (int16_t v : s)
        put16(b, uint16_t(v));
    return b;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

inline std::vector<uint8_t> read_file(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

// A directory of its own under /tmp, removed with its files at the end.
struct scratch_dir {
    std::string path;
    scratch_dir()
    {
        char pattern[] = "/tmp/trackmill-sound-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "/tmp";
    }
    ~scratch_dir()
    {
        std::string command = "rm -rf '" + path + "'";
        if (path != "/tmp" && std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", path.c_str());
    }
    std::string file(const char* name) const { return path + "/" + name; }
};

// What the device callbacks sent, in order. One inbox for the process: the
// ring passes itself as instance data, so the callback cannot carry a pointer.
struct callback_event {
    void* device;
    unsigned message;
    wave_header* header;
    uint32_t bytes;         // header's bytes_recorded when the callback came
    uintptr_t instance;
};

class inbox {
public:
    static inbox& the()
    {
        static inbox box;
        return box;
    }
    static void callback(void* device, unsigned message, uintptr_t instance, uintptr_t p1, uintptr_t)
    {
        auto* h = reinterpret_cast<wave_header*>(p1);
        inbox& box = the();
        std::lock_guard<std::mutex> held(box.lock_);
        box.events_.push_back({device, message, h, h ? h->bytes_recorded : 0, instance});
        box.arrived_.notify_all();
    }
    void clear()
    {
        std::lock_guard<std::mutex> held(lock_);
        events_.clear();
    }
    // The next event with `message`, dropping others; false after `ms`.
    bool next(unsigned message, callback_event* out, int ms = 5000)
    {
        std::unique_lock<std::mutex> held(lock_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            while (!events_.empty()) {
                callback_event e = events_.front();
                events_.pop_front();
                if (e.message == message) {
                    *out = e;
                    return true;
                }
            }
            if (arrived_.wait_until(held, deadline) == std::cv_status::timeout && events_.empty())
                return false;
        }
    }
    std::vector<callback_event> take_all()
    {
        std::lock_guard<std::mutex> held(lock_);
        std::vector<callback_event> all(events_.begin(), events_.end());
        events_.clear();
        return all;
    }
    size_t count(unsigned message)
    {
        std::lock_guard<std::mutex> held(lock_);
        size_t n = 0;
        for (const callback_event& e : events_)
            n += e.message == message;
        return n;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<callback_event> events_;
};

inline wave_format pcm(uint32_t rate, int channels, int bits)
{
    wave_format f = {};
    f.format_tag = WAVE_FORMAT_PCM;
    f.channels = uint16_t(channels);
    f.samples_per_sec = rate;
    f.bits_per_sample = uint16_t(bits);
    f.block_align = uint16_t(channels * bits / 8);
    f.avg_bytes_per_sec = rate * f.block_align;
    return f;
}

}  // namespace sound_test
