// The RIFF layer's buffer windows as the cleaning passes and playback use
// them: reading, writing and read/write, direct access and advances.
#include <gtest/gtest.h>
#include <cstring>
#include "platform/file/riff.h"
#include "tests/support/riff_bytes.h"

namespace {

constexpr int32_t B = 8192;

struct opened_track {
    riff_file f = nullptr;
    riff_chunk riff = {};
    riff_chunk fmt = {};
    riff_chunk data = {};
};

// Opens a track and goes to its first data byte, as the cleaning driver does.
opened_track open_at_data(const std::string& name, uint32_t flags)
{
    opened_track t;
    riff_info info = {};
    t.f = riff_open(name.c_str(), &info, flags | MMIO_ALLOCBUF);
    EXPECT_NE(t.f, nullptr) << "open error " << info.error;
    if (!t.f)
        return t;
    EXPECT_EQ(riff_descend(t.f, &t.riff, nullptr, 0), 0u);
    EXPECT_EQ(t.riff.form_type, FOURCC_WAVE);
    t.fmt.id = FOURCC_FMT;
    EXPECT_EQ(riff_descend(t.f, &t.fmt, &t.riff, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(riff_ascend(t.f, &t.fmt, 0), 0u);
    t.data.id = FOURCC_DATA;
    EXPECT_EQ(riff_descend(t.f, &t.data, &t.riff, MMIO_FINDCHUNK), 0u);
    return t;
}

} // namespace

// The capture's 44-byte header puts the first window's data at 44..8192;
// each advance then brings the next aligned 8,192 bytes, and the last one
// ends with the file, after which the position stays at the end of the data.
TEST(RiffWindow, ReadingWalksAlignedWindowsFrom44)
{
    temp_dir dir;
    const size_t data_bytes = 3 * B + 1000;   // the file ends inside its fourth window
    bytes data = pattern_bytes(data_bytes);
    bytes file = pcm_track(data);
    write_whole_file(dir.file("track0.wav"), file);

    opened_track t = open_at_data(dir.file("track0.wav"), MMIO_READ);
    ASSERT_NE(t.f, nullptr);
    EXPECT_EQ(t.data.data_offset, 44u);
    EXPECT_EQ(t.data.size, data_bytes);

    riff_info info = {};
    ASSERT_EQ(riff_get_info(t.f, &info), 0u);
    EXPECT_EQ(info.buffer_size, B);
    EXPECT_EQ(info.buffer_disk_offset, 0);
    EXPECT_EQ(info.next - info.buffer, 44);
    EXPECT_EQ(info.end_read - info.buffer, B);
    EXPECT_EQ(0, std::memcmp(info.next, data.data(), B - 44));

    size_t seen = B - 44;
    for (int window = 1; window <= 3; ++window) {
        info.next = info.end_read;   // consumed
        ASSERT_EQ(riff_advance(t.f, &info, MMIO_READ), 0u);
        EXPECT_EQ(info.buffer_disk_offset, int64_t(window) * B);
        EXPECT_EQ(info.next, info.buffer);
        int64_t expect = std::min<int64_t>(B, int64_t(file.size()) - int64_t(window) * B);
        ASSERT_EQ(info.end_read - info.buffer, expect);
        EXPECT_EQ(0, std::memcmp(info.buffer, file.data() + size_t(window) * B, size_t(expect)));
        seen += size_t(expect);
    }
    EXPECT_EQ(seen, file.size() - 44);

    // At the end of the file an advance brings nothing: next == end_read.
    info.next = info.end_read;
    ASSERT_EQ(riff_advance(t.f, &info, MMIO_READ), 0u);
    EXPECT_EQ(info.next, info.end_read);
    ASSERT_EQ(riff_advance(t.f, &info, MMIO_READ), 0u);
    EXPECT_EQ(info.next, info.end_read);
    EXPECT_EQ(riff_set_info(t.f, &info), 0u);
    EXPECT_EQ(riff_close(t.f), 0u);
}

// A file that ends exactly at a window's end gives an empty next window.
TEST(RiffWindow, ReadingFileEndingOnWindowBoundary)
{
    temp_dir dir;
    bytes data = pattern_bytes(2 * B - 44);
    write_whole_file(dir.file("t.wav"), pcm_track(data));
    opened_track t = open_at_data(dir.file("t.wav"), MMIO_READ);
    ASSERT_NE(t.f, nullptr);
    riff_info info = {};
    ASSERT_EQ(riff_get_info(t.f, &info), 0u);
    info.next = info.end_read;
    ASSERT_EQ(riff_advance(t.f, &info, MMIO_READ), 0u);
    EXPECT_EQ(info.end_read - info.buffer, B);
    info.next = info.end_read;
    ASSERT_EQ(riff_advance(t.f, &info, MMIO_READ), 0u);
    EXPECT_EQ(info.buffer_disk_offset, 2 * B);
    EXPECT_EQ(info.next, info.end_read);
    EXPECT_EQ(info.end_read, info.buffer);
    riff_close(t.f);
}

// The cleaned file: chunks created through the layer, samples written in
// place from byte 44 to 8,192 and then in whole windows, the last one partial;
// the ascents write the true sizes.
TEST(RiffWindow, WritingFillsWindowsFrom44AndAscentWritesSizes)
{
    temp_dir dir;
    std::string name = dir.file("tracd0.wav");
    riff_info info = {};
    riff_file f = riff_open(name.c_str(), &info, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    ASSERT_NE(f, nullptr);
    riff_chunk riff = {}, fmt = {}, data = {};
    riff.form_type = FOURCC_WAVE;
    ASSERT_EQ(riff_create_chunk(f, &riff, MMIO_CREATERIFF), 0u);
    fmt.id = FOURCC_FMT;
    fmt.size = 16;
    ASSERT_EQ(riff_create_chunk(f, &fmt, 0), 0u);
    bytes format = riff_builder::pcm_format(2, 44100, 16);
    ASSERT_EQ(riff_write(f, format.data(), 16), 16);
    ASSERT_EQ(riff_ascend(f, &fmt, 0), 0u);
    data.id = FOURCC_DATA;
    ASSERT_EQ(riff_create_chunk(f, &data, 0), 0u);
    EXPECT_EQ(data.data_offset, 44u);

    ASSERT_EQ(riff_get_info(f, &info), 0u);
    EXPECT_EQ(info.buffer_disk_offset, 0);
    EXPECT_EQ(info.next - info.buffer, 44);
    EXPECT_EQ(info.end_write - info.buffer, B);

    const size_t total = 2 * B + 300;   // samples to write
    bytes samples = pattern_bytes(total, 7);
    size_t written = 0;
    int advances = 0;
    while (written < total) {
        if (info.next == info.end_write) {
            info.flags |= MMIO_DIRTY;
            ASSERT_EQ(riff_advance(f, &info, MMIO_WRITE), 0u);
            ++advances;
            EXPECT_EQ(info.buffer_disk_offset, int64_t(advances) * B);
            EXPECT_EQ(info.next, info.buffer);
            EXPECT_EQ(info.end_write - info.buffer, B);
        }
        size_t n = std::min<size_t>(size_t(info.end_write - info.next), total - written);
        std::memcpy(info.next, samples.data() + written, n);
        info.next += n;
        written += n;
    }
    info.flags |= MMIO_DIRTY;
    ASSERT_EQ(riff_set_info(f, &info), 0u);
    ASSERT_EQ(riff_ascend(f, &data, 0), 0u);
    EXPECT_EQ(data.size, total);
    ASSERT_EQ(riff_ascend(f, &riff, 0), 0u);
    ASSERT_EQ(riff_close(f), 0u);

    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 44 + total);
    EXPECT_EQ(id_at(file, 0), "RIFF");
    EXPECT_EQ(le32_at(file, 4), 36 + total);
    EXPECT_EQ(id_at(file, 8), "WAVE");
    EXPECT_EQ(le32_at(file, 16), 16u);
    EXPECT_EQ(id_at(file, 36), "data");
    EXPECT_EQ(le32_at(file, 40), total);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), file.begin() + 44));
}

