// trackmill-batch encode and formats, run as a user runs them: files in every
// format that independent decoders read, an unchanged copy for the same PCM,
// and refusals that leave nothing behind.
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include "tests/acm/codec_check.h"
#include "tests/support/music_signal.h"
#include "tests/support/sox_check.h"
#include "platform/window/window.h"

using namespace codec_check;

namespace {
struct batch_result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// `shell_before` runs in the same shell first (a limit for the program).
batch_result run_batch(const scratch_dir& dir, const std::string& args, const std::string& shell_before = "")
{
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    int raw = std::system((shell_before + "'" TM_BATCH_PROGRAM "' " + args + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

// A 16-bit PCM input file of the music-like signal.
std::vector<int16_t> write_input(const scratch_dir& dir, uint32_t rate, int channels, uint32_t frames)
{
    std::vector<int16_t> signal = music_signal(rate, channels, frames);
    format_area pcm = {};
    pcm.fmt = {WAVE_FORMAT_PCM, uint16_t(channels), rate, rate * 2u * channels, uint16_t(2 * channels), 16, 0};
    const auto* p = reinterpret_cast<const uint8_t*>(signal.data());
    write_wav(dir.file("in.wav"), pcm, std::vector<uint8_t>(p, p + signal.size() * 2));
    return signal;
}

uint32_t le32(const std::string& s, size_t at)
{
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}
} // namespace

TEST(BatchEncode, EveryTagMakesAFileOtherProgramsPlayWithNothingLost)
{
    SKIP_WITHOUT_SOX();
    scratch_dir dir;
    struct {
        const char* spelling;
        double floor_db;
    } cases[] = {
        {"ima-adpcm,44100,2", 42.0}, {"adpcm,44100,2", 45.0}, {"alaw,44100,2", 37.0},
        {"mulaw,44100,2", 37.0},     {"gsm,8000,1", 14.0},    {"mp3,44100,2,128", 24.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spelling);
        format_area f = format_of(c.spelling);
        const int ch = f.fmt.channels;
        // An odd length, so that the last buffer is short and its block partial.
        auto signal = write_input(dir, f.fmt.samples_per_sec, ch, f.fmt.samples_per_sec + 1234);
        batch_result r = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --format=" + c.spelling);
        ASSERT_EQ(r.status, 0) << r.err;

        // The header is the capture writer's, for the chosen format.
        std::string file = slurp(dir.file("out.wav"));
        uint32_t l = le32(file, 16);
        ASSERT_EQ(l, f.fmt.cb_size ? 18u + f.fmt.cb_size : 16u);
        EXPECT_EQ(std::memcmp(file.data() + 20, f.bytes, l), 0);
        EXPECT_EQ(le32(file, 4), file.size() - 8);
        EXPECT_EQ(le32(file, 24 + l), file.size() - 28 - l);

        std::vector<int16_t> decoded;
        int lag = 0;
        if (f.fmt.format_tag == WAVE_FORMAT_MPEGLAYER3) {
            decoded = mpg123_decode(dir, std::vector<uint8_t>(file.begin() + 28 + l, file.end()));
            lag = 1105;
        } else {
            decoded = sox_decode(dir, dir.file("out.wav"));
        }
        ASSERT_GE(decoded.size() / ch, signal.size() / ch + size_t(lag)) << "the end of the input is missing";
        EXPECT_GE(snr_db(signal, decoded, ch, lag + 10), c.floor_db);
    }
}

TEST(BatchEncode, SamePcmCopiesEverySampleAndAnOldLongerFileIsReplaced)
{
    scratch_dir dir;
    auto signal = write_input(dir, 22050, 1, 10007);
    std::ofstream(dir.file("out.wav"), std::ios::binary) << std::string(100000, 'x');
    batch_result r = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --format=pcm,22050,1,16");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string in = slurp(dir.file("in.wav")), out = slurp(dir.file("out.wav"));
    EXPECT_EQ(out, in) << "header and every sample the same, nothing of the old file left";
    EXPECT_NE(r.out.find("10007 frames"), std::string::npos) << r.out;
}

TEST(BatchEncode, AFailedRunLeavesTheOldOutputAsItWas)
{
    scratch_dir dir;
    write_input(dir, 22050, 1, 100000);
    const std::string old(5000, 'x');
    std::ofstream(dir.file("out.wav"), std::ios::binary) << old;
    std::ofstream(dir.file("out.wav.part"), std::ios::binary) << "mine";
    // A file system that takes no file past 20 KiB.
    batch_result r = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --format=pcm,22050,1,16",
                               "trap '' XFSZ; ulimit -f 20; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the disk may be full"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir.file("out.wav")), old);
    // No file is left beside it, and a file of the user's that looks like
    // a temporary one is not touched.
    std::string left;
    run_command("ls '" + dir.path + "' | grep out.wav", &left);
    EXPECT_EQ(left, "out.wav\nout.wav.part\n");
    EXPECT_EQ(slurp(dir.file("out.wav.part")), "mine");
}

TEST(BatchEncode, RefusalsSayWhyAndWriteNothing)
{
    scratch_dir dir;
    write_input(dir, 44100, 2, 5000);
    std::string in = "'" + dir.file("in.wav") + "'", out = dir.file("out.wav");
    struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"encode " + in + " '" + out + "' --format=gsm,8000,1", 1, "is made from 8000 Hz, 1 channel, 16-bit PCM"},
        {"encode " + in + " '" + out + "' --format=mp3,22050,2,64", 1, "44100 Hz, 2 channels"},
        {"encode " + in + " '" + out + "' --format=pcm,44100,2,8", 1, "8 bits PCM format not supported"},
        {"encode " + in + " '" + out + "' --format=mp3,44100,2,100", 1, "bit rate"},
        {"encode " + in + " '" + out + "' --format=wav", 1, "expected TAG,RATE,CHANNELS"},
        {"encode " + in + " '" + out + "'", 2, "needs --format"},
        {"encode " + in + " --format=pcm,44100,2,16", 2, "needs an input and an output"},
        {"encode " + in + " '" + out + "' x.wav --format=pcm,44100,2,16", 2, "too many"},
        {"encode " + in + " '" + out + "' --rate=3", 2, "unknown option"},
        {"encode '" + dir.file("missing.wav") + "' '" + out + "' --format=pcm,44100,2,16", 1, "no such file"},
        {"encode " + in + " " + in + " --format=pcm,44100,2,16", 1, "is the input file"},
        {"encode " + in + " '" + dir.path + "' --format=pcm,44100,2,16", 1, "is not a plain file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        batch_result r = run_batch(dir, c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(exists(out));
    }
    EXPECT_EQ(slurp(dir.file("in.wav")).size(), 44u + 5000 * 4) << "the input is untouched";

