// Reading a WAV file's layout over a plain descriptor: the chunk walk that
// every reader of a WAV file goes by, so that all of them agree.
#include "platform/file/wav_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/system/byte_order.h"

namespace {

// Reads exactly n bytes at `at`; false on a short read or a failure.
bool read_at(int fd, uint64_t at, void* out, size_t n, bool* failed)
{
    size_t done = 0;
    while (done < n) {
        ssize_t r = pread(fd, static_cast<uint8_t*>(out) + done, n - done, off_t(at + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            *failed = true;
        if (r <= 0)
            return false;
        done += size_t(r);
    }
    return true;
}

// The extensible record's sub-format names its real tag in its first two
// bytes (at 24 in the chunk): PCM becomes a plain 16-byte PCM record.
void plain_pcm_from_extensible(wav_layout* l, uint32_t stored_bytes)
{
    if (stored_bytes < 40 || l->format.fmt.cb_size < 22 || load_le16(l->format.bytes + 24) != WAVE_FORMAT_PCM)
        return;
    l->format.fmt.format_tag = WAVE_FORMAT_PCM;
    l->format.fmt.cb_size = 0;
    std::memset(l->format.bytes + 16, 0, FORMAT_AREA_BYTES - 16);
    l->format_bytes = 16;
}

} // namespace

int wav_open(const char* path, bool writable)
{
    int fd = open(path, (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return WAV_CANNOT_OPEN;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return WAV_NOT_REGULAR;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void wav_close(int fd)
{
    if (fd >= 0)
        close(fd);
}

int wav_read_layout(int fd, wav_layout* out)
{
    wav_layout l = {};
    struct stat st;
    if (fstat(fd, &st) != 0)
        return WAV_READ_FAILED;
    l.file_bytes = uint64_t(st.st_size);
    bool failed = false;
    uint8_t head[12];
    if (!read_at(fd, 0, head, sizeof head, &failed))
        return failed ? WAV_READ_FAILED : WAV_NOT_WAV;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return WAV_NOT_WAV;
    l.riff_size = load_le32(head + 4);

    bool have_format = false;
    uint64_t at = 12;
    for (;;) {
        uint8_t chunk[8];
        if (at + 8 > l.file_bytes || !read_at(fd, at, chunk, sizeof chunk, &failed))
            return failed ? WAV_READ_FAILED : WAV_NO_DATA;
        const uint32_t size = load_le32(chunk + 4);
        const uint64_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !have_format) {
            if (size < 16 || size > l.file_bytes - body)
                return WAV_BROKEN_FORMAT;
            const uint32_t take = size < uint32_t(FORMAT_AREA_BYTES) ? size : uint32_t(FORMAT_AREA_BYTES);
            if (!read_at(fd, body, l.format.bytes, take, &failed))
                return failed ? WAV_READ_FAILED : WAV_BROKEN_FORMAT;
            l.stored_tag = l.format.fmt.format_tag;
            l.format_chunk_bytes = size;
            // A 16-byte record has no extra bytes; a larger one keeps those
            // it says it has, as far as the chunk holds them.
            if (size < 18)
                l.format.fmt.cb_size = 0;
            else if (18u + l.format.fmt.cb_size > take)
                l.format.fmt.cb_size = uint16_t(take - 18);
            l.format_bytes = l.format.fmt.cb_size ? 18u + l.format.fmt.cb_size : 16u;
            if (l.stored_tag == WAVE_FORMAT_EXTENSIBLE)
                plain_pcm_from_extensible(&l, size);
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format)
                return WAV_NO_FORMAT;
            const uint32_t rate = l.format.fmt.samples_per_sec;
            if (rate < WAV_LOWEST_RATE || rate > WAV_HIGHEST_RATE) {
                *out = l;   // the refused rate, for the caller's message
                return WAV_RATE_OUT_OF_RANGE;
            }
            l.data_size_offset = at + 4;
            l.data_offset = body;
            l.data_size = size;
            const uint64_t there = l.file_bytes > body ? l.file_bytes - body : 0;
            l.data_bytes = size < there ? size : there;
            *out = l;
            return WAV_OK;
        }
        // Any other chunk (and a second format chunk) is passed, with its pad byte.
        at = body + uint64_t(size) + (size & 1);
    }
}

const char* wav_error_text(int code)
{
    switch (code) {
    case WAV_OK:
        return "a WAV file";
    case WAV_CANNOT_OPEN:
        return "cannot be opened";
    case WAV_NOT_REGULAR:
        return "is not a regular file (a pipe, a device or a directory)";
    case WAV_NOT_WAV:
        return "is not a WAV file (no RIFF/WAVE header)";
    case WAV_NO_FORMAT:
        return "has no format chunk before its data chunk";
    case WAV_BROKEN_FORMAT:
        return "has a broken format chunk";
    case WAV_NO_DATA:
        return "has no data chunk";
    case WAV_RATE_OUT_OF_RANGE:
        return "has a sample rate outside 1000 to 384000 Hz";
    default:
        return "cannot be read (the medium failed)";
    }
}

bool wav_is_pcm16(const wav_layout& l)
{
    const wave_format& f = l.format.fmt;
    return f.format_tag == WAVE_FORMAT_PCM && f.bits_per_sample == 16 && (f.channels == 1 || f.channels == 2) &&
           f.block_align == 2 * f.channels;
}
