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

// A WAV file's length in frames as sox and as ffprobe read it; -1 when the
// reader fails.
long reader_frames(const std::string& command)
{
    std::string out;
    return run_command(command, &out) == 0 ? std::atol(out.c_str()) : -1;
}
long sox_frames(const std::string& wav) { return reader_frames("soxi -s '" + wav + "'"); }
long ffprobe_frames(const std::string& wav)
{
    return reader_frames("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 '" + wav + "'");
}
bool ffprobe_available() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }

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
        // MPEG lengths that ffprobe once guessed from the bit rate (a dense
        // mono stream, 32 and 48 kHz) or halved (8 kHz stereo, an even count).
        {"mp3,44100,1,128", 24.0},   {"mp3,32000,1,320", 24.0}, {"mp3,48000,2,192", 24.0},
        {"mp3,8000,2,64", 10.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spelling);
        format_area f = format_of(c.spelling);
        const int ch = f.fmt.channels;
        // An odd length, so that the last buffer is short and its block partial.
        auto signal = write_input(dir, f.fmt.samples_per_sec, ch, f.fmt.samples_per_sec + 1234);
        batch_result r = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --overwrite --format=" + c.spelling);
        ASSERT_EQ(r.status, 0) << r.err;

        // The header is the capture writer's, for the chosen format, with a
        // fact chunk before the data and a pad byte after odd data.
        std::string file = slurp(dir.file("out.wav"));
        uint32_t l = le32(file, 16);
        ASSERT_EQ(l, f.fmt.cb_size ? 18u + f.fmt.cb_size : 16u);
        EXPECT_EQ(std::memcmp(file.data() + 20, f.bytes, l), 0);
        EXPECT_EQ(le32(file, 4), file.size() - 8);
        EXPECT_EQ(file.substr(20 + l, 8), std::string("fact\4\0\0\0", 8));
        const uint32_t data_bytes = le32(file, 36 + l);
        EXPECT_EQ(data_bytes + (data_bytes & 1), file.size() - 40 - l);
        const uint32_t frames = le32(file, 28 + l);
        const uint32_t input_frames = uint32_t(signal.size()) / ch;
        const uint32_t block_frames = uint32_t(acm_source_block_bytes(&f.fmt)) / 2 / ch;
        EXPECT_GE(frames, input_frames);
        EXPECT_LT(frames, input_frames + block_frames);
        if (f.fmt.format_tag == WAVE_FORMAT_MPEGLAYER3) {
            EXPECT_EQ(frames, input_frames) << "MPEG's length is what its encoder took in";
        } else {
            EXPECT_EQ(sox_frames(dir.file("out.wav")), frames);   // sox reads no MPEG in WAV
        }
        if (ffprobe_available()) {
            EXPECT_EQ(ffprobe_frames(dir.file("out.wav")), frames);
        }

        std::vector<int16_t> decoded;
        int lag = 0;
        if (f.fmt.format_tag == WAVE_FORMAT_MPEGLAYER3) {
            decoded = mpg123_decode(dir, std::vector<uint8_t>(file.begin() + 40 + l, file.begin() + 40 + l + data_bytes));
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
    // Without --overwrite the old file is kept; with it, replaced whole.
    batch_result kept = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --format=pcm,22050,1,16");
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("exists; --overwrite"), std::string::npos) << kept.err;
    EXPECT_EQ(slurp(dir.file("out.wav")), std::string(100000, 'x'));
    batch_result r = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --overwrite --format=pcm,22050,1,16");
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
    batch_result r = run_batch(dir, "encode '" + dir.file("in.wav") + "' '" + dir.file("out.wav") + "' --overwrite --format=pcm,22050,1,16",
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
        {"encode " + in + " '" + out + "' --format=mp3,44100,2,100", 2, "bit rate"},
        {"encode " + in + " '" + out + "' --format=wav", 2, "expected TAG,RATE,CHANNELS"},
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

namespace {
// A 16-bit PCM track of the music-like signal, its samples kept for the
// comparison.
std::vector<int16_t> write_track(const std::string& path, uint32_t rate, int channels, uint32_t frames, uint32_t seed)
{
    std::vector<int16_t> signal = music_signal(rate, channels, frames, seed);
    format_area pcm = {};
    pcm.fmt = {WAVE_FORMAT_PCM, uint16_t(channels), rate, rate * 2u * channels, uint16_t(2 * channels), 16, 0};
    const auto* p = reinterpret_cast<const uint8_t*>(signal.data());
    write_wav(path, pcm, std::vector<uint8_t>(p, p + signal.size() * 2));
    return signal;
}

std::vector<int16_t> flac_decode(const scratch_dir& dir, const std::string& flac)
{
    std::string raw = dir.file("flac.raw");
    std::remove(raw.c_str());
    if (!run("flac -s -d --force-raw-format --endian=little --sign=signed -o '" + raw + "' '" + flac + "'"))
        return {};
    return read_raw(raw);
}

std::string command_output(const std::string& command)
{
    std::string out;
    return run_command(command, &out) == 0 ? out : "failed: " + out;
}
} // namespace

// A folder's tracks in track-number order with the titles of a list in the
// record's numbering, a cleaned file in its track's place: FLAC files that
// decode to every sample with their tags, an MP3 file of the track's length
// with its ID3v2 tags, and a second run that overwrites nothing.
TEST(BatchExport, TracksBecomeTaggedFilesSampleForSample)
{
    if (std::system("flac --version >/dev/null 2>&1 && metaflac --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "flac is not installed (scripts/install-deps installs it)";
    scratch_dir dir;
    auto two = write_track(dir.file("track2.wav"), 44100, 2, 30011, 1);
    auto nine = write_track(dir.file("track9.wav"), 22050, 1, 9001, 2);
    auto cleaned_nine = write_track(dir.file("tracd9.wav"), 22050, 1, 9002, 3);
    auto ten = write_track(dir.file("track10.wav"), 48000, 2, 7000, 4);
    std::ofstream(dir.file("list.txt")) << "A1 Opening\r\nA2 Either/Or\n\nB1 Für Elise\n";
    batch_result r = run_batch(dir, "export '" + dir.path + "' --to=flac --tracklist='" + dir.file("list.txt") +
                                        "' --artist='The Quiet Ones' --album='Live at the Mill' --year=1977 --cleaned=d");
    ASSERT_EQ(r.status, 0) << r.err;
    struct {
        const char* name;
        const std::vector<int16_t>* samples;
        const char* tags;
    } files[] = {
        {"A1 - Opening.flac", &two, "TITLE=Opening\nTRACKNUMBER=1\n"},
        {"A2 - Either-Or.flac", &cleaned_nine, "TITLE=Either/Or\nTRACKNUMBER=2\n"},
        {"B1 - Für Elise.flac", &ten, "TITLE=Für Elise\nTRACKNUMBER=3\n"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(flac_decode(dir, dir.file(f.name)) == *f.samples);
        EXPECT_EQ(command_output("metaflac --export-tags-to=- '" + dir.file(f.name) + "'"),
                  std::string("ARTIST=The Quiet Ones\nALBUM=Live at the Mill\n") + f.tags + "DATE=1977\n");
    }
    EXPECT_NE(r.out.find("tracd9.wav"), std::string::npos) << r.out;

    // A plain list (one title that only looks numbered), titles beyond
    // Latin-1 in the ID3v2 tag, and a mono track.
    std::ofstream(dir.file("plain.txt")) << "U2 Live\nFür Elise – 𝄞\n";
    r = run_batch(dir, "export '" + dir.file("track2.wav") + "' '" + dir.file("track9.wav") +
                           "' --to=mp3 --artist=Solo --tracklist='" + dir.file("plain.txt") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    if (ffprobe_available()) {
        struct {
            const char* name;
            const std::vector<int16_t>* samples;
            const char* tags;
        } mp3s[] = {{"01 - U2 Live.mp3", &two, "Solo,U2 Live,1\n"}, {"02 - Für Elise – 𝄞.mp3", &nine, "Solo,Für Elise – 𝄞,2\n"}};
        for (const auto& m : mp3s) {
            SCOPED_TRACE(m.name);
            const std::string mp3 = dir.file(m.name);
            EXPECT_EQ(command_output("ffprobe -v error -show_entries format_tags=artist,title,track -of csv=p=0 '" + mp3 + "'"),
                      m.tags);
            EXPECT_EQ(command_output("ffmpeg -v error -i '" + mp3 + "' -f s16le - | wc -c"),
                      std::to_string(m.samples->size() * 2) + "\n") << "the encoder's delay and padding are not heard";
        }
    }

    const std::string before = slurp(dir.file("A1 - Opening.flac"));
    r = run_batch(dir, "export '" + dir.path + "' --to=flac --tracklist='" + dir.file("list.txt") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("A1 - Opening.flac exists"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir.file("A1 - Opening.flac")), before);
}

TEST(BatchExport, RefusalsSayWhyAndMakeNothing)
{
    scratch_dir dir;
    write_track(dir.file("track0.wav"), 8000, 1, 800, 1);
    write_wav(dir.file("gsm.wav"), format_of("gsm,8000,1"), std::vector<uint8_t>(650, 0));
    std::ofstream(dir.file("two.txt")) << "One\nTwo\n";
    std::ofstream(dir.file("latin1.txt")) << "F\xfcr Elise\n";
    const std::string track = "'" + dir.file("track0.wav") + "'";
    struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"export " + track, 2, "needs --to=flac or --to=mp3"},
        {"export " + track + " --to=ogg", 2, "--to takes flac or mp3"},
        {"export --to=flac", 2, "needs a folder"},
        {"export " + track + " --to=flac --cleaned=x", 2, "--cleaned takes"},
        {"export " + track + " --to=flac --quality=9", 2, "unknown option"},
        {"export '" + dir.file("missing.wav") + "' --to=flac", 1, "no such file"},
        {"export '" + dir.file("gsm.wav") + "' --to=mp3", 1, "is not 16-bit PCM"},
        {"export " + track + " --to=flac --tracklist='" + dir.file("none.txt") + "'", 1, "cannot read the track list"},
        {"export " + track + " --to=flac --tracklist='" + dir.file("two.txt") + "'", 1, "has 2 titles for 1 tracks"},
        {"export " + track + " --to=flac --tracklist='" + dir.file("latin1.txt") + "'", 1, "is not UTF-8 text (line 1)"},
        {"export " + track + " --to=flac --artist=\"$(printf '\\351t\\351')\"", 1, "not UTF-8 text"},
        {"export '" + dir.path + "/sub' --to=flac", 1, "cannot open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        batch_result r = run_batch(dir, c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find("usage: trackmill-batch export"), std::string::npos);
        }
    }
    EXPECT_EQ(command_output("ls '" + dir.path + "' | grep -e flac -e mp3 | wc -l"), "0\n");
}

// A file that cannot be written whole is removed, and the files finished
// before it stay; a track cut short is exported as far as it goes.
TEST(BatchExport, AFailedFileIsRemovedAndACutTrackGoesAsFarAsItGoes)
{
    if (std::system("flac --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "flac is not installed (scripts/install-deps installs it)";
    scratch_dir dir;
    auto first = write_track(dir.file("track0.wav"), 8000, 1, 4000, 1);
    write_track(dir.file("track1.wav"), 44100, 2, 441000, 2);
    // A file system that takes no file past 200 KiB.
    batch_result r = run_batch(dir, "export '" + dir.path + "' --to=flac", "trap '' XFSZ; ulimit -f 200; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("02 - Track 2.flac: FLAC encoding failed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the files before it are whole"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir.file("02 - Track 2.flac")));
    EXPECT_TRUE(flac_decode(dir, dir.file("01 - Track 1.flac")) == first);

    std::string whole = slurp(dir.file("track0.wav"));
    ASSERT_TRUE(run("mkdir '" + dir.file("cut") + "'"));
    std::ofstream(dir.file("cut/cut.wav"), std::ios::binary) << whole.substr(0, 44 + 3001 * 2 + 1);
    r = run_batch(dir, "export '" + dir.file("cut/cut.wav") + "' --to=flac");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cut.wav ends before its data chunk does"), std::string::npos) << r.err;
    EXPECT_TRUE(flac_decode(dir, dir.file("cut/01 - Track 1.flac")) == std::vector<int16_t>(first.begin(), first.begin() + 3001));
}
