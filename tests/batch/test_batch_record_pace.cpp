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
