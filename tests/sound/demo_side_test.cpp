// trackmill-batch demo-side, run as a user runs it: the demo record as a
// WAV file with its song table on stdout, and failures that leave nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sstream>
#include "platform/sound/demo_record.h"
#include "tests/sound/sound_test_util.h"

using namespace sound_test;

namespace {

struct batch_result {
    int status = -1;
    std::string out, err;
};

batch_result run_batch(const scratch_dir& dir, const std::string& args)
{
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    int raw = std::system(("'" TM_BATCH_PROGRAM "' " + args + " >'" + out + "' 2>'" + err + "'").c_str());
    std::vector<uint8_t> o = read_file(out), e = read_file(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
}

uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}

TEST(DemoSide, WritesTheRecordAndPrintsEachSongsStartAndEnd)
{
    scratch_dir dir;
    std::string path = dir.file("side.wav");
    batch_result r = run_batch(dir, "demo-side '" + path + "'");
    ASSERT_EQ(r.status, 0) << r.err;

    std::ostringstream want;
    want.setf(std::ios::fixed);
    want.precision(3);
    for (int i = 0; i < demo_song_count(); ++i)
        want << demo_song_at(i).first_frame / 44100.0 << ' ' << demo_song_at(i).end_frame / 44100.0 << '\n';
    EXPECT_EQ(r.out, want.str());

    std::vector<uint8_t> file = read_file(path);
    const uint32_t data = demo_total_frames() * 4;
    ASSERT_EQ(file.size(), 44u + data);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le(file, 4, 4), 36 + data);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le(file, 20, 2), 1u);        // PCM
    EXPECT_EQ(le(file, 22, 2), 2u);        // stereo
    EXPECT_EQ(le(file, 24, 4), 44100u);
    EXPECT_EQ(le(file, 28, 4), 176400u);
    EXPECT_EQ(le(file, 32, 2), 4u);
    EXPECT_EQ(le(file, 34, 2), 16u);
    EXPECT_EQ(le(file, 40, 4), data);
    // The samples are those of the record (its pinned fingerprint).
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 44; i < file.size(); ++i) {
        h ^= file[i];
        h *= 0x100000001b3ull;
    }
    EXPECT_EQ(h, 0xe7e36b903ded0e3cull);
}

TEST(DemoSide, AFailureSaysWhyAndLeavesNothingBehind)
{
    scratch_dir dir;
    batch_result r = run_batch(dir, "demo-side");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
    // Help is help, not the name of a file to write.
    r = run_batch(dir, "demo-side --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: trackmill-batch demo-side OUT.wav"), std::string::npos) << r.out;

    // An existing file is kept unless --overwrite says otherwise.
    std::string kept = dir.file("kept.wav");
    write_file(kept, {'o', 'l', 'd'});
    r = run_batch(dir, "demo-side '" + kept + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(kept), (std::vector<uint8_t>{'o', 'l', 'd'}));

    std::string missing = dir.file("no/such/dir/side.wav");
    r = run_batch(dir, "demo-side '" + missing + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());

    // A directory in the way of the name: the old thing stays, no part file.
    std::string blocked = dir.file("taken");
    ASSERT_EQ(mkdir(blocked.c_str(), 0700), 0);
    r = run_batch(dir, "demo-side '" + blocked + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(read_file(blocked + ".part").empty());
    struct stat st;
    EXPECT_NE(stat((blocked + ".part").c_str(), &st), 0);
}

}  // namespace