// A pass's closing step writes a partial window out with an advance and then
// hands the state back: the position stays at the end of the data, so the
// data chunk's size is exactly the bytes written.
TEST(RiffWindow, PartialWriteAdvanceKeepsThePosition)
{
    temp_dir dir;
    std::string name = dir.file("out.wav");
    riff_info info = {};
    riff_file f = riff_open(name.c_str(), &info, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    ASSERT_NE(f, nullptr);
    riff_chunk data = {};
    data.id = FOURCC_DATA;
    ASSERT_EQ(riff_create_chunk(f, &data, 0), 0u);
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    std::memset(info.next, 0x5A, 1000);
    info.next += 1000;
    info.flags = MMIO_DIRTY;
    ASSERT_EQ(riff_advance(f, &info, MMIO_WRITE), 0u);
    EXPECT_EQ(info.buffer_disk_offset, 0);
    EXPECT_EQ(info.next - info.buffer, 1008);
    EXPECT_EQ(info.disk_offset, 1008);
    info.flags = MMIO_DIRTY;   // marked dirty again with nothing new: harmless
    ASSERT_EQ(riff_set_info(f, &info), 0u);
    ASSERT_EQ(riff_ascend(f, &data, 0), 0u);
    EXPECT_EQ(data.size, 1000u);
    ASSERT_EQ(riff_close(f), 0u);
    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 1008u);
    EXPECT_EQ(le32_at(file, 4), 1000u);
}