    // Inputs that are not 16-bit PCM, or not WAV at all.
    format_area gsm = format_of("gsm,8000,1");
    write_wav(dir.file("gsm.wav"), gsm, std::vector<uint8_t>(650, 0));
    std::ofstream(dir.file("text.wav")) << "hello, this is not a sound file";
    for (const char* name : {"gsm.wav", "text.wav"}) {
        batch_result r = run_batch(dir, "encode '" + dir.file(name) + "' '" + out + "' --format=gsm,8000,1");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_FALSE(r.err.empty());
        EXPECT_FALSE(exists(out));
    }
}

TEST(BatchEncode, ATruncatedInputIsEncodedAsFarAsItGoesWithAWarning)
{
    scratch_dir dir;
    write_input(dir, 8000, 1, 4000);
    std::string whole = slurp(dir.file("in.wav"));
    std::ofstream(dir.file("cut.wav"), std::ios::binary) << whole.substr(0, 44 + 3000 * 2);
    batch_result r = run_batch(dir, "encode '" + dir.file("cut.wav") + "' '" + dir.file("out.wav") + "' --format=pcm,8000,1,16");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ends 2000 bytes before"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir.file("out.wav")).substr(44), whole.substr(44, 6000));
}

TEST(BatchFormats, ListsEveryOfferedFormatWithItsSpelling)
{
    scratch_dir dir;
    batch_result r = run_batch(dir, "formats");
    ASSERT_EQ(r.status, 0);
    const format_choice* list = nullptr;
    int count = acm_format_choices(&list);
    std::istringstream lines(r.out);
    std::string line;
    int n = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(n, count);
        std::string expect = std::string(list[n].tag_name) + "\t" + list[n].description + "\t" + list[n].spelling + "\t";
        EXPECT_EQ(line.substr(0, expect.size()), expect);
        ++n;
    }
    EXPECT_EQ(n, count);
    EXPECT_NE(r.out.find("IMA ADPCM\t44.100 kHz, 4 Bit, Stereo\tima-adpcm,44100,2\t44251 bytes/s"), std::string::npos);
    EXPECT_EQ(run_batch(dir, "formats extra").status, 2);
}
