// trackmill-batch record and split, run as a user runs them: the file a
// recording leaves, the takes of the demo side against its songs, and the
// refusals that leave everything as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <random>
#include <thread>
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
    // The batch program running on its own; its stdout and stderr go to `log`.
    pid_t start_batch(const std::string& args, const std::string& log)
    {
        const std::string command = std::string("exec '") + TM_BATCH_PROGRAM + "' " + args + " >'" + log + "' 2>&1";
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    static int exit_status(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Waits (at most 20 s) until `path` holds more than `bytes` bytes.
    static bool grows_past(const std::string& path, off_t bytes)
    {
        for (int i = 0; i < 2000; ++i) {
            struct stat st;
            if (stat(path.c_str(), &st) == 0 && st.st_size > bytes)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
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
    // A FIFO with no writer is refused at once instead of waited on.
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(run_command("timeout 20 " + std::string(TM_BATCH_PROGRAM) + " record " + out +
                              " --seconds=1 --source=" + fifo, &output), 1) << output;
    EXPECT_NE(output.find("not a regular file"), std::string::npos) << output;
    EXPECT_FALSE(std::ifstream(out).good()) << "nothing was created";

    std::vector<uint8_t> old(500000, 'o');   // longer than the new recording
    sound_test::write_file(out, old);
    EXPECT_EQ(batch("record " + out + " --seconds=1"), 1) << output;
    EXPECT_NE(output.find("--overwrite"), std::string::npos) << output;
    EXPECT_TRUE(sound_test::read_file(out) == old);
    EXPECT_EQ(batch("record " + out + " --seconds=1 --overwrite"), 0) << output;
    read_result r = read_wave(out);
    EXPECT_EQ(r.failed_at, "");
    const std::vector<uint8_t> now = sound_test::read_file(out);
    EXPECT_EQ(now.size(), recording::le32(now, 4) + 8u) << "no old tail after the new recording";
    EXPECT_EQ(now.size(), 44u + r.data_size);
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
    EXPECT_NE(output.find(".wav exists: split into a directory without track files"), std::string::npos) << output;
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

TEST_F(BatchRecording, InterruptsEndRecordAndSplitAsStopDoes)
{
    std::string in = source_file(recording::counting_samples(30.0));
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const std::string out = dir.file(("rec" + std::to_string(sig) + ".wav").c_str());
        pid_t pid = start_batch("record " + out + " --seconds=30 --speed=4 --source=" + in, dir.file("log"));
        ASSERT_TRUE(grows_past(out, 44 + 176400));
        kill(pid, sig);
        EXPECT_EQ(exit_status(pid), 1);
        const std::vector<uint8_t> log = sound_test::read_file(dir.file("log"));
        EXPECT_NE(std::string(log.begin(), log.end()).find("interrupted"), std::string::npos);
        read_result r = read_wave(out);
        ASSERT_EQ(r.failed_at, "");
        EXPECT_EQ(sound_test::read_file(out).size(), 44u + r.data_size) << "the file was finished";
        EXPECT_LT(r.data_size, 20u * 176400);
    }

    std::vector<recording::stretch> parts = {{0.5, 0, 0}};
    for (int i = 0; i < 8; ++i)
        parts.insert(parts.end(), {{1.0, 5000, 5000}, {2.0, 0, 0}});
    std::string side = source_file(recording::square_samples(parts));
    pid_t pid = start_batch("split " + dir.path + " --intro=0 --speed=4 --source=" + side, dir.file("log"));
    ASSERT_TRUE(grows_past(dir.file("track1.wav"), 44));
    kill(pid, SIGINT);
    EXPECT_EQ(exit_status(pid), 1);
    const std::vector<uint8_t> log = sound_test::read_file(dir.file("log"));
    const std::string said(log.begin(), log.end());
    EXPECT_NE(said.find("interrupted"), std::string::npos) << said;
    EXPECT_NE(said.find(dir.file("track1.wav") + " "), std::string::npos) << said;
    read_result r = read_wave(dir.file("track1.wav"));
    ASSERT_EQ(r.failed_at, "") << said;
    EXPECT_EQ(sound_test::read_file(dir.file("track1.wav")).size(), 44u + r.data_size);
}

TEST_F(BatchRecording, ATakeFileAnotherRunCreatedIsKeptAndEndsTheSplit)
{
    std::vector<recording::stretch> parts = {{0.5, 0, 0}};
    for (int i = 0; i < 4; ++i)
        parts.insert(parts.end(), {{1.0, 5000, 5000}, {2.0, 0, 0}});
    std::string side = source_file(recording::square_samples(parts));
    std::string tracks = dir.file("tracks");
    ASSERT_EQ(std::system(("mkdir '" + tracks + "'").c_str()), 0);
    pid_t pid = start_batch("split " + tracks + " --intro=0 --speed=4 --source=" + side, dir.file("log"));
    // The other run gets to the second take's name first.
    ASSERT_TRUE(grows_past(tracks + "/track0.wav", 0));
    const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    sound_test::write_file(tracks + "/track1.wav", other);
    EXPECT_EQ(exit_status(pid), 1);
    const std::vector<uint8_t> log = sound_test::read_file(dir.file("log"));
    const std::string said(log.begin(), log.end());
    EXPECT_NE(said.find("track1.wav was created by someone else"), std::string::npos) << said;
    EXPECT_TRUE(sound_test::read_file(tracks + "/track1.wav") == other);
    EXPECT_NE(said.find(tracks + "/track0.wav "), std::string::npos) << said;
    EXPECT_EQ(said.find(tracks + "/track1.wav 1"), std::string::npos) << said;
    EXPECT_EQ(read_wave(tracks + "/track0.wav").failed_at, "");
    struct stat st;
    EXPECT_NE(stat((tracks + "/track2.wav").c_str(), &st), 0);
}

TEST_F(BatchRecording, RepairSetsTheSizesFromTheLengthAndLeavesRightFilesAlone)
{
    const std::vector<uint8_t> samples = sound_test::samples_le(recording::counting_samples(0.5));   // 88,200 bytes
    const std::vector<uint8_t> whole = sound_test::wav_bytes(44100, 2, 16, samples);
    auto with_sizes = [&](uint32_t riff, uint32_t data, size_t keep) {
        std::vector<uint8_t> b(whole.begin(), whole.begin() + long(keep));
        for (int i = 0; i < 4; ++i) {
            b[4 + i] = uint8_t(riff >> (8 * i));
            b[40 + i] = uint8_t(data >> (8 * i));
        }
        return b;
    };
    const std::string f = dir.file("take.wav");
    // The running sizes of a killed recording, and sizes short of the length:
    // every whole frame counts, a torn last frame stays outside.
    for (const auto& [riff, data] : {std::pair<uint32_t, uint32_t>{0x07F00000, 0x07E00000}, {36 + 400, 400}}) {
        sound_test::write_file(f, with_sizes(riff, data, whole.size() - 2));
        ASSERT_EQ(batch("repair " + f), 0) << output;
        EXPECT_NE(output.find(std::to_string(data) + " -> 88196 bytes"), std::string::npos) << output;
        EXPECT_NE(output.find(data == 400 ? "0.50 s recovered" : "0.00 s recovered"), std::string::npos) << output;
        read_result r = read_wave(f);
        EXPECT_EQ(r.data_size, 88196u);
        EXPECT_EQ(sound_test::read_file(f), with_sizes(36 + 88196, 88196, whole.size() - 2));
    }
    // Right sizes: not a byte changes.
    sound_test::write_file(f, whole);
    ASSERT_EQ(batch("repair " + f), 0) << output;
    EXPECT_NE(output.find("nothing to repair"), std::string::npos) << output;
    EXPECT_TRUE(sound_test::read_file(f) == whole);
    // An odd data size gets its pad byte.
    std::vector<uint8_t> odd = sound_test::wav_bytes(8000, 1, 8, std::vector<uint8_t>(101, 0x80));
    odd.resize(44 + 101);
    odd[40] = odd[4] = 0;
    sound_test::write_file(f, odd);
    ASSERT_EQ(batch("repair " + f), 0) << output;
    const std::vector<uint8_t> padded = sound_test::read_file(f);
    ASSERT_EQ(padded.size(), 44u + 102);
    EXPECT_EQ(recording::le32(padded, 4), 36u + 102);
    EXPECT_EQ(recording::le32(padded, 40), 101u);
    if (sox_available()) {
        std::string report;
        EXPECT_EQ(run_command("sox -V2 '" + f + "' -n", &report), 0);
        EXPECT_EQ(report, "");
    }
    // Anything else is refused with the reason, and left as it was.
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'W', 'A', 'V'};
    sound_test::write_file(f, text);
    EXPECT_EQ(batch("repair " + f), 1) << output;
    EXPECT_NE(output.find("not a WAV file"), std::string::npos) << output;
    std::vector<uint8_t> listed = with_sizes(36 + 400, 400, whole.size());
    listed.resize(44 + 400);
    for (char c : std::string("LIST\x04\0\0\0INFO", 12))
        listed.push_back(uint8_t(c));
    listed[4] = uint8_t(36 + 400 + 12 - 256);
    listed[5] = 1;
    sound_test::write_file(f, listed);
    EXPECT_EQ(batch("repair " + f), 0) << output;
    EXPECT_NE(output.find("nothing to repair"), std::string::npos) << output;
    listed[4] = 0;
    sound_test::write_file(f, listed);
    EXPECT_EQ(batch("repair " + f), 1) << output;
    EXPECT_NE(output.find("other chunks follow the data chunk"), std::string::npos) << output;
    EXPECT_TRUE(sound_test::read_file(f) == listed);
    EXPECT_EQ(batch("repair " + dir.file("none.wav")), 1) << output;
    EXPECT_EQ(batch("repair"), 2) << output;
}

// A recording killed at a random moment (kill -9, a crash, a power cut) is
// a WAV file that sox reads without a warning and that lacks at most the
// last second of what reached the file.
TEST_F(BatchRecording, AKilledRecordingIsAWavFileShortOfAtMostASecond)
{
    SKIP_WITHOUT_SOX();
    std::vector<int16_t> source = recording::counting_samples(12.0);
    std::string in = source_file(source);
    const std::vector<uint8_t> want = sound_test::samples_le(source);
    std::mt19937 pick(std::random_device{}());
    std::uniform_int_distribution<int> moment_ms(1200, 2600);
    for (int run = 0; run < 3; ++run) {
        const int after_ms = moment_ms(pick);
        SCOPED_TRACE("killed after " + std::to_string(after_ms) + " ms");
        const std::string out = dir.file(("killed" + std::to_string(run) + ".wav").c_str());
        pid_t pid = start_batch("record " + out + " --seconds=10 --speed=1 --source=" + in, dir.file("log"));
        // The moment counts from the file's header, not from the program's
        // start, which a loaded machine or a sanitizer build may stretch.
        EXPECT_TRUE(grows_past(out, 0)) << "the recording began";
        std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
        kill(pid, SIGKILL);
        exit_status(pid);
        std::string report;
        EXPECT_EQ(run_command("sox '" + out + "' -n", &report), 0);
        EXPECT_EQ(report, "") << "sox warns";
        const std::vector<uint8_t> file = sound_test::read_file(out);
        ASSERT_GE(file.size(), 44u);
        read_result r = read_wave(out);
        ASSERT_EQ(r.failed_at, "");
        EXPECT_GE(r.data_size + 176400, file.size() - 44) << "at most a second is not counted";
        EXPECT_GT(r.data_size, 0u);
        ASSERT_LE(r.data.size(), want.size());
        EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), want.begin()));
    }
}

TEST_F(BatchRecording, AHeaderTheDiskDoesNotTakeLeavesNoFileAndNoTake)
{
    const std::string out = dir.file("rec.wav");
    const std::string full = "trap '' XFSZ; ulimit -f 0; ";
    EXPECT_EQ(run_command(full + TM_BATCH_PROGRAM + " record " + out + " --seconds=1", &output), 1) << output;
    EXPECT_NE(output.find("the disk may be full"), std::string::npos) << output;
    struct stat st;
    EXPECT_NE(stat(out.c_str(), &st), 0) << "no empty file is left";
    EXPECT_EQ(run_command(full + TM_BATCH_PROGRAM + " split " + dir.path, &output), 1) << output;
    EXPECT_NE(output.find("the disk may be full"), std::string::npos) << output;
    EXPECT_EQ(output.find("track0.wav "), std::string::npos) << "no take is listed";
    EXPECT_NE(stat(dir.file("track0.wav").c_str(), &st), 0);
}
