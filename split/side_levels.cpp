// Reading a recorded side for the splitter: its format checked, its samples
// streamed once through the RIFF layer into one level per 10 ms window.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include "capture/record_path.h"
#include "platform/audio_format.h"
#include "platform/file/riff.h"
#include "platform/system/byte_order.h"
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
    riff_info info = {};
    info.buffer_size = RIFF_BUFFER_BYTES;
    riff_file f = riff_open(path, &info, MMIO_READ);
    if (!f)
        return fail(why, SPLIT_CANNOT_READ,
                    std::string(path) + (info.error == MMIOERR_FILENOTFOUND ? ": no such file" : ": cannot be opened"));
    struct closer {
        riff_file f;
        ~closer() { riff_close(f); }
    } close_at_end{f};

    riff_chunk riff = {}, fmt = {}, data = {};
    if (riff_descend(f, &riff, nullptr, 0) != 0 || riff.id != FOURCC_RIFF || riff.form_type != FOURCC_WAVE)
        return fail(why, SPLIT_BAD_FORMAT, std::string(path) + ": not a WAV file");
    fmt.id = FOURCC_FMT;
    uint8_t raw[16] = {};
    if (riff_descend(f, &fmt, &riff, MMIO_FINDCHUNK) != 0 || fmt.size < 16 || riff_read(f, raw, 16) != 16 ||
        riff_ascend(f, &fmt, 0) != 0)
        return fail(why, SPLIT_BAD_FORMAT, std::string(path) + ": a WAV file without a readable format chunk");
    const uint16_t tag = load_le16(raw), channels = load_le16(raw + 2), align = load_le16(raw + 12),
                   bits = load_le16(raw + 14);
    const uint32_t rate = load_le32(raw + 4);
    if (tag != WAVE_FORMAT_PCM || bits != 16 || (channels != 1 && channels != 2) || align != 2 * channels ||
        rate < 100 || rate > 768000) {
        char text[200];
        std::snprintf(text, sizeof text,
                      ": only 16-bit PCM, mono or stereo, can be split (this side is format %u, %u bits, %u "
                      "channels at %u Hz); convert it first",
                      unsigned(tag), unsigned(bits), unsigned(channels), unsigned(rate));
        return fail(why, SPLIT_BAD_FORMAT, std::string(path) + text);
    }
    data.id = FOURCC_DATA;
    if (riff_descend(f, &data, &riff, MMIO_FINDCHUNK) != 0)
        return fail(why, SPLIT_BAD_FORMAT, std::string(path) + ": a WAV file without a data chunk");

    // A recording whose sizes were never patched claims more than the file
    // holds: only the bytes really there are samples.
    const int64_t file_size = riff_seek(f, 0, SEEK_END);
    if (file_size < 0 || riff_seek(f, data.data_offset, SEEK_SET) != int64_t(data.data_offset))
        return fail(why, SPLIT_CANNOT_READ, std::string(path) + ": cannot be read");
    const uint64_t bytes = std::min<uint64_t>(data.size, uint64_t(file_size - data.data_offset));

    side->rate = rate;
    side->channels = channels;
    side->frame_bytes = align;
    side->data_offset = data.data_offset;
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
