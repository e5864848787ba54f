// trackmill-batch repair: a WAV file whose sizes disagree with its length
// (the running sizes of a recording that was killed, or sizes short of it)
// gets sizes that cover every whole block the file holds.
//
// Only a file whose data chunk is its last chunk is repaired: its samples
// then run to the file's end, so the length tells the data size. The sizes
// are the only bytes changed (and a pad byte added after an odd data size);
// a file whose sizes are right is left byte for byte as it was.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include "platform/file/wav_reader.h"
#include "platform/system/byte_order.h"
#include "tools/batch/batch.h"

namespace {

int fail(const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch repair: %s\n", why.c_str());
    return BATCH_FAILED;
}

bool write_all_at(int fd, const void* data, size_t n, uint64_t at)
{
    size_t done = 0;
    while (done < n) {
        ssize_t w = pwrite(fd, static_cast<const uint8_t*>(data) + done, n - done, off_t(at + done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += size_t(w);
    }
    return true;
}

// Whether the bytes from `at` to the file's end are whole chunks (an id of
// four printable characters and a size that stays inside the file): then
// the data chunk is not the last one and its size is not ours to change.
bool chunks_follow(int fd, uint64_t at, uint64_t file_bytes)
{
    if (at >= file_bytes)
        return false;
    while (at < file_bytes) {
        uint8_t head[8];
        if (at + 8 > file_bytes || pread(fd, head, 8, off_t(at)) != 8)
            return false;
        for (int i = 0; i < 4; ++i)
            if (head[i] < 0x20 || head[i] > 0x7E)
                return false;
        const uint64_t size = uint64_t(head[4]) | uint64_t(head[5]) << 8 | uint64_t(head[6]) << 16 |
                              uint64_t(head[7]) << 24;
        at += 8 + size + (size & 1);
        if (at > file_bytes + 1)   // a last odd chunk may lack its pad byte
            return false;
    }
    return true;
}

struct closer {
    int fd;
    ~closer() { close(fd); }
};

int repair(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: trackmill-batch repair FILE.wav\n");
        return BATCH_USAGE;
    }
    const char* name = argv[1];
    const int fd = wav_open(name, true);
    if (fd == WAV_CANNOT_OPEN)
        return fail(std::string(name) + ": " + std::strerror(errno));
    if (fd < 0)
        return fail(std::string(name) + " " + wav_error_text(fd));
    closer keep{fd};
    wav_layout l;
    const int r = wav_read_layout(fd, &l);
    if (r != WAV_OK)
        return fail(std::string(name) + " " + wav_error_text(r));
    const uint32_t block = l.format.fmt.block_align;
    if (block == 0)
        return fail(std::string(name) + " has a block size of 0 in its format chunk");

    const uint64_t there = l.file_bytes - l.data_offset;   // bytes from the first sample to the end
    uint64_t data = l.data_size;
    // Sizes that cover all but less than one block (and the pad byte) of
    // what follows are right; otherwise the data runs to the end, unless
    // whole chunks follow it.
    const bool covered = data <= there && there - data < block + (data & 1);
    if (!covered) {
        if (data < there && chunks_follow(fd, l.data_offset + data + (data & 1), l.file_bytes)) {
            if (uint64_t(l.riff_size) + 8 == l.file_bytes) {
                std::printf("%s: nothing to repair\n", name);
                return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
            }
            return fail(std::string(name) + ": other chunks follow the data chunk; only a file whose data chunk "
                                            "is its last chunk can be repaired");
        }
        data = there / block * block;
    }
    // The RIFF size (the header before the data, the data, its pad byte)
    // must fit in 32 bits: at most that much is counted, in whole blocks.
    const uint64_t head = l.data_offset - 8;
    const uint64_t largest = (UINT32_MAX - head - 1) / block * block;
    const bool too_long = data > largest;
    if (too_long)
        data = largest;
    const bool pad_missing = (data & 1) && there == data;
    const uint64_t riff = head + data + (data & 1);
    if (data == l.data_size && riff == l.riff_size && !pad_missing) {
        std::printf("%s: nothing to repair\n", name);
        return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
    }

    // The pad byte first, then the data size, then the RIFF size: a repair
    // cut short never leaves sizes that claim bytes the file lacks.
    uint8_t b[4];
    const uint8_t zero = 0;
    if (pad_missing && !write_all_at(fd, &zero, 1, l.file_bytes))
        return fail(std::string(name) + ": the pad byte could not be added: " + std::strerror(errno));
    store_le32(b, uint32_t(data));
    if (!write_all_at(fd, b, 4, l.data_size_offset))
        return fail(std::string(name) + ": the data size could not be written: " + std::strerror(errno));
    store_le32(b, uint32_t(riff));
    if (!write_all_at(fd, b, 4, 4))
        return fail(std::string(name) + ": the RIFF size could not be written: " + std::strerror(errno));
    if (fsync(fd) != 0)
        return fail(std::string(name) + ": the new sizes may not have reached the disk: " + std::strerror(errno));

    // What a reader saw before: the data size, or the file's end where it came first.
    const uint64_t readable = l.data_size < there ? l.data_size : there;
    const double rate = l.format.fmt.avg_bytes_per_sec;
    const double recovered = data > readable && rate > 0 ? double(data - readable) / rate : 0;
    std::printf("%s: data size %u -> %llu bytes, RIFF size %u -> %llu bytes; %.2f s recovered\n", name,
                unsigned(l.data_size), static_cast<unsigned long long>(data), unsigned(l.riff_size),
                static_cast<unsigned long long>(riff), recovered);
    if (too_long)
        std::printf("%s: the file is longer than a WAV file's sizes can count; the rest stays after the data\n", name);
    return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
}

} // namespace

BATCH_COMMAND("repair", "repair FILE.wav",
              "set the sizes of a WAV file whose data chunk ends it (an interrupted recording) from its length",
              repair);
