// trackmill-batch record and split, run as a user runs them: the file a
// recording leaves, the takes of the demo side against its songs, and the
// refusals that leave everything as it was.
#include <gtest/gtest.h>
#include <fstream>
#include <regex>
#include <sstream>
#include "platform/sound/demo_record.h"
#include "tests/sound/sound_test_util.h"
#include "tests/support/recording_session.h"
#include "tests/support/riff_read.h"
#include "tests/support/sox_check.h"

namespace {

struct BatchRecording : testing::Test {
    sound_test::scratch_dir dir;
    std::string output;

    int batch(const std::string& args)
    {
        return run_command(std::string(TM_BATCH_PROGRAM) + " " + args, &output);
    }
    std::string source_file(const std::vector<int16_t>& samples)
    {
        std::string path = dir.file("source.wav");
        sound_test::write_file(path, sound_test::wav_bytes(44100, 2, 16, sound_test::samples_le(samples)));
        return path;
    }
};

} // namespace

TEST_F(BatchRecording, RecordWritesTheSecondsAskedForFromTheSource)
{
    std::vector<int16_t> source = recording::counting_samples(3.0);
    std::string in = source_file(source);
    std::string out = dir.file("rec.wav");
    ASSERT_EQ(batch("record " + out + " --seconds=2 --source=" + in), 0) << output;
    EXPECT_NE(output.find(out + ": PCM 44.100 kHz, 16 Bit, Stereo; 2.0"), std::string::npos) << output;
    read_result r = read_wave(out);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_GE(r.data_size, 2u * 176400);
    EXPECT_LT(r.data_size, 2u * 176400 + 8192);
    std::vector<uint8_t> want = sound_test::samples_le(source);
    want.resize(r.data.size());
    EXPECT_TRUE(r.data == want);
}

TEST_F(BatchRecording, RecordRefusesWithoutTouchingAnything)
{
    std::string out = dir.file("rec.wav");
    EXPECT_EQ(batch("record " + out), 2) << output;
    EXPECT_NE(output.find("--seconds"), std::string::npos);
    EXPECT_EQ(batch("record " + out + " --seconds=1 --loud"), 2) << output;
    EXPECT_EQ(batch("record " + out + " --seconds=-1"), 2) << output;
    EXPECT_EQ(batch("record " + out + " --seconds=1 --format=pcm,44100,2,8"), 1) << output;
    EXPECT_NE(output.find("formats"), std::string::npos) << output;
    EXPECT_EQ(batch("record " + out + " --seconds=1 --source=" + dir.file("none.wav")), 1) << output;
    EXPECT_EQ(batch("record " + dir.path + " --seconds=1"), 1) << output;
    EXPECT_FALSE(std::ifstream(out).good()) << "nothing was created";

    std::vector<uint8_t> old = {'o', 'l', 'd'};
    sound_test::write_file(out, old);
    EXPECT_EQ(batch("record " + out + " --seconds=1"), 1) << output;
    EXPECT_NE(output.find("--overwrite"), std::string::npos) << output;
    EXPECT_TRUE(sound_test::read_file(out) == old);
    EXPECT_EQ(batch("record " + out + " --seconds=1 --overwrite"), 0) << output;
    EXPECT_EQ(read_wave(out).failed_at, "");
}

TEST_F(BatchRecording, SplitCutsTheDemoSideIntoItsSongs)
{
    // The folder is made when it is not there yet.
    const std::string sides = dir.file("sides");
    ASSERT_EQ(batch("split " + sides + " --bias"), 0) << output;
    std::istringstream lines(output);
    std::string line;
    std::getline(lines, line);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(bias: left (\d+) right (\d+))"))) << line;
    EXPECT_GT(std::stoi(m[1]), 229) << "the groove's level and 229 more";
    EXPECT_LT(std::stoi(m[1]), 400);
    int n = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(n, demo_song_count()) << output;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(R"((\S+) ([0-9.]+) ([0-9.]+))"))) << line;
        EXPECT_EQ(m[1].str(), sides + "/track" + std::to_string(n) + ".wav");
        const demo_song song = demo_song_at(n);
        const double start = std::stod(m[2]), end = std::stod(m[3]);
        EXPECT_NEAR(start, song.first_frame / double(DEMO_RATE) + 0.2, 0.3) << line;
        EXPECT_GE(end - song.end_frame / double(DEMO_RATE), 2.5) << line;
        EXPECT_LE(end - song.end_frame / double(DEMO_RATE), 5.0) << line;
        read_result r = read_wave(m[1].str());
        EXPECT_EQ(r.failed_at, "") << line;
        EXPECT_NEAR(r.data_size / 176400.0, end - start, 0.01);
        if (sox_available()) {
            std::string report;
            EXPECT_EQ(run_command("sox '" + m[1].str() + "' -n stat", &report), 0) << report;
        }
        ++n;
    }
    EXPECT_EQ(n, demo_song_count()) << output;

    // A second split into the same directory would write over the tracks.
    EXPECT_EQ(batch("split " + sides), 1) << output;
    EXPECT_NE(output.find("track0.wav exists"), std::string::npos) << output;
}

TEST_F(BatchRecording, SplitOfASilentSourceFindsNoTake)
{
    std::string in = source_file(std::vector<int16_t>(44100 * 2, 0));
    std::string tracks = dir.file("tracks");
    ASSERT_EQ(std::system(("mkdir '" + tracks + "'").c_str()), 0);
    EXPECT_EQ(batch("split " + tracks + " --intro=0 --source=" + in), 1) << output;
    EXPECT_NE(output.find("no take"), std::string::npos) << output;
    // Only the last folder of the path is made: a mistyped parent is told.
    EXPECT_EQ(batch("split " + dir.file("missing/sides")), 1) << output;
    EXPECT_NE(output.find("No such file"), std::string::npos) << output;
}
