// trackmill-batch record on a card that keeps time, with buffers that take
// longer to fill than the tool's idle allowance: the recording waits for
// them and ends when asked, instead of being given up as a dead device.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(BatchRecordPace, ABufferLongerThanTheIdleAllowanceIsWaitedFor)
{
    const std::string base = testing::TempDir() + "batch_pace_" + std::to_string(getpid());
    const std::string out = base + ".wav";
    std::remove(out.c_str());
    // 8 kHz mono: 16,000 bytes a second, so a buffer of 100,000 bytes is
    // 6.25 s of sound, about 3.1 s of real time at twice the speed.
    const std::string cmd = std::string("'") + TM_BATCH_PROGRAM + "' record '" + out +
                            "' --seconds=1 --format=pcm,8000,1,16 --speed=2 --buffer-size=100000 >" + base +
                            ".out 2>" + base + ".err";
    const int raw = std::system(cmd.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::string said = slurp(base + ".out") + slurp(base + ".err");
    EXPECT_EQ(status, 0) << said;
    struct stat st = {};
    ASSERT_EQ(stat(out.c_str(), &st), 0) << said;
    // The one buffer whole (and at most what the card gave before Stop).
    EXPECT_GE(st.st_size, 44 + 100000) << said;
    EXPECT_LT(st.st_size, 44 + 200000) << said;
    std::remove(out.c_str());
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
}

} // namespace

namespace {

// A split never writes over a track file already in the directory: any of
// track0.wav to track9.wav there refuses the split before a take is made.
TEST(BatchSplitRefusal, AnyTrackFileInTheDirectoryIsKept)
{
    const std::string dir = testing::TempDir() + "batch_split_keep_" + std::to_string(getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    const std::string kept = dir + "/track2.wav";
    {
        std::ofstream f(kept, std::ios::binary);
        f << "an earlier take";
    }
    const std::string cmd = std::string("'") + TM_BATCH_PROGRAM + "' split '" + dir + "' --seconds=1 >'" + dir +
                            "/out' 2>'" + dir + "/err'";
    const int raw = std::system(cmd.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::string said = slurp(dir + "/out") + slurp(dir + "/err");
    EXPECT_EQ(status, 1) << said;
    EXPECT_NE(said.find("track2.wav exists"), std::string::npos) << said;
    EXPECT_EQ(slurp(kept), "an earlier take");
    struct stat st = {};
    EXPECT_NE(stat((dir + "/track0.wav").c_str(), &st), 0) << "no take is made";
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace

namespace {

// A split that a full disk stops says so and fails; the take it cut short
// is kept as a whole file.
TEST(BatchSplitRefusal, AFullDiskFailsTheSplitAndKeepsTheTake)
{
    const std::string dir = testing::TempDir() + "batch_split_full_" + std::to_string(getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    // No file past 2 MB: the first song's take is cut after about 12 s.
    const std::string cmd = std::string("trap '' XFSZ; ulimit -f 2000; '") + TM_BATCH_PROGRAM + "' split '" + dir +
                            "' --source=demo >'" + dir + "/out' 2>'" + dir + "/err'";
    const int raw = std::system(cmd.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::string said = slurp(dir + "/out") + slurp(dir + "/err");
    EXPECT_EQ(status, 1) << said;
    EXPECT_NE(said.find("the disk may be full"), std::string::npos) << said;
    EXPECT_NE(said.find("auto-track stopped before the side ended"), std::string::npos) << said;
    const std::string take = slurp(dir + "/track0.wav");
    ASSERT_GT(take.size(), 44u) << said;
    // The sizes were patched to what the file holds.
    const uint32_t data = uint8_t(take[40]) | uint8_t(take[41]) << 8 | uint8_t(take[42]) << 16 |
                          uint32_t(uint8_t(take[43])) << 24;
    EXPECT_EQ(data + 44, take.size());
    struct stat st = {};
    EXPECT_NE(stat((dir + "/track1.wav").c_str(), &st), 0) << "no take after the full disk";
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