// The preview is opened for reading and writing: the state shows both ends,
// and bytes changed in place reach the file with the next advance.
TEST(RiffWindow, ReadWriteModeChangesInPlace)
{
    temp_dir dir;
    bytes data = pattern_bytes(B + 500, 3);
    bytes file = pcm_track(data);
    std::string name = dir.file("t.wav");
    write_whole_file(name, file);
    opened_track t = open_at_data(name, MMIO_READWRITE);
    ASSERT_NE(t.f, nullptr);
    riff_info info = {};
    ASSERT_EQ(riff_get_info(t.f, &info), 0u);
    EXPECT_EQ(info.next - info.buffer, 44);
    EXPECT_EQ(info.end_read - info.buffer, B);
    EXPECT_EQ(info.end_write - info.buffer, B);
    // Invert the first 100 sample bytes of the data.
    for (int i = 0; i < 100; ++i)
        info.next[i] = uint8_t(~info.next[i]);
    info.next += 100;
    info.flags |= MMIO_DIRTY;
    ASSERT_EQ(riff_set_info(t.f, &info), 0u);

    // Reading on through the layer sees the rest unchanged.
    uint8_t rest[50];
    ASSERT_EQ(riff_read(t.f, rest, 50), 50);
    EXPECT_EQ(0, std::memcmp(rest, data.data() + 100, 50));

    ASSERT_EQ(riff_get_info(t.f, &info), 0u);
    info.next = info.end_read;
    ASSERT_EQ(riff_advance(t.f, &info, MMIO_READ), 0u);   // writes the change out first
    EXPECT_EQ(info.buffer_disk_offset, B);
    EXPECT_EQ(info.end_read - info.buffer, int64_t(file.size()) - B);
    EXPECT_EQ(0, std::memcmp(info.buffer, file.data() + B, file.size() - B));
    riff_set_info(t.f, &info);
    ASSERT_EQ(riff_close(t.f), 0u);

    bytes after = read_whole_file(name);
    ASSERT_EQ(after.size(), file.size());
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(after[44 + i], uint8_t(~file[44 + i])) << i;
    EXPECT_TRUE(std::equal(after.begin() + 144, after.end(), file.begin() + 144));
}

