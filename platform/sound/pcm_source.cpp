// What the virtual sound card plays into its input: a 16-bit PCM WAV file
// read piece by piece, or the demo record rendered as it goes.
#include "platform/sound/pcm_source.h"
#include <cerrno>
#include "platform/system/byte_order.h"
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include "platform/file/wav_reader.h"
#include "platform/sound/demo_record.h"

namespace {

class wav_source : public pcm_source {
public:
    wav_source(int fd, uint32_t rate, int channels, uint64_t data_offset, uint64_t data_bytes)
        : fd_(fd), rate_(rate), channels_(channels), at_(data_offset), frames_left_(data_bytes / (2u * channels)) {}
    ~wav_source() override { close(fd_); }
    uint32_t rate() const override { return rate_; }
    int channels() const override { return channels_; }

    uint32_t read(int16_t* out, uint32_t frames) override
    {
        if (frames > frames_left_)
            frames = uint32_t(frames_left_);
        const size_t frame_bytes = 2u * size_t(channels_);
        uint8_t* bytes = reinterpret_cast<uint8_t*>(out);
        size_t want = size_t(frames) * frame_bytes, got = 0;
        while (got < want) {
            ssize_t n = pread(fd_, bytes + got, want - got, off_t(at_ + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        const uint32_t whole = uint32_t(got / frame_bytes);
        at_ += uint64_t(whole) * frame_bytes;
        if (whole < frames)
            frames_left_ = 0;   // a short file or a read error ends the record here
        else
            frames_left_ -= whole;
        // The file is little-endian; assemble each sample from its bytes.
        const size_t samples = size_t(whole) * channels_;
        for (size_t i = 0; i < samples; ++i)
            out[i] = int16_t(load_le16(bytes + 2 * i));
        return whole;
    }

    uint64_t skip(uint64_t frames) override
    {
        if (frames > frames_left_)
            frames = frames_left_;
        at_ += frames * 2u * uint64_t(channels_);
        frames_left_ -= frames;
        return frames;
    }

private:
    int fd_;
    uint32_t rate_;
    int channels_;
    uint64_t at_;            // file offset of the next frame
    uint64_t frames_left_;
};

class demo_source : public pcm_source {
public:
    demo_source(demo_record* r, bool repeat) : record_(r), repeat_(repeat) {}
    ~demo_source() override { demo_record_close(record_); }
    uint32_t rate() const override { return DEMO_RATE; }
    int channels() const override { return DEMO_CHANNELS; }
    uint32_t read(int16_t* out, uint32_t frames) override
    {
        uint32_t got = demo_record_render(record_, out, frames);
        while (repeat_ && got < frames) {
            // The side has ended: the needle goes back to its first groove.
            demo_record_rewind(record_);
            got += demo_record_render(record_, out + size_t(got) * DEMO_CHANNELS, frames - got);
        }
        return got;
    }
    uint64_t skip(uint64_t frames) override
    {
        uint64_t done = demo_record_skip(record_, frames);
        while (repeat_ && done < frames) {
            demo_record_rewind(record_);
            done += demo_record_skip(record_, frames - done);
        }
        return done;
    }

private:
    demo_record* record_;
    bool repeat_;
};

}  // namespace

std::unique_ptr<pcm_source> open_wav_source(const char* path, std::string* error)
{
    auto fail = [&](const std::string& why) {
        *error = std::string(path) + ": " + why;
        return nullptr;
    };
    // Without blocking, and only a regular file: a FIFO with no writer
    // would otherwise hang the recording before it starts.
    const int fd = wav_open(path);
    if (fd == WAV_CANNOT_OPEN)
        return fail(std::strerror(errno));
    if (fd < 0)
        return fail(wav_error_text(fd));
    wav_layout l;
    const int r = wav_read_layout(fd, &l);
    if (r != WAV_OK) {
        close(fd);
        if (r == WAV_RATE_OUT_OF_RANGE)
            return fail("sample rate " + std::to_string(l.format.fmt.samples_per_sec) +
                        " Hz is out of range (1000 to 384000)");
        return fail(wav_error_text(r));
    }
    if (!wav_is_pcm16(l)) {
        close(fd);
        return fail("only 16-bit PCM with 1 or 2 channels can be played");
    }
    return std::make_unique<wav_source>(fd, l.format.fmt.samples_per_sec, l.format.fmt.channels, l.data_offset,
                                        l.data_bytes);
}

std::unique_ptr<pcm_source> open_demo_source(std::string* error, bool repeat)
{
    demo_record* r = demo_record_open();
    if (!r) {
        *error = "demo: not enough memory";
        return nullptr;
    }
    return std::make_unique<demo_source>(r, repeat);
}
