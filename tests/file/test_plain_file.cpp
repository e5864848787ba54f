// Plain files as the capture writer uses them: open-or-create with the
// "already existed" answer, writes that report what reached the disk, seeks.
#include <gtest/gtest.h>
#include <cstdio>
#include <sys/stat.h>
#include "platform/file/file.h"
#include "platform/system/system.h"
#include "tests/support/riff_bytes.h"

TEST(PlainFile, OpenOrCreateTellsWhetherTheFileExisted)
{
    temp_dir dir;
    std::string name = dir.file("cap.wav");
    bool existed = true;
    plain_file f = plain_open_or_create(name.c_str(), &existed);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(existed);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_SUCCESS));
    EXPECT_EQ(plain_write(f, "abcdef", 6), 6u);
    EXPECT_EQ(plain_close(f), 0);

    // Opened again: the answer is "existed", nothing is cut, writing starts
    // at the first byte.
    f = plain_open_or_create(name.c_str(), &existed);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(existed);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(plain_write(f, "XY", 2), 2u);
    EXPECT_EQ(plain_close(f), 0);
    bytes b = read_whole_file(name);
    EXPECT_EQ(std::string(b.begin(), b.end()), "XYcdef");
}

TEST(PlainFile, SeeksAndWrites)
{
    temp_dir dir;
    std::string name = dir.file("s.bin");
    plain_file f = plain_open_or_create(name.c_str(), nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(plain_write(f, "0123456789", 10), 10u);
    EXPECT_EQ(plain_seek(f, 4, SEEK_SET), 4);
    EXPECT_EQ(plain_write(f, "ab", 2), 2u);
    EXPECT_EQ(plain_seek(f, 1, SEEK_CUR), 7);
    EXPECT_EQ(plain_seek(f, -1, SEEK_END), 9);
    EXPECT_EQ(plain_write(f, "Z", 1), 1u);
    EXPECT_EQ(plain_seek(f, -1, SEEK_SET), -1);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(plain_seek(f, 0, 9), -1);
    EXPECT_EQ(plain_write(f, nullptr, 0), 0u);
    EXPECT_EQ(plain_close(f), 0);
    bytes b = read_whole_file(name);
    EXPECT_EQ(std::string(b.begin(), b.end()), "0123ab678Z");
}

// A full disk: the write reports what reached the file, and the last error
// says why the rest did not.
TEST(PlainFile, FullDiskGivesShortCounts)
{
    temp_dir dir;
    std::string name = dir.file("full.bin");
    plain_file f = plain_open_or_create(name.c_str(), nullptr);
    ASSERT_NE(f, nullptr);
    plain_fail_writes_after(10);
    bytes data = pattern_bytes(100);
    EXPECT_EQ(plain_write(f, data.data(), 100), 10u);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_DISK_FULL));
    EXPECT_EQ(plain_write(f, data.data(), 5), 0u);
    plain_fail_writes_after(-1);
    EXPECT_EQ(plain_write(f, data.data(), 5), 5u);
    EXPECT_EQ(plain_close(f), 0);
    EXPECT_EQ(read_whole_file(name).size(), 15u);
}

TEST(PlainFile, OpenFailuresSetTheLastError)
{
    temp_dir dir;
    bool existed = true;
    EXPECT_EQ(plain_open_or_create(dir.file("no/dir/x.wav").c_str(), &existed), nullptr);
    EXPECT_FALSE(existed);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(plain_open_or_create(dir.path().c_str(), nullptr), nullptr);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_ACCESS_DENIED));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(plain_open_or_create(dir.file("fifo").c_str(), nullptr), nullptr);   // no hang
    EXPECT_EQ(plain_open_or_create("", nullptr), nullptr);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(plain_open_or_create(nullptr, nullptr), nullptr);
    std::string long_name = dir.file(std::string(300, 'n'));
    EXPECT_EQ(plain_open_or_create(long_name.c_str(), nullptr), nullptr);
    EXPECT_EQ(get_last_error(), unsigned(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(plain_close(nullptr), 0);
    EXPECT_EQ(plain_write(nullptr, "x", 1), 0u);
    EXPECT_EQ(plain_seek(nullptr, 0, SEEK_SET), -1);
}
