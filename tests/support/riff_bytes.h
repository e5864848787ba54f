// Test helpers for RIFF files: a private temporary directory, whole-file
// reads and writes, and a builder that lays out chunks byte by byte.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>

using bytes = std::vector<uint8_t>;

// A fresh directory under /tmp, removed with everything in it at the end.
class temp_dir {
public:
    temp_dir()
    {
        char pattern[] = "/tmp/trackmill-riff-XXXXXX";
        char* made = mkdtemp(pattern);
        path_ = made ? made : "/tmp";
    }
    ~temp_dir()
    {
        if (path_ != "/tmp")
            std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline void write_whole_file(const std::string& name, const bytes& data)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

inline bytes read_whole_file(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t le32_at(const bytes& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

inline uint16_t le16_at(const bytes& b, size_t at)
{
    return uint16_t(b[at] | (b[at + 1] << 8));
}

inline std::string id_at(const bytes& b, size_t at)
{
    return std::string(reinterpret_cast<const char*>(&b[at]), 4);
}

// Appends raw pieces; sizes are written as given, so broken files are as
// easy to make as good ones.
struct riff_builder {
    bytes out;

    riff_builder& id(const char* four)
    {
        out.insert(out.end(), four, four + 4);
        return *this;
    }
    riff_builder& u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    riff_builder& u16(uint16_t v)
    {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
        return *this;
    }
    riff_builder& raw(const bytes& b)
    {
        out.insert(out.end(), b.begin(), b.end());
        return *this;
    }
    riff_builder& fill(size_t n, uint8_t v)
    {
        out.insert(out.end(), n, v);
        return *this;
    }
    // A chunk with a correct size and its pad byte.
    riff_builder& chunk(const char* four, const bytes& body)
    {
        id(four).u32(uint32_t(body.size())).raw(body);
        if (body.size() & 1)
            out.push_back(0);
        return *this;
    }
    // The 16-byte PCM format record.
    static bytes pcm_format(uint16_t channels, uint32_t rate, uint16_t bits)
    {
        riff_builder b;
        uint16_t align = uint16_t(channels * bits / 8);
        b.u16(1).u16(channels).u32(rate).u32(rate * align).u16(align).u16(bits);
        return b.out;
    }
    // "RIFF" size "WAVE" around the chunks already added; size = what follows.
    bytes wave() const
    {
        riff_builder b;
        b.id("RIFF").u32(uint32_t(out.size() + 4)).id("WAVE").raw(out);
        return b.out;
    }
};

// Samples that differ from byte to byte, so a misplaced window shows.
inline bytes pattern_bytes(size_t n, uint32_t seed = 1)
{
    bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = uint8_t(x >> 16);
    }
    return b;
}

// The 44-byte-header PCM track as the capture writes it, with its data.
inline bytes pcm_track(const bytes& data, uint16_t channels = 2)
{
    riff_builder b;
    b.chunk("fmt ", riff_builder::pcm_format(channels, 44100, 16));
    b.id("data").u32(uint32_t(data.size())).raw(data);
    if (data.size() & 1)
        b.out.push_back(0);
    return b.wave();
}
