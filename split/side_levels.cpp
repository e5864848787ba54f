// Reading a recorded side for the splitter: its format checked, its samples
// streamed once through the RIFF layer into one level per 10 ms window.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>
#include "capture/record_path.h"
#include "platform/audio_format.h"
#include "platform/file/riff.h"
#include "platform/file/wav_reader.h"
#include "split/split.h"

namespace {

// Reads go through a large window: a side is read front to back once.
constexpr int32_t RIFF_BUFFER_BYTES = 1 << 20;
constexpr uint32_t READ_BYTES = 1 << 20;   // levels are measured over this much at a time
constexpr uint32_t PROGRESS_BYTES = 32u << 20;

int fail(std::string* why, int code, const std::string& text)
{
    if (why)
        *why = text;
    return code;
}

// The level of one window: the mean absolute sample of the two halves that
// measure_levels reports (left and right of a stereo side; for a mono side
// the even and odd samples of every second pair), averaged.
uint16_t window_level(const uint8_t* bytes, uint32_t length)
{
    int32_t left = 0, right = 0;
    measure_levels(bytes, length, &left, &right);
    return uint16_t((left + right + 1) / 2);
}

} // namespace

int read_side_levels(const char* path, side_levels* side, std::string* why, split_progress progress)
{
    *side = side_levels{};

    // The layout comes from the one WAV reader, so that a side is read as
    // the cleaning and the batch tool read it: the first format chunk,
    // extensible PCM as PCM, and a recording whose sizes were never patched
    // (claiming more than the file holds) read to the file's end.
    const int fd = wav_open(path);
    if (fd < 0) {
        const bool missing = fd == WAV_CANNOT_OPEN && errno == ENOENT;
        return fail(why, SPLIT_CANNOT_READ,
                    std::string(path) + (missing ? ": no such file" : std::string(": ") + wav_error_text(fd)));
    }
    wav_layout l{};
    const int read = wav_read_layout(fd, &l);
    wav_close(fd);
    if (read == WAV_NOT_WAV)
        return fail(why, SPLIT_BAD_FORMAT, std::string(path) + ": not a WAV file");
    if (read != WAV_OK && read != WAV_RATE_OUT_OF_RANGE)
        return fail(why, read == WAV_READ_FAILED ? SPLIT_CANNOT_READ : SPLIT_BAD_FORMAT,
                    std::string(path) + ": " + wav_error_text(read));
    const wave_format& fmt = l.format.fmt;
    const uint16_t channels = fmt.channels, align = fmt.block_align;
    const uint32_t rate = fmt.samples_per_sec;
    if (read != WAV_OK || !wav_is_pcm16(l) || align != 2 * channels) {
        char text[200];
        std::snprintf(text, sizeof text,
                      ": only 16-bit PCM, mono or stereo, can be split (this side is format %u, %u bits, %u "
                      "channels at %u Hz); convert it first",
                      unsigned(fmt.format_tag), unsigned(fmt.bits_per_sample), unsigned(channels), unsigned(rate));
        return fail(why, SPLIT_BAD_FORMAT, std::string(path) + text);
    }
    riff_info info = {};
    info.buffer_size = RIFF_BUFFER_BYTES;
    riff_file f = riff_open(path, &info, MMIO_READ);
    if (!f)
        return fail(why, SPLIT_CANNOT_READ, std::string(path) + ": cannot be opened");
    struct closer {
        riff_file f;
        ~closer() { riff_close(f); }
    } close_at_end{f};
    if (riff_seek(f, int64_t(l.data_offset), SEEK_SET) != int64_t(l.data_offset))
        return fail(why, SPLIT_CANNOT_READ, std::string(path) + ": cannot be read");
    const uint64_t bytes = l.data_bytes;

    side->rate = rate;
    side->channels = channels;
    side->frame_bytes = align;
    side->data_offset = int64_t(l.data_offset);
    side->frames = bytes / align;
    side->window_frames = std::max<uint32_t>(1, rate / SPLIT_WINDOWS_PER_SECOND);
    const uint32_t window_bytes = side->window_frames * align;
    const uint64_t windows = (side->frames + side->window_frames - 1) / side->window_frames;
    side->level.reserve(size_t(windows));

    // Whole windows per read, so that no window straddles two reads.
    const uint32_t per_read = std::max<uint32_t>(1, READ_BYTES / window_bytes) * window_bytes;
    std::vector<uint8_t> buffer(per_read);
    uint64_t left = side->frames * align, since_progress = 0;
    while (left > 0) {
        const uint32_t want = uint32_t(std::min<uint64_t>(left, per_read));
        if (riff_read(f, buffer.data(), int32_t(want)) != int32_t(want))
            return fail(why, SPLIT_CANNOT_READ, std::string(path) + ": cannot be read to the end of its samples");
        for (uint32_t at = 0; at < want; at += window_bytes)
            side->level.push_back(window_level(buffer.data() + at, std::min(window_bytes, want - at)));
        left -= want;
        since_progress += want;
        if (progress && since_progress >= PROGRESS_BYTES) {
            since_progress = 0;
            progress(1.0 - double(left) / double(side->frames * align));
        }
    }
    return SPLIT_OK;
}
