// Helpers of the codec tests: run a whole signal through a stream, store it
// as a WAV file, decode it with a program no one here wrote, and measure.
#pragma once
#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>
#include "platform/acm/acm.h"

namespace codec_check {

inline format_area format_of(const char* spelling)
{
    format_area f;
    char why[160];
    EXPECT_EQ(acm_parse_spelling(spelling, &f, why, sizeof why), 0) << why;
    return f;
}

inline format_area pcm_source_for(const format_area& dst)
{
    format_area src = {};
    EXPECT_EQ(acm_format_suggest(&dst.fmt, &src.fmt, FORMAT_AREA_BYTES, 0), 0u);
    return src;
}

// Converts the samples buffer by buffer (buffer_bytes of source each) with
// block alignment, the last buffer without it and flagged END, as the batch
// encoder does. Returns the stored bytes.
inline std::vector<uint8_t> encode_all(const format_area& dst, const std::vector<int16_t>& samples,
                                       uint32_t buffer_bytes = 8192)
{
    std::vector<uint8_t> out;
    format_area src = pcm_source_for(dst);
    acm_stream s = nullptr;
    EXPECT_EQ(acm_stream_open(&s, &src.fmt, &dst.fmt, 0), 0u);
    if (!s)
        return out;
    uint32_t room = 0;
    EXPECT_EQ(acm_stream_size(s, buffer_bytes, &room, ACM_STREAMSIZEF_SOURCE), 0u);
    std::vector<uint8_t> in_buf(buffer_bytes), out_buf(room);
    acm_stream_header h = {};
    h.struct_size = sizeof h;
    h.src = in_buf.data();
    h.src_length = buffer_bytes;
    h.dst = out_buf.data();
    h.dst_length = room;
    EXPECT_EQ(acm_stream_prepare_header(s, &h, 0), 0u);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    size_t total = samples.size() * 2, pos = 0;
    bool first = true;
    while (true) {
        size_t n = total - pos < buffer_bytes ? total - pos : buffer_bytes;
        bool last = pos + n >= total;
        std::memcpy(in_buf.data(), bytes + pos, n);
        h.src_length = uint32_t(n);
        uint32_t flags = last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
        if (first)
            flags |= ACM_STREAMCONVERTF_START;
        first = false;
        EXPECT_EQ(acm_stream_convert(s, &h, flags), 0u);
        out.insert(out.end(), out_buf.begin(), out_buf.begin() + h.dst_length_used);
        pos += h.src_length_used;
        if (last || h.src_length_used == 0)
            break;
    }
    EXPECT_EQ(acm_stream_unprepare_header(s, &h, 0), 0u);
    EXPECT_EQ(acm_stream_close(s, 0), 0u);
    return out;
}

// A scratch directory for the test's files, removed at the end.
struct scratch_dir {
    std::string path;
    scratch_dir()
    {
        char tmpl[] = "/tmp/trackmill-acm-XXXXXX";
        path = mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    ~scratch_dir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const char* name) const { return path + "/" + name; }
};

inline void put32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(uint8_t(x >> (8 * i)));
}

// The WAV layout of a capture file: a 16-byte format chunk without extra
// bytes, 18 + extra otherwise.
inline void write_wav(const std::string& path, const format_area& f, const std::vector<uint8_t>& data)
{
    uint32_t l = f.fmt.cb_size ? 18u + f.fmt.cb_size : 16u;
    std::vector<uint8_t> v;
    v.insert(v.end(), {'R', 'I', 'F', 'F'});
    put32(v, 20 + l + uint32_t(data.size()));
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(v, l);
    v.insert(v.end(), f.bytes, f.bytes + l);
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    put32(v, uint32_t(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(out);
    std::fwrite(v.data(), 1, v.size(), out);
    std::fclose(out);
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& data)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(out);
    std::fwrite(data.data(), 1, data.size(), out);
    std::fclose(out);
}

inline std::vector<int16_t> read_raw(const std::string& path)
{
    std::vector<int16_t> v;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return v;
    int16_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 2, 4096, in)) > 0)
        v.insert(v.end(), buf, buf + n);
    std::fclose(in);
    return v;
}

// Runs a shell command quietly; true when it exited with 0.
inline bool run(const std::string& command)
{
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

// Decodes a WAV file with sox into 16-bit samples.
inline std::vector<int16_t> sox_decode(const scratch_dir& dir, const std::string& wav)
{
    std::string raw = dir.file("decoded.raw");
    if (!run("sox '" + wav + "' -t raw -e signed-integer -b 16 -L '" + raw + "'"))
        return {};
    return read_raw(raw);
}

// Decodes a WAV file with ffmpeg into 16-bit samples.
inline std::vector<int16_t> ffmpeg_decode(const scratch_dir& dir, const std::string& wav)
{
    std::string raw = dir.file("decoded-ffmpeg.raw");
    if (!run("ffmpeg -v error -y -i '" + wav + "' -f s16le '" + raw + "'"))
        return {};
    return read_raw(raw);
}

// Signal-to-noise ratio in dB of the decoded signal against the input, at
// the delay (0..max_lag frames) that matches them best (found on the first
// 16384 frames); the compared span ends where the shorter one does.
inline double snr_at(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int channels, int lag,
                     size_t frame_limit)
{
    size_t ref_frames = ref.size() / channels, dec_frames = dec.size() / channels;
    if (size_t(lag) >= dec_frames)
        return -1e9;
    size_t n = ref_frames < dec_frames - lag ? ref_frames : dec_frames - lag;
    if (n > frame_limit)
        n = frame_limit;
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n * channels; ++i) {
        double x = ref[i], y = dec[i + size_t(lag) * channels];
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    return noise > 0 ? 10 * std::log10(signal / noise) : 200;
}

inline double snr_db(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int channels,
                     int max_lag = 0, int* lag_found = nullptr)
{
    int best_lag = 0;
    double best = -1e9;
    for (int lag = 0; lag <= max_lag && max_lag > 0; ++lag) {
        double snr = snr_at(ref, dec, channels, lag, 16384);
        if (snr > best) {
            best = snr;
            best_lag = lag;
        }
    }
    if (lag_found)
        *lag_found = best_lag;
    return snr_at(ref, dec, channels, best_lag, SIZE_MAX);
}

// Decodes MPEG audio frames with mpg123 into 16-bit samples.
inline std::vector<int16_t> mpg123_decode(const scratch_dir& dir, const std::vector<uint8_t>& frames)
{
    std::string mp3 = dir.file("frames.mp3"), raw = dir.file("decoded.raw");
    write_bytes(mp3, frames);
    if (!run("mpg123 -q -e s16 -s '" + mp3 + "' > '" + raw + "'"))
        return {};
    return read_raw(raw);
}

} // namespace codec_check
