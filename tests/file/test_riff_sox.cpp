// Files written by sox read through the RIFF layer: the format chunk as
// stored and every sample byte that sox itself decodes from the file.
#include <gtest/gtest.h>
#include "platform/file/riff.h"
#include "tests/support/riff_bytes.h"
#include "tests/support/riff_read.h"
#include "tests/support/sox_check.h"

namespace {

// The sample bytes of `wav` as sox decodes them, in the file's own encoding.
bytes sox_raw_samples(const temp_dir& dir, const std::string& wav)
{
    std::string raw = dir.file("decoded.raw");
    std::string out;
    int status = run_command("sox '" + wav + "' -t raw '" + raw + "'", &out);
    EXPECT_EQ(status, 0) << out;
    return read_whole_file(raw);
}

// Inserts a chunk just before the "data" chunk of a file and corrects the
// RIFF size, as writers that tag their files do.
bytes with_chunk_before_data(const bytes& file, const bytes& chunk)
{
    for (size_t at = 12; at + 8 <= file.size();) {
        if (id_at(file, at) == "data") {
            bytes out(file.begin(), file.begin() + long(at));
            out.insert(out.end(), chunk.begin(), chunk.end());
            out.insert(out.end(), file.begin() + long(at), file.end());
            uint32_t riff_size = uint32_t(out.size() - 8);
            for (int i = 0; i < 4; ++i)
                out[4 + i] = uint8_t(riff_size >> (8 * i));
            return out;
        }
        uint32_t size = le32_at(file, at + 4);
        at += 8 + size + (size & 1);
    }
    return file;
}

} // namespace

TEST(RiffSox, ReadsPcmWrittenBySox)
{
    SKIP_WITHOUT_SOX();
    temp_dir dir;
    struct variant {
        const char* options;
        uint16_t tag;
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        uint32_t format_bytes;
    };
    // 16-bit stereo and 8-bit mono are plain PCM records; 24-bit comes with
    // the extensible record and a "fact" chunk before the data.
    const variant variants[] = {
        {"-r 44100 -c 2 -b 16", 1, 2, 44100, 16, 16},
        {"-r 22050 -c 1 -b 8", 1, 1, 22050, 8, 16},
        {"-r 48000 -c 2 -b 24", 0xFFFE, 2, 48000, 24, 40},
    };
    for (const variant& v : variants) {
        std::string name = dir.file("sox.wav");
        std::string out;
        ASSERT_EQ(run_command(std::string("sox -n ") + v.options + " '" + name + "' synth 0.37 sine 440 sine 660", &out), 0) << out;
        read_result r = read_wave(name);
        ASSERT_EQ(r.failed_at, "") << v.options << " error " << r.error;
        ASSERT_EQ(r.format.size(), v.format_bytes) << v.options;
        EXPECT_EQ(le16_at(r.format, 0), v.tag) << v.options;
        EXPECT_EQ(le16_at(r.format, 2), v.channels) << v.options;
        EXPECT_EQ(le32_at(r.format, 4), v.rate) << v.options;
        EXPECT_EQ(le16_at(r.format, 14), v.bits) << v.options;
        bytes expect = sox_raw_samples(dir, name);
        EXPECT_EQ(r.data_size, expect.size()) << v.options;
        EXPECT_TRUE(r.data == expect) << v.options;
    }
}

// sox writes no LIST chunk of its own; the tagged file is sox's output with
// a LIST/INFO chunk (odd-sized comment and its pad byte) put before the data.
// sox still decodes the same samples from it, and so must the layer.
TEST(RiffSox, ReadsSoxPcmWithListBeforeData)
{
    SKIP_WITHOUT_SOX();
    temp_dir dir;
    std::string plain = dir.file("plain.wav");
    std::string out;
    ASSERT_EQ(run_command("sox -n -r 44100 -c 2 -b 16 '" + plain + "' synth 0.25 sine 440", &out), 0) << out;
    riff_builder info;
    info.id("INFO").chunk("ISFT", {'s', 'o', 'x', 0}).chunk("ICMT", {'s', 'i', 'd', 'e', ' ', 'A', 0});
    riff_builder list;
    list.chunk("LIST", info.out);
    std::string tagged = dir.file("tagged.wav");
    write_whole_file(tagged, with_chunk_before_data(read_whole_file(plain), list.out));

    bytes expect = sox_raw_samples(dir, tagged);
    ASSERT_EQ(expect, sox_raw_samples(dir, plain));
    read_result r = read_wave(tagged);
    ASSERT_EQ(r.failed_at, "") << r.error;
    EXPECT_EQ(r.format.size(), 16u);
    EXPECT_TRUE(r.data == expect);

    // The LIST is also found by its form type.
    riff_file f = riff_open(tagged.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(f, nullptr);
    riff_chunk riff = {}, ck = {};
    ASSERT_EQ(riff_descend(f, &riff, nullptr, 0), 0u);
    ck.form_type = make_fourcc('I', 'N', 'F', 'O');
    EXPECT_EQ(riff_descend(f, &ck, &riff, MMIO_FINDLIST), 0u);
    EXPECT_EQ(ck.size, uint32_t(info.out.size()));
    riff_close(f);
}