// Seeks inside the window (its end included) only move the position; a seek
// elsewhere brings the aligned window that holds the target.
TEST(RiffWindow, SeeksMoveWithinOrToAlignedWindows)
{
    temp_dir dir;
    bytes file = pattern_bytes(5 * B, 9);
    std::string name = dir.file("raw.bin");
    write_whole_file(name, file);
    riff_file f = riff_open(name.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(f, nullptr);
    riff_info info = {};

    EXPECT_EQ(riff_seek(f, 100, SEEK_SET), 100);
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    uint8_t* first_buffer = info.buffer;
    EXPECT_EQ(info.buffer_disk_offset, 0);
    EXPECT_EQ(info.next - info.buffer, 100);
    riff_set_info(f, &info);

    EXPECT_EQ(riff_seek(f, B, SEEK_SET), B);   // the window's end: still this window
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    EXPECT_EQ(info.buffer_disk_offset, 0);
    EXPECT_EQ(info.next, info.end_read);
    riff_set_info(f, &info);

    EXPECT_EQ(riff_seek(f, 2 * B + 1808, SEEK_SET), 2 * B + 1808);
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    EXPECT_EQ(info.buffer, first_buffer);   // one buffer for the file's life
    EXPECT_EQ(info.buffer_disk_offset, 2 * B);
    EXPECT_EQ(info.next - info.buffer, 1808);
    EXPECT_EQ(*info.next, file[2 * B + 1808]);
    riff_set_info(f, &info);

    EXPECT_EQ(riff_seek(f, -10, SEEK_CUR), 2 * B + 1798);
    EXPECT_EQ(riff_seek(f, -1, SEEK_END), 5 * B - 1);
    uint8_t last[4];
    EXPECT_EQ(riff_read(f, last, 4), 1);
    EXPECT_EQ(last[0], file.back());
    EXPECT_EQ(riff_seek(f, -1, SEEK_SET), -1);
    EXPECT_EQ(riff_seek(f, INT64_MAX, SEEK_CUR), -1);
    EXPECT_EQ(riff_seek(f, 0, 7), -1);
    riff_close(f);
}

// Buffered reads and writes give the same bytes whatever the request sizes.
TEST(RiffWindow, BufferedTransfersIndependentOfRequestSizes)
{
    temp_dir dir;
    bytes content = pattern_bytes(3 * B + 77, 11);
    const int sizes[] = {1, 3, 8191, 8192, 8193, 20000};
    for (int step : sizes) {
        std::string name = dir.file("w" + std::to_string(step));
        riff_file w = riff_open(name.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
        ASSERT_NE(w, nullptr);
        for (size_t at = 0; at < content.size(); at += size_t(step)) {
            int32_t n = int32_t(std::min<size_t>(size_t(step), content.size() - at));
            ASSERT_EQ(riff_write(w, content.data() + at, n), n);
        }
        ASSERT_EQ(riff_close(w), 0u);
        ASSERT_EQ(read_whole_file(name), content) << "write step " << step;

        riff_file r = riff_open(name.c_str(), nullptr, MMIO_READ);
        ASSERT_NE(r, nullptr);
        bytes back;
        bytes piece(static_cast<size_t>(step), 0);
        for (;;) {
            int32_t n = riff_read(r, piece.data(), step);
            ASSERT_GE(n, 0);
            if (n == 0)
                break;
            back.insert(back.end(), piece.begin(), piece.begin() + n);
        }
        EXPECT_EQ(back, content) << "read step " << step;
        riff_close(r);
    }
}

// Writing into an existing file without MMIO_CREATE changes only the bytes
// written, also when they lie apart in one window of a write-only file.
TEST(RiffWindow, ScatteredWritesKeepTheBytesBetween)
{
    temp_dir dir;
    bytes file = pattern_bytes(3 * B, 5);
    std::string name = dir.file("f.bin");
    for (uint32_t mode : {uint32_t(MMIO_WRITE), uint32_t(MMIO_READWRITE)}) {
        write_whole_file(name, file);
        riff_file f = riff_open(name.c_str(), nullptr, mode);
        ASSERT_NE(f, nullptr);
        const uint8_t a[3] = {1, 2, 3};
        ASSERT_EQ(riff_seek(f, 10, SEEK_SET), 10);
        ASSERT_EQ(riff_write(f, a, 3), 3);
        ASSERT_EQ(riff_seek(f, 5000, SEEK_SET), 5000);
        ASSERT_EQ(riff_write(f, a, 3), 3);
        ASSERT_EQ(riff_seek(f, 2, SEEK_SET), 2);
        ASSERT_EQ(riff_write(f, a, 3), 3);
        ASSERT_EQ(riff_seek(f, 2 * B + 8, SEEK_SET), 2 * B + 8);
        ASSERT_EQ(riff_write(f, a, 3), 3);
        ASSERT_EQ(riff_close(f), 0u);
        bytes expect = file;
        for (size_t at : {size_t(10), size_t(5000), size_t(2), size_t(2 * B + 8)})
            std::copy(a, a + 3, expect.begin() + long(at));
        EXPECT_EQ(read_whole_file(name), expect) << "mode " << mode;
    }
}

// A created chunk longer than the buffer gets its size written back into a
// header that left the buffer long ago; an odd size gets its pad byte.
TEST(RiffWindow, AscentPatchesAHeaderInAnEarlierWindow)
{
    temp_dir dir;
    for (uint32_t mode : {uint32_t(MMIO_WRITE), uint32_t(MMIO_READWRITE)}) {
        std::string name = dir.file("long" + std::to_string(mode));
        riff_file f = riff_open(name.c_str(), nullptr, MMIO_CREATE | mode);
        ASSERT_NE(f, nullptr);
        riff_chunk ck = {};
        ck.id = FOURCC_DATA;
        ASSERT_EQ(riff_create_chunk(f, &ck, 0), 0u);
        bytes body = pattern_bytes(3 * B + 1, 2);
        ASSERT_EQ(riff_write(f, body.data(), int32_t(body.size())), int32_t(body.size()));
        ASSERT_EQ(riff_ascend(f, &ck, 0), 0u);
        EXPECT_EQ(riff_seek(f, 0, SEEK_CUR), int64_t(8 + body.size() + 1));
        const uint8_t tail[4] = {'t', 'a', 'i', 'l'};
        ASSERT_EQ(riff_write(f, tail, 4), 4);
        ASSERT_EQ(riff_close(f), 0u);
        bytes file = read_whole_file(name);
        ASSERT_EQ(file.size(), 8 + body.size() + 1 + 4);
        EXPECT_EQ(le32_at(file, 4), body.size());
        EXPECT_EQ(file[8 + body.size()], 0);
        EXPECT_EQ(id_at(file, file.size() - 4), "tail");
    }
}
