// Test helpers of the cleaning tests: WAV tracks built byte by byte (with
// odd format chunks and extra chunks where a test wants them), read back
// chunk by chunk, and a fixture that gives each test a fresh state and a
// private directory.
#pragma once
#include <gtest/gtest.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>
#include "core/app_state.h"
#include "clean/process_track.h"
#include "platform/window/headless.h"

using bytes = std::vector<uint8_t>;
using samples16 = std::vector<int16_t>;

// A small generator of our own: the same numbers on every library.
struct lcg {
    uint64_t state;
    uint32_t next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return uint32_t(state >> 33);
    }
    int32_t in(int32_t lo, int32_t hi) { return lo + int32_t(next() % uint32_t(hi - lo + 1)); }
};

inline int16_t clip(double v)
{
    return int16_t(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

struct track_layout {
    int channels = 1;
    uint32_t rate = 44100;
    uint16_t format_tag = 1;
    uint16_t bits = 16;
    int fmt_size = 16;            // 16, or more with cb_size and extra bytes
    bytes chunk_before_data;      // a whole chunk (id, size, body) before "data"
    bytes chunk_after_data;       // ... and after it
    int extra_data_bytes = 0;     // bytes of data beyond the samples (odd sizes)
};

inline void put16(bytes& b, uint32_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
inline void put32(bytes& b, uint32_t v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }
inline void put_id(bytes& b, const char* id) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i])); }
inline uint32_t get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

inline bytes chunk(const char* id, const bytes& body)
{
    bytes b;
    put_id(b, id);
    put32(b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1)
        b.push_back(0);
    return b;
}

inline bytes wav_bytes(const samples16& s, const track_layout& t = {})
{
    bytes fmt;
    put16(fmt, t.format_tag);
    put16(fmt, uint16_t(t.channels));
    put32(fmt, t.rate);
    put32(fmt, t.rate * uint32_t(t.channels) * t.bits / 8);
    put16(fmt, uint16_t(t.channels * t.bits / 8));
    put16(fmt, t.bits);
    if (t.fmt_size > 16)
        put16(fmt, uint16_t(t.fmt_size - 18));
    while (int(fmt.size()) < t.fmt_size)
        fmt.push_back(uint8_t(0xA0 + fmt.size()));
    fmt.resize(size_t(t.fmt_size));
    bytes data;
    for (int16_t v : s)
        put16(data, uint16_t(v));
    for (int i = 0; i < t.extra_data_bytes; ++i)
        data.push_back(0x5A);
    bytes body;
    put_id(body, "WAVE");
    bytes c = chunk("fmt ", fmt);
    body.insert(body.end(), c.begin(), c.end());
    body.insert(body.end(), t.chunk_before_data.begin(), t.chunk_before_data.end());
    c = chunk("data", data);
    body.insert(body.end(), c.begin(), c.end());
    body.insert(body.end(), t.chunk_after_data.begin(), t.chunk_after_data.end());
    return chunk("RIFF", body);
}

inline void write_file(const std::string& path, const bytes& b)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
inline bytes read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
inline bool file_exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// A WAV file read back: its format chunk and data chunk bodies.
struct parsed_wav {
    bool ok = false;
    bytes fmt;
    bytes data;
    uint32_t data_size = 0;   // as stored in the header
    bool pad_after_fmt = false;
    samples16 samples() const
    {
        samples16 s(data.size() / 2);
        if (!s.empty())   // an empty vector's data() may be null
            std::memcpy(s.data(), data.data(), s.size() * 2);
        return s;
    }
};
inline parsed_wav parse_wav(const bytes& b)
{
    parsed_wav w;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4))
        return w;
    if (get32(&b[4]) != b.size() - 8)
        return w;
    size_t p = 12;
    while (p + 8 <= b.size()) {
        uint32_t size = get32(&b[p + 4]);
        if (p + 8 + size > b.size())
            return w;
        bytes body(b.begin() + long(p + 8), b.begin() + long(p + 8 + size));
        if (!std::memcmp(&b[p], "fmt ", 4)) {
            w.fmt = body;
            w.pad_after_fmt = (size & 1) && p + 8 + size < b.size() && b[p + 8 + size] == 0;
        }
        if (!std::memcmp(&b[p], "data", 4)) {
            w.data = body;
            w.data_size = size;
        }
        p += 8 + size + (size & 1);
    }
    w.ok = !w.fmt.empty() && p == b.size();
    return w;
}

// Interleaves two channels.
inline samples16 stereo(const samples16& left, const samples16& right)
{
    samples16 s;
    for (size_t i = 0; i < left.size(); ++i) {
        s.push_back(left[i]);
        s.push_back(right[i]);
    }
    return s;
}
inline samples16 channel_of(const samples16& s, int channel, int channels)
{
    samples16 c;
    for (size_t i = size_t(channel); i < s.size(); i += size_t(channels))
        c.push_back(s[i]);
    return c;
}

// Frames in the first input buffer of a track with a 16-byte format chunk
// (sample data from byte 44 to 8,192), and in every later one.
constexpr int FIRST_BUFFER_SAMPLES = (8192 - 44) / 2;
constexpr int BUFFER_SAMPLES = 8192 / 2;

class CleanTest : public testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        release();
        app_state_reset();
        headless_reset();
        char tmpl[] = "/tmp/tm-clean-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override
    {
        release();
        app_state_reset();
        headless_reset();
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << dir;
    }
    static void release()
    {
        if (app.track_in)
            riff_close(app.track_in);
        app.track_in = nullptr;
        std::free(app.view_points);
        app.view_points = nullptr;
        std::free(app.work_area);
        app.work_area = nullptr;
    }
    std::string path(const char* name) const { return dir + "/" + name; }

    // Writes `s` as track3.wav, cleans it in `mode`, returns the cleaned file.
    parsed_wav clean(const samples16& s, int mode, const track_layout& t = {}, int32_t* result = nullptr)
    {
        write_file(path("track3.wav"), wav_bytes(s, t));
        int32_t r = process_track(nullptr, path("track3.wav").c_str(), mode);
        if (result)
            *result = r;
        else
            EXPECT_EQ(r, 0) << app.result_text;
        const std::string out = std::string("trac") + mode_letter(mode) + "3.wav";
        return parse_wav(read_file(path(out.c_str())));
    }
};
