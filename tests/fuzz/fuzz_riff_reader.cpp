// libFuzzer target for the RIFF layer's reader: every input is a file that
// is walked as a track (RIFF, "fmt ", "data" through the buffer state), as a
// tree of chunks, and changed in place in read/write mode, with small and
// default buffers. Broken invariants stop the run like a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include "platform/file/riff.h"

namespace {

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            std::fprintf(stderr, "broken invariant: %s (line %d)\n", #cond, __LINE__); \
            std::abort();                                            \
        }                                                            \
    } while (0)

int memory_fd = -1;
std::string memory_name;

void check_state(const riff_info& st)
{
    CHECK(st.buffer != nullptr);
    CHECK(st.buffer <= st.next && st.next <= st.buffer + st.buffer_size);
    CHECK(st.buffer <= st.end_read && st.end_read <= st.buffer + st.buffer_size);
    CHECK(st.end_write == st.buffer || st.end_write == st.buffer + st.buffer_size);
    CHECK(st.buffer_disk_offset % st.buffer_size == 0);
}

// The cleaning driver's road: the format, then the data through the buffer.
void walk_track(riff_file f, bool change)
{
    riff_chunk riff = {}, ck = {};
    if (riff_descend(f, &riff, nullptr, 0) != 0 || riff.id != FOURCC_RIFF)
        return;
    ck.id = FOURCC_FMT;
    if (riff_descend(f, &ck, &riff, MMIO_FINDCHUNK) != 0)
        return;
    CHECK(uint64_t(ck.data_offset) + ck.size <= uint64_t(riff.data_offset) + riff.size);
    uint8_t format[32];
    int32_t want = ck.size < sizeof format ? int32_t(ck.size) : int32_t(sizeof format);
    int32_t got = riff_read(f, format, want);
    CHECK(got <= want);
    if (riff_ascend(f, &ck, 0) != 0)
        return;
    ck.id = FOURCC_DATA;
    if (riff_descend(f, &ck, &riff, MMIO_FINDCHUNK) != 0)
        return;
    riff_info st = {};
    if (riff_get_info(f, &st) != 0)
        return;
    check_state(st);
    uint64_t left = ck.size;
    uint32_t sum = 0;
    for (int rounds = 0; left > 0 && rounds < 4096; ++rounds) {
        if (st.next >= st.end_read) {
            if (change)
                st.flags |= MMIO_DIRTY;
            if (riff_advance(f, &st, change ? MMIO_WRITE : MMIO_READ) != 0)
                break;
            check_state(st);
            if (st.next >= st.end_read)
                break;
        }
        while (st.next < st.end_read && left > 0) {
            sum += *st.next;
            if (change)
                *st.next = uint8_t(~*st.next);
            ++st.next;
            --left;
        }
    }
    if (change)
        st.flags |= MMIO_DIRTY;
    riff_set_info(f, &st);
    (void)sum;
}

// Every chunk, depth first, read in odd pieces.
void walk_tree(riff_file f, const riff_chunk* parent, int depth)
{
    if (depth > 8)
        return;
    for (int count = 0; count < 256; ++count) {
        riff_chunk ck = {};
        if (riff_descend(f, &ck, parent, 0) != 0)
            return;
        if (parent)
            CHECK(uint64_t(ck.data_offset) + ck.size <= uint64_t(parent->data_offset) + parent->size);
        if (ck.id == FOURCC_RIFF || ck.id == FOURCC_LIST) {
            walk_tree(f, &ck, depth + 1);
        } else {
            uint8_t piece[37];
            uint32_t left = ck.size;
            while (left > 0) {
                int32_t n = riff_read(f, piece, left < sizeof piece ? int32_t(left) : int32_t(sizeof piece));
                CHECK(n <= int32_t(sizeof piece));
                if (n <= 0)
                    break;
                left -= uint32_t(n);
            }
        }
        if (riff_ascend(f, &ck, 0) != 0)
            return;
    }
}

void run(uint32_t mode, int32_t buffer_size, bool change)
{
    riff_info info = {};
    info.buffer_size = buffer_size;
    riff_file f = riff_open(memory_name.c_str(), &info, mode | MMIO_ALLOCBUF);
    CHECK(f != nullptr);
    walk_track(f, change);
    if (riff_seek(f, 0, SEEK_SET) == 0)
        walk_tree(f, nullptr, 0);
    riff_close(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (memory_fd < 0) {
        memory_fd = memfd_create("riff-fuzz", 0);
        if (memory_fd < 0)
            std::abort();
        memory_name = "/proc/self/fd/" + std::to_string(memory_fd);
    }
    if (size > (1u << 20))
        return 0;
    if (ftruncate(memory_fd, 0) != 0 || pwrite(memory_fd, data, size, 0) != ssize_t(size))
        std::abort();
    run(MMIO_READ, 0, false);
    run(MMIO_READ, 64, false);
    run(MMIO_READWRITE, 100, true);
    return 0;
}
