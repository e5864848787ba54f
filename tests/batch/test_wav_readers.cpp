// The one WAV reader that cleaning, encode and the virtual card's source
// share: each odd layout gets the same answer from all of them, run as
// trackmill-batch, and no wait on a FIFO.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include "platform/file/wav_reader.h"
#include "tests/support/riff_bytes.h"

namespace {

bytes fmt16() { return riff_builder::pcm_format(2, 44100, 16); }

// A quiet, smooth tone: the DeClicker passes it unchanged, so every reader
// must give back exactly these sample bytes.
bytes smooth_samples()
{
    riff_builder b;
    for (int i = 0; i < 200; ++i)
        b.u16(uint16_t(int16_t(std::lround(1500 * std::sin(i * 0.05)))));
    return b.out;
}

// The samples of a WAV file as the one reader finds them; empty when it refuses.
bytes samples_of(const std::string& name, uint32_t* rate = nullptr)
{
    const int fd = wav_open(name.c_str());
    wav_layout l = {};
    const bool ok = fd >= 0 && wav_read_layout(fd, &l) == WAV_OK;
    wav_close(fd);
    if (!ok)
        return {};
    if (rate)
        *rate = l.format.fmt.samples_per_sec;
    const bytes file = read_whole_file(name);
    return bytes(file.begin() + long(l.data_offset), file.begin() + long(l.data_offset + l.data_bytes));
}

int batch(const temp_dir& dir, const std::string& args, std::string* err)
{
    const std::string log = dir.file("batch.err");
    const int raw = std::system(("cd '" + dir.path() + "' && '" TM_BATCH_PROGRAM "' " + args + " >/dev/null 2>'" + log + "'").c_str());
    const bytes text = read_whole_file(log);
    err->assign(text.begin(), text.end());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

} // namespace

TEST(WavReader, EveryReaderGetsTheSameAnswers)
{
    temp_dir dir;
    const bytes samples = smooth_samples();
    bytes extensible = fmt16();
    riff_builder ext;
    ext.raw(extensible).u16(22).u16(16).u32(3).u16(1).fill(14, 0x11);   // sub-format PCM
    ext.out[0] = 0xFE;
    ext.out[1] = 0xFF;
    bytes fmt18 = fmt16();
    fmt18.insert(fmt18.end(), {0, 0});
    bytes fmt_8k = riff_builder::pcm_format(1, 8000, 16);
    struct wav_case {
        const char* what;
        bytes file;
        int code;
        uint32_t rate;
        int channels;
    };
    riff_builder cut;   // the data size of a recording cut off: past the RIFF end and the file's end
    cut.chunk("fmt ", fmt16()).id("data").u32(0x07E00000).raw(samples);
    bytes cut_file = cut.wave();
    cut_file[4] = 36;
    cut_file[5] = cut_file[6] = cut_file[7] = 0;
    riff_builder past_riff;   // a data size past the RIFF end, a chunk after it
    past_riff.chunk("fmt ", fmt16()).chunk("data", samples);
    bytes past_riff_file = past_riff.wave();
    past_riff_file[4] -= 100;
    const std::vector<wav_case> cases = {
        {"16-byte format", riff_builder().chunk("fmt ", fmt16()).chunk("data", samples).wave(), WAV_OK, 44100, 2},
        {"18-byte format", riff_builder().chunk("fmt ", fmt18).chunk("data", samples).wave(), WAV_OK, 44100, 2},
        {"extensible PCM, 40 bytes", riff_builder().chunk("fmt ", ext.out).chunk("data", samples).wave(), WAV_OK, 44100,
         2},
        {"cut off", cut_file, WAV_OK, 44100, 2},
        {"data past the RIFF end", past_riff_file, WAV_OK, 44100, 2},
        {"two format chunks: the first wins",
         riff_builder().chunk("fmt ", fmt_8k).chunk("fmt ", fmt16()).chunk("data", samples).wave(), WAV_OK, 8000, 1},
        {"rate 999 Hz", riff_builder().chunk("fmt ", riff_builder::pcm_format(2, 999, 16)).chunk("data", samples).wave(),
         WAV_RATE_OUT_OF_RANGE, 0, 0},
        {"rate 384,001 Hz",
         riff_builder().chunk("fmt ", riff_builder::pcm_format(2, 384001, 16)).chunk("data", samples).wave(),
         WAV_RATE_OUT_OF_RANGE, 0, 0},
        {"12-byte format", riff_builder().chunk("fmt ", bytes(12, 1)).chunk("data", samples).wave(), WAV_BROKEN_FORMAT,
         0, 0},
        {"data first", riff_builder().chunk("data", samples).chunk("fmt ", fmt16()).wave(), WAV_NO_FORMAT, 0, 0},
        {"no data", riff_builder().chunk("fmt ", fmt16()).wave(), WAV_NO_DATA, 0, 0},
        {"not RIFF", bytes(64, 'x'), WAV_NOT_WAV, 0, 0},
    };
    for (const wav_case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = dir.file("track0.wav");
        write_whole_file(name, c.file);
        const int fd = wav_open(name.c_str());
        ASSERT_GE(fd, 0);
        wav_layout l = {};
        EXPECT_EQ(wav_read_layout(fd, &l), c.code);
        wav_close(fd);
        if (c.code == WAV_OK) {
            EXPECT_EQ(l.data_bytes, samples.size());
            EXPECT_EQ(uint32_t(l.format.fmt.samples_per_sec), c.rate);
            EXPECT_TRUE(wav_is_pcm16(l));
        }

        // Cleaning, encode and a recording from the file as the source: all
        // take it with the same samples and rate, or all refuse it.
        const std::string format = c.code == WAV_OK
                                       ? "pcm," + std::to_string(c.rate) + "," + std::to_string(c.channels) + ",16"
                                       : std::string("pcm,44100,2,16");
        std::string err;
        const bool ok = c.code == WAV_OK;
        EXPECT_EQ(batch(dir, "declick track0.wav --overwrite", &err), ok ? 0 : 1) << err;
        EXPECT_EQ(batch(dir, "encode track0.wav enc.wav --overwrite --format=" + format, &err), ok ? 0 : 1) << err;
        EXPECT_EQ(batch(dir, "record rec.wav --seconds=0.01 --overwrite --source=track0.wav --format=" + format, &err),
                  ok ? 0 : 1)
            << err;
        if (!ok) {
            std::remove(dir.file("tracd0.wav").c_str());
            continue;
        }
        uint32_t rate = 0;
        EXPECT_EQ(samples_of(dir.file("tracd0.wav"), &rate), samples) << "cleaning";
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(samples_of(dir.file("enc.wav"), &rate), samples) << "encode";
        EXPECT_EQ(rate, c.rate);
        const bytes recorded = samples_of(dir.file("rec.wav"));
        ASSERT_GE(recorded.size(), samples.size());
        EXPECT_EQ(bytes(recorded.begin(), recorded.begin() + long(samples.size())), samples) << "the source";
        std::remove(dir.file("tracd0.wav").c_str());
    }
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(wav_open(fifo.c_str()), WAV_NOT_REGULAR) << "and no wait for a writer";
    EXPECT_EQ(wav_open(dir.file("none.wav").c_str()), WAV_CANNOT_OPEN);
}
