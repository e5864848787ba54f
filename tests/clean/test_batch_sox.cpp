// trackmill-batch's cleaning commands on WAV files that sox made,
// read back by sox: the worked examples end to end through the tool.
#include <algorithm>
#include <climits>
#include "tests/clean/clean_files.h"

namespace {

std::string batch_tool()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "";
    std::string dir(self, size_t(n));
    dir = dir.substr(0, dir.rfind('/'));
    std::string tool = dir + "/../trackmill-batch";
    return access(tool.c_str(), X_OK) == 0 ? tool : "";
}

bool have_sox()
{
    return std::system("sox --version >/dev/null 2>&1") == 0;
}

struct run_result {
    int status;
    std::string out;
    std::string err;
};

run_result run(const std::string& command, const std::string& dir)
{
    const std::string err_file = dir + "/stderr.txt";
    run_result r;
    FILE* p = popen((command + " 2>'" + err_file + "'").c_str(), "r");
    char line[512];
    while (p && std::fgets(line, sizeof line, p))
        r.out += line;
    r.status = p ? WEXITSTATUS(pclose(p)) : -1;
    bytes e = read_file(err_file);
    r.err.assign(e.begin(), e.end());
    return r;
}

class BatchSoxTest : public CleanTest {
protected:
    std::string tool;
    void SetUp() override
    {
        CleanTest::SetUp();
        tool = batch_tool();
        if (tool.empty() || !have_sox())
            GTEST_SKIP() << "needs sox and trackmill-batch";
    }
    // sox turns raw samples into track3.wav.
    void make_track(const samples16& s, int channels, int rate)
    {
        bytes raw(s.size() * 2);
        std::memcpy(raw.data(), s.data(), raw.size());
        write_file(path("in.raw"), raw);
        const std::string cmd = "sox -t raw -r " + std::to_string(rate) + " -e signed -b 16 -c " +
                                std::to_string(channels) + " '" + path("in.raw") + "' '" + path("track3.wav") + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // sox reads the cleaned file back.
    samples16 samples_of(const char* name)
    {
        const std::string cmd = "sox '" + path(name) + "' -t raw -e signed -b 16 '" + path("out.raw") + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        bytes raw = read_file(path("out.raw"));
        samples16 s(raw.size() / 2);
        std::memcpy(s.data(), raw.data(), s.size() * 2);
        return s;
    }
};

} // namespace

TEST_F(BatchSoxTest, DenoiseGivesTheWorkedResult)
{
    samples16 in;
    for (int i = 0; i < 12; ++i)
        in.push_back(i % 2 ? -1000 : 1000);
    make_track(in, 1, 44100);
    run_result r = run(tool + " denoise '" + path("track3.wav") + "'", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("tracn3.wav") + "\ndenoise process complete 12 corrections\n");
    EXPECT_EQ(samples_of("tracn3.wav"),
              (samples16{1000, -1000, -500, 500, -875, -625, -875, -625, -875, -625, -500, -1000}));
}

TEST_F(BatchSoxTest, DeclickRepairsTheClick)
{
    samples16 left(300, 0);
    const int16_t click[4] = {20000, 25000, -22000, -15000};
    for (int j = 0; j < 4; ++j)
        left[size_t(100 + j)] = click[j];
    make_track(stereo(left, left), 2, 44100);
    run_result r = run(tool + " declick '" + path("track3.wav") + "' --threshold=11 --bias=300,300", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("tracd3.wav") + "\ndeclick process complete 1 corrections\n");
    samples16 s = samples_of("tracd3.wav");
    samples16 want_left = left, want_right = left;
    want_left[100] = want_right[100] = 1666;
    want_left[101] = want_right[101] = 3750;
    want_left[102] = 1916;
    EXPECT_EQ(s, stereo(want_left, want_right));
}

TEST_F(BatchSoxTest, RestorationCommandsWriteTheirFilesAndSaySo)
{
    // 0.2 x 1 s x 122876 Hz: gains 1, 2, 4, 5, 6, 8, 9 on the first frames.
    samples16 in = {32767, 32767, -32767, -32767, -32767, 1000, -1000};
    in.resize(50000, 32767);
    make_track(in, 1, 122876);
    run_result r = run(tool + " fadein '" + path("track3.wav") + "' --intro=1", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("tracf3.wav") + "\nfade in complete\n");
    samples16 s = samples_of("tracf3.wav");
    ASSERT_EQ(s.size(), in.size());
    EXPECT_EQ((samples16(s.begin(), s.begin() + 7)), (samples16{1, 2, -4, -5, -6, 0, 0}));
    EXPECT_EQ(s.back(), 32767);

    r = run(tool + " fadeout '" + path("track3.wav") + "' --intro=1", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("traco3.wav") + "\nfadeout process complete 0.2 s\n");
    s = samples_of("traco3.wav");
    EXPECT_EQ((samples16(s.end() - 3, s.end())), (samples16{2, 1, 0}));

    r = run(tool + " mono '" + path("track3.wav") + "'", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("tracm3.wav") + "\nmono process complete the channel into both channels\n");
    EXPECT_EQ(samples_of("tracm3.wav"), stereo(in, in));

    r = run(tool + " dehum '" + path("track3.wav") + "' --freq=60 --threshold=45", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("traca3.wav") + "\ndehum process complete 16 notches 4.50 Hz wide\n");
    r = run(tool + " dehum '" + path("track3.wav") + "' --freq=19 --overwrite", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("AC sinus Freq 19 Hz cannot be removed", 0), 0u) << r.err;

    // A click on a smooth tone after a second of faint hiss (the noise
    // profile) is filled in from the tone around it, and the file keeps the
    // track's frame count.
    samples16 clean;
    uint32_t seed = 1;
    for (int i = 0; i < 44100; ++i) {
        seed = seed * 1664525u + 1013904223u;
        clean.push_back(int16_t(int(seed >> 29) - 4));
    }
    for (int i = 0; i < 30000; ++i)
        clean.push_back(int16_t(std::lround(6000 * std::sin(i * 2 * M_PI * 440 / 44100))));
    samples16 clicked = clean;
    const size_t at = 44100 + 12000;
    for (size_t i = 0; i < 6; ++i)
        clicked[at + i] = int16_t(clicked[at + i] + 9000 * std::exp(-double(i) / 1.5));
    make_track(clicked, 1, 44100);
    r = run(tool + " restore '" + path("track3.wav") + "' --threshold=11", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("tracx3.wav") + "\nrestore complete 1 clicks repaired, hiss reduced\n");
    s = samples_of("tracx3.wav");
    ASSERT_EQ(s.size(), clean.size());
    int worst = 0;
    for (size_t i = at - 50; i < at + 50; ++i)
        worst = std::max(worst, std::abs(s[i] - clean[i]));
    EXPECT_LE(worst, 4);
}

TEST_F(BatchSoxTest, FailuresSayWhyAndExitWithOne)
{
    run_result r = run(tool + " declick '" + path("missing.wav") + "'", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "File not found/protected\ncleaning failed: the track cannot be opened\n");

    make_track(samples16(100, 5), 1, 8000);
    const std::string eight_bit = "sox '" + path("track3.wav") + "' -b 8 '" + path("eight.wav") + "'";
    ASSERT_EQ(std::system(eight_bit.c_str()), 0);
    r = run(tool + " denoise '" + path("eight.wav") + "'", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Only 16-bit PCM tracks with one or two channels can be cleaned\n", 0), 0u) << r.err;

    r = run(tool + " declick '" + path("track3.wav") + "' --bias=12", dir);
    EXPECT_EQ(r.status, 2);
}
