// What the virtual sound card plays into its input: a 16-bit PCM WAV file
// read piece by piece, or the demo record rendered as it goes.
#include "platform/sound/pcm_source.h"
#include <cerrno>
#include "platform/system/byte_order.h"
#include <cstdio>
#include <cstring>
#include "platform/sound/demo_record.h"

namespace {

constexpr uint16_t TAG_EXTENSIBLE = 0xFFFE;

class wav_source : public pcm_source {
public:
    wav_source(FILE* f, uint32_t rate, int channels, uint64_t data_bytes)
        : file_(f), rate_(rate), channels_(channels), frames_left_(data_bytes / (2u * channels)) {}
    ~wav_source() override { std::fclose(file_); }
    uint32_t rate() const override { return rate_; }
    int channels() const override { return channels_; }

    uint32_t read(int16_t* out, uint32_t frames) override
    {
        if (frames > frames_left_)
            frames = uint32_t(frames_left_);
        size_t samples = size_t(frames) * channels_;
        uint8_t* bytes = reinterpret_cast<uint8_t*>(out);
        size_t got = std::fread(bytes, 2 * channels_, frames, file_);
        if (got < frames)
            frames_left_ = 0;   // a short file or a read error ends the record here
        else
            frames_left_ -= got;
        samples = got * channels_;
        // The file is little-endian; assemble each sample from its bytes.
        for (size_t i = 0; i < samples; ++i)
            out[i] = int16_t(load_le16(bytes + 2 * i));
        return uint32_t(got);
    }

    uint64_t skip(uint64_t frames) override
    {
        if (frames > frames_left_)
            frames = frames_left_;
        if (std::fseek(file_, long(frames * 2 * channels_), SEEK_CUR) != 0) {
            frames_left_ = 0;
            return 0;
        }
        frames_left_ -= frames;
        return frames;
    }

private:
    FILE* file_;
    uint32_t rate_;
    int channels_;
    uint64_t frames_left_;
};

class demo_source : public pcm_source {
public:
    explicit demo_source(demo_record* r) : record_(r) {}
    ~demo_source() override { demo_record_close(record_); }
    uint32_t rate() const override { return DEMO_RATE; }
    int channels() const override { return DEMO_CHANNELS; }
    uint32_t read(int16_t* out, uint32_t frames) override { return demo_record_render(record_, out, frames); }
    uint64_t skip(uint64_t frames) override { return demo_record_skip(record_, frames); }

private:
    demo_record* record_;
};

}  // namespace

std::unique_ptr<pcm_source> open_wav_source(const char* path, std::string* error)
{
    auto fail = [&](const std::string& why) {
        *error = std::string(path) + ": " + why;
        return nullptr;
    };
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return fail(std::strerror(errno));
    std::fseek(f, 0, SEEK_END);
    long end = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    uint64_t file_bytes = end < 0 ? 0 : uint64_t(end);

    auto close_fail = [&](const std::string& why) {
        std::fclose(f);
        return fail(why);
    };
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, f) != 12 || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return close_fail("not a WAV file (no RIFF/WAVE header)");

    bool have_fmt = false;
    uint16_t tag = 0, channels = 0, block_align = 0, bits = 0;
    uint32_t rate = 0;
    uint64_t pos = 12;
    for (;;) {
        uint8_t head[8];
        if (std::fread(head, 1, 8, f) != 8)
            return close_fail("no data chunk");
        uint32_t size = load_le32(head + 4);
        pos += 8;
        if (std::memcmp(head, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            if (size < 16 || size > file_bytes - pos)
                return close_fail("broken format chunk");
            uint32_t want = size < sizeof fmt ? size : uint32_t(sizeof fmt);
            if (std::fread(fmt, 1, want, f) != want)
                return close_fail("broken format chunk");
            tag = load_le16(fmt);
            channels = load_le16(fmt + 2);
            rate = load_le32(fmt + 4);
            block_align = load_le16(fmt + 12);
            bits = load_le16(fmt + 14);
            // An extensible record names its real format in the sub-format's
            // first two bytes (1 for PCM).
            if (tag == TAG_EXTENSIBLE && want >= 26)
                tag = load_le16(fmt + 24);
            have_fmt = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!have_fmt)
                return close_fail("data chunk before the format chunk");
            if (tag != 1 || bits != 16 || channels < 1 || channels > 2 || block_align != 2 * channels)
                return close_fail("only 16-bit PCM with 1 or 2 channels can be played");
            if (rate < 1000 || rate > 384000)
                return close_fail("sample rate " + std::to_string(rate) + " Hz is out of range (1000 to 384000)");
            // A size past the end of the file (a recording cut short) plays what is there.
            uint64_t data = size;
            if (data > file_bytes - pos)
                data = file_bytes - pos;
            if (std::fseek(f, long(pos), SEEK_SET) != 0)
                return close_fail("cannot seek to the samples");
            return std::make_unique<wav_source>(f, rate, channels, data);
        }
        // Any other chunk is skipped, with its pad byte.
        uint64_t skip = uint64_t(size) + (size & 1);
        if (skip > file_bytes - pos)
            return close_fail("no data chunk");
        pos += skip;
        if (std::fseek(f, long(pos), SEEK_SET) != 0)
            return close_fail("no data chunk");
    }
}

std::unique_ptr<pcm_source> open_demo_source(std::string* error)
{
    demo_record* r = demo_record_open();
    if (!r) {
        *error = "demo: not enough memory";
        return nullptr;
    }
    return std::make_unique<demo_source>(r);
}
