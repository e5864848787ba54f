// trackmill-batch split run as a user runs it: a tape side into twelve
// numbered tracks with their cue sheet and labels, and the refusals that
// leave every file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fstream>
#include <regex>
#include <sstream>
#include "platform/file/file.h"
#include "split/split.h"
#include "tests/sound/sound_test_util.h"
#include "tests/split/side_maker.h"
#include "tests/support/riff_read.h"
#include "tests/support/sox_check.h"

namespace {

struct SplitBatch : testing::Test {
    sound_test::scratch_dir dir;
    std::string output;

    int batch(const std::string& args) { return run_command(std::string(TM_BATCH_PROGRAM) + " " + args, &output); }
    std::string write_side(const char* name, const std::vector<int16_t>& samples, uint32_t rate = 8000, int channels = 1,
                           int bits = 16)
    {
        const std::string path = dir.file(name);
        sound_test::write_file(path, sound_test::wav_bytes(rate, channels, bits, sound_test::samples_le(samples)));
        return path;
    }
};

side_maker::side_plan tape_side()
{
    side_maker::side_plan tape;
    for (double s : {28, 33, 25, 31, 36, 27, 30, 24, 35, 29, 32, 26}) {
        side_maker::song_plan song;
        song.seconds = s;
        tape.songs.push_back(song);
    }
    tape.gaps = {4, 3, 5, 2.5};
    tape.hiss = 70;
    tape.seed = 11;
    return tape;
}

std::string text_of(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST_F(SplitBatch, TapeSideIntoNumberedTracksWithCueSheetAndLabels)
{
    const side_maker::made_side made = side_maker::make_side(tape_side());
    const std::string side = write_side("side.wav", made.samples);
    const std::string out = dir.file("tracks");   // made by the run
    ASSERT_EQ(batch("split " + side + " " + out + " --tracks=12"), 0) << output;

    // One line per track as it is written: file, start, end, length.
    std::istringstream lines(output);
    std::string line;
    std::smatch m;
    int n = 0;
    while (std::getline(lines, line)) {
        ASSERT_TRUE(std::regex_match(line, m, std::regex(R"((\S+) ([0-9.]+) ([0-9.]+) ([0-9.]+))"))) << line;
        EXPECT_EQ(m[1].str(), out + "/track" + std::to_string(n) + ".wav");
        EXPECT_NEAR(std::stod(m[3]) - std::stod(m[2]), std::stod(m[4]), 0.011) << line;
        ++n;
    }
    EXPECT_EQ(n, 12) << output;

    // The labels hold the cuts; each track is the side's own samples between them.
    std::istringstream labels(text_of(out + "/labels.txt"));
    for (int k = 0; k < 12; ++k) {
        ASSERT_TRUE(std::getline(labels, line)) << k;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(([0-9.]+)\t([0-9.]+)\ttrack(\d+))"))) << line;
        EXPECT_EQ(std::stoi(m[3]), k);
        const uint64_t first = uint64_t(std::llround(std::stod(m[1]) * 8000)), end = uint64_t(std::llround(std::stod(m[2]) * 8000));
        EXPECT_LE(first, made.songs[size_t(k)].first) << line;
        EXPECT_GE(end, made.songs[size_t(k)].end) << line;
        const read_result track = read_wave(out + "/track" + std::to_string(k) + ".wav");
        ASSERT_EQ(track.failed_at, "") << k;
        EXPECT_EQ(le16_at(track.format, 0), 1);
        EXPECT_EQ(le16_at(track.format, 2), 1);
        EXPECT_EQ(le32_at(track.format, 4), 8000u);
        const std::vector<int16_t> want(made.samples.begin() + int64_t(first), made.samples.begin() + int64_t(end));
        EXPECT_TRUE(track.data == sound_test::samples_le(want)) << "track " << k << " is not the side's samples";
    }
    EXPECT_FALSE(std::getline(labels, line)) << line;

    const std::string cue = text_of(out + "/side.cue");
    EXPECT_NE(cue.find("FILE \"track0.wav\" WAVE\n  TRACK 01 AUDIO\n"), std::string::npos) << cue;
    EXPECT_NE(cue.find("FILE \"track11.wav\" WAVE\n  TRACK 12 AUDIO\n    TITLE \"Track 12\"\n    INDEX 01 00:00:00\n"),
              std::string::npos)
        << cue;
    if (sox_available()) {
        std::string report;
        EXPECT_EQ(run_command("sox '" + out + "/track11.wav' -n stat", &report), 0) << report;
    }

    // Found without the count, the same twelve; into the same directory, nothing.
    ASSERT_EQ(batch("split " + side + " " + dir.file("again")), 0) << output;
    EXPECT_NE(output.find("again/track11.wav "), std::string::npos) << output;
    EXPECT_EQ(output.find("track12"), std::string::npos) << output;
    const std::vector<uint8_t> before = sound_test::read_file(out + "/track0.wav");
    EXPECT_EQ(batch("split " + side + " " + out + " --pre-roll=0.1"), 1) << output;
    EXPECT_NE(output.find("track0.wav exists"), std::string::npos) << output;
    EXPECT_EQ(output.find(".wav 0"), std::string::npos) << "no track is listed: " << output;
    EXPECT_TRUE(sound_test::read_file(out + "/track0.wav") == before);
}

TEST_F(SplitBatch, RefusesWhatItCannotSplitAndWritesNothing)
{
    side_maker::side_plan plan = tape_side();
    plan.songs.resize(3);
    const side_maker::made_side made = side_maker::make_side(plan);
    const std::string side = write_side("side.wav", made.samples);
    const std::string eight_bit = write_side("eight.wav", made.samples, 8000, 1, 8);
    const std::string silent = write_side("silent.wav", std::vector<int16_t>(8000 * 30, 0));
    const std::string text = dir.file("notes.wav");
    sound_test::write_file(text, {'h', 'e', 'l', 'l', 'o'});
    const std::string pipe = dir.file("pipe.wav");   // no writer: must not hang the read
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string out = dir.file("out");

    struct refusal {
        std::string args;
        int status;
        std::string says;
    };
    const refusal refusals[] = {
        {"", 2, "which side"},
        {side, 2, "which side"},
        {side + " " + out + " --tracks=0", 2, "--tracks"},
        {side + " " + out + " --tracks=2.5", 2, "--tracks"},
        {side + " " + out + " --min-gap=0", 2, "--min-gap"},
        {side + " " + out + " --pre-roll=-1", 2, "--pre-roll"},
        {side + " " + out + " --loud", 2, "unknown option"},
        {side + " " + out + " " + out, 2, "not also"},
        {dir.file("none.wav") + " " + out, 1, "no such file"},
        {eight_bit + " " + out, 1, "only 16-bit PCM"},
        {text + " " + out, 1, "not a WAV file"},
        {pipe + " " + out, 1, "not a regular file"},
        {silent + " " + out, 1, "no music found"},
        {side + " " + out + " --tracks=4", 1, "at most 3 tracks"},
        {side + " " + side, 1, "is not a directory"},
        {side + " " + dir.file("no/such/dir"), 1, "cannot be made"},
    };
    for (const refusal& r : refusals) {
        EXPECT_EQ(batch("split " + r.args), r.status) << r.args << "\n" << output;
        EXPECT_NE(output.find(r.says), std::string::npos) << r.args << "\n" << output;
    }
    EXPECT_FALSE(std::ifstream(out).good()) << "not even the directory was made";
    ASSERT_EQ(mkdir(out.c_str(), 0777), 0);

    // A track file already there stops the run before any file is written.
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    sound_test::write_file(out + "/track2.wav", old);
    EXPECT_EQ(batch("split " + side + " " + out), 1) << output;
    EXPECT_NE(output.find("track2.wav exists"), std::string::npos) << output;
    EXPECT_TRUE(sound_test::read_file(out + "/track2.wav") == old);
    EXPECT_EQ(sound_test::read_file(out + "/track0.wav").size(), 0u);

    // A disk that fills while a track is written: the half track goes again.
    side_levels levels;
    std::string why;
    ASSERT_EQ(read_side_levels(side.c_str(), &levels, &why, nullptr), SPLIT_OK) << why;
    const split_track whole = {0, levels.frames, 0, levels.frames};
    const std::string full = dir.file("full.wav");
    plain_fail_writes_after(100000);
    EXPECT_EQ(write_track_file(side.c_str(), levels, whole, full.c_str(), &why), SPLIT_CANNOT_WRITE);
    plain_fail_writes_after(-1);
    EXPECT_NE(why.find("removed"), std::string::npos) << why;
    EXPECT_FALSE(std::ifstream(full).good());
    const std::string there = out + "/track2.wav";
    EXPECT_EQ(write_track_file(side.c_str(), levels, whole, there.c_str(), &why), SPLIT_EXISTS);
    EXPECT_TRUE(sound_test::read_file(out + "/track2.wav") == old);

    // The live form keeps its name and its old spelling.
    EXPECT_EQ(batch("autotrack " + dir.path + " --intro=0 --source=" + silent), 1) << output;
    EXPECT_NE(output.find("no take"), std::string::npos) << output;
}
