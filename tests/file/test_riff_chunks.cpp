// Chunks through the RIFF layer: round trips of created chunks, and the
// reader's answers to broken files, open failures and misuse.
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/file/riff.h"
#include "platform/file/wav_reader.h"
#include "tests/support/riff_bytes.h"
#include "tests/support/riff_read.h"

namespace {

read_result read_bytes_as_wave(const temp_dir& dir, const bytes& file)
{
    std::string name = dir.file("case.wav");
    write_whole_file(name, file);
    return read_wave(name);
}

bytes fmt16() { return riff_builder::pcm_format(2, 44100, 16); }

} // namespace

// Created chunks come back as written: nested LIST, odd sizes with their
// pad bytes, sizes corrected on ascent.
TEST(RiffChunks, RoundTripOfNestedAndOddChunks)
{
    temp_dir dir;
    std::string name = dir.file("round.wav");
    riff_file w = riff_open(name.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    ASSERT_NE(w, nullptr);
    riff_chunk riff = {}, list = {}, note = {}, fmt = {}, data = {};
    riff.form_type = FOURCC_WAVE;
    ASSERT_EQ(riff_create_chunk(w, &riff, MMIO_CREATERIFF), 0u);
    fmt.id = FOURCC_FMT;
    fmt.size = 16;   // the header's first guess; the ascent corrects it
    ASSERT_EQ(riff_create_chunk(w, &fmt, 0), 0u);
    bytes format = fmt16();
    format.push_back(0);   // an 18-byte record with no extra bytes
    format.push_back(0);
    ASSERT_EQ(riff_write(w, format.data(), 18), 18);
    ASSERT_EQ(riff_ascend(w, &fmt, 0), 0u);
    EXPECT_EQ(fmt.size, 18u);
    list.form_type = make_fourcc('I', 'N', 'F', 'O');
    ASSERT_EQ(riff_create_chunk(w, &list, MMIO_CREATELIST), 0u);
    note.id = make_fourcc('I', 'C', 'M', 'T');
    ASSERT_EQ(riff_create_chunk(w, &note, 0), 0u);
    ASSERT_EQ(riff_write(w, "odd", 3), 3);
    ASSERT_EQ(riff_ascend(w, &note, 0), 0u);
    ASSERT_EQ(riff_ascend(w, &list, 0), 0u);
    data.id = FOURCC_DATA;
    ASSERT_EQ(riff_create_chunk(w, &data, 0), 0u);
    bytes samples = pattern_bytes(12345);   // odd: the data chunk gets a pad byte too
    ASSERT_EQ(riff_write(w, samples.data(), int32_t(samples.size())), int32_t(samples.size()));
    ASSERT_EQ(riff_ascend(w, &data, 0), 0u);
    ASSERT_EQ(riff_ascend(w, &riff, 0), 0u);
    ASSERT_EQ(riff_close(w), 0u);

    bytes file = read_whole_file(name);
    // 12 + fmt (8 + 18) + LIST (12 + 8 + 3 + pad) + data (8 + 12345 + pad)
    ASSERT_EQ(file.size(), 12 + 26 + 24 + 8 + 12346u);
    EXPECT_EQ(le32_at(file, 4), file.size() - 8);
    EXPECT_EQ(le32_at(file, 42), 16u);          // LIST size: INFO + ICMT header + 3 + pad
    EXPECT_EQ(le32_at(file, 54), 3u);           // ICMT keeps its true, odd size
    EXPECT_EQ(file[61], 0);                     // its pad byte
    EXPECT_EQ(file.back(), 0);                  // the data's pad byte

    read_result r = read_wave(name);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.format, format);
    EXPECT_EQ(r.data, samples);

    // The LIST is found by its form type, and its odd child read with ascent past the pad.
    riff_file f = riff_open(name.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(f, nullptr);
    riff_chunk rr = {}, ll = {}, cc = {};
    rr.form_type = FOURCC_WAVE;
    ASSERT_EQ(riff_descend(f, &rr, nullptr, MMIO_FINDRIFF), 0u);
    EXPECT_EQ(rr.data_offset, 8u);
    ll.form_type = make_fourcc('I', 'N', 'F', 'O');
    ASSERT_EQ(riff_descend(f, &ll, &rr, MMIO_FINDLIST), 0u);
    EXPECT_EQ(ll.size, 16u);
    ASSERT_EQ(riff_descend(f, &cc, &ll, 0), 0u);
    EXPECT_EQ(cc.id, make_fourcc('I', 'C', 'M', 'T'));
    char text[3];
    ASSERT_EQ(riff_read(f, text, 3), 3);
    EXPECT_EQ(std::memcmp(text, "odd", 3), 0);
    ASSERT_EQ(riff_ascend(f, &cc, 0), 0u);
    EXPECT_EQ(riff_descend(f, &cc, &ll, 0), MMIOERR_CHUNKNOTFOUND);   // the LIST's end
    ASSERT_EQ(riff_ascend(f, &ll, 0), 0u);
    cc.id = FOURCC_DATA;
    ASSERT_EQ(riff_descend(f, &cc, &rr, MMIO_FINDCHUNK), 0u);
    EXPECT_EQ(cc.size, 12345u);
    riff_close(f);
}

// Every broken file ends with an error or a clean end of data: no crash, no
// hang, nothing read from outside the buffer (the fuzz target runs the same
// reader under AddressSanitizer).
TEST(RiffChunks, MalformedFilesGiveTheirErrors)
{
    temp_dir dir;
    bytes samples = pattern_bytes(1000);
    struct expectation {
        const char* what;
        bytes file;
        const char* failed_at;
        unsigned error;
    };
    std::vector<expectation> cases;

    cases.push_back({"empty file", {}, "riff", MMIOERR_CHUNKNOTFOUND});
    cases.push_back({"header cut after 5 bytes", {'R', 'I', 'F', 'F', 4}, "riff", MMIOERR_INVALIDFILE});
    {
        riff_builder b;
        b.id("RIFF").u32(100);
        cases.push_back({"RIFF without its form type", b.out, "riff", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.id("RIFF").u32(2).id("WAVE");
        cases.push_back({"RIFF size too small for a form type", b.out, "riff", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.id("RIFX").u32(4).id("WAVE");
        cases.push_back({"not a RIFF form", b.out, "riff", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.id("fmt ").u32(0x7FFFFFF0).raw(fmt16());
        cases.push_back({"format chunk runs past its parent", b.wave(), "fmt", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.chunk("fmt ", fmt16()).id("LIST").u32(5000).id("INFO").chunk("data", samples);
        cases.push_back({"chunk before data runs past its parent", b.wave(), "data", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.chunk("fmt ", fmt16()).id("data").u32(0xFFFFFFFF).raw(samples);
        cases.push_back({"data size 0xFFFFFFFF", b.wave(), "data", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.chunk("fmt ", fmt16());
        bytes file = b.wave();
        file.insert(file.end(), {'d', 'a', 't'});   // a header cut off by the file's end
        file[4] += 3;
        cases.push_back({"data header cut by the file", file, "data", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.chunk("fmt ", fmt16()).fill(4, 0);
        cases.push_back({"4 stray bytes at the parent's end", b.wave(), "data", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.chunk("fmt ", fmt16());
        cases.push_back({"no data chunk", b.wave(), "data", MMIOERR_CHUNKNOTFOUND});
    }
    {
        riff_builder b;
        b.chunk("data", samples);
        cases.push_back({"no format chunk", b.wave(), "fmt", MMIOERR_CHUNKNOTFOUND});
    }
    {
        riff_builder b;
        b.id("RIFF").u32(100).id("WAVE").id("fmt ").u32(16).fill(5, 1);
        cases.push_back({"format chunk cut by the file", b.out, "fmt read", MMIOERR_CANNOTREAD});
    }
    {
        // Odd chunk written without its pad byte: the next header is read one
        // byte early and is garbage whose size runs past the parent.
        bytes body = samples;
        body[0] = 0x40;   // becomes the top byte of the misread size
        riff_builder b;
        b.chunk("fmt ", fmt16()).id("junk").u32(3).raw({1, 2, 3}).chunk("data", body);
        cases.push_back({"odd chunk without pad", b.wave(), "data", MMIOERR_INVALIDFILE});
    }
    {
        riff_builder b;
        b.id("RIFF").u32(0).id("WAVE");
        cases.push_back({"RIFF size 0", b.out, "riff", MMIOERR_INVALIDFILE});
    }

    for (const auto& c : cases) {
        read_result r = read_bytes_as_wave(dir, c.file);
        EXPECT_EQ(r.failed_at, c.failed_at) << c.what;
        EXPECT_EQ(r.error, c.error) << c.what;
    }
}

// Files that are odd but readable read in full, or to a clean end.
TEST(RiffChunks, ToleratedOddities)
{
    temp_dir dir;
    bytes samples = pattern_bytes(3000, 4);
    {
        // Padded odd and empty chunks before the data.
        riff_builder b;
        b.chunk("fmt ", fmt16()).chunk("odd1", {9}).chunk("empt", {}).chunk("data", samples);
        read_result r = read_bytes_as_wave(dir, b.wave());
        EXPECT_EQ(r.failed_at, "");
        EXPECT_EQ(r.data, samples);
    }
    {
        // An empty data chunk.
        riff_builder b;
        b.chunk("fmt ", fmt16()).chunk("data", {});
        read_result r = read_bytes_as_wave(dir, b.wave());
        EXPECT_EQ(r.failed_at, "");
        EXPECT_EQ(r.data_size, 0u);
        EXPECT_TRUE(r.data.empty());
    }
    {
        // A recording whose sizes were never patched: both placeholders claim
        // far more than the file holds; the data reads to the file's end.
        riff_builder b;
        b.id("RIFF").u32(0x07F00000).id("WAVE").chunk("fmt ", fmt16());
        b.id("data").u32(0x07E00000).raw(samples);
        read_result r = read_bytes_as_wave(dir, b.out);
        EXPECT_EQ(r.failed_at, "");
        EXPECT_EQ(r.data_size, 0x07E00000u);
        EXPECT_EQ(r.data, samples);
    }
    {
        // Odd data as the last chunk, its pad byte missing at the file's end,
        // and a RIFF size that does not count it.
        riff_builder b;
        b.chunk("fmt ", fmt16()).id("data").u32(999).raw(bytes(samples.begin(), samples.begin() + 999));
        read_result r = read_bytes_as_wave(dir, b.wave());
        EXPECT_EQ(r.failed_at, "");
        EXPECT_EQ(r.data.size(), 999u);
    }
    {
        // Trailing chunks after the data, outside and inside the RIFF.
        riff_builder b;
        b.chunk("fmt ", fmt16()).chunk("data", samples).chunk("LIST", {'I', 'N', 'F', 'O'});
        bytes file = b.wave();
        file.insert(file.end(), {'j', 'u', 'n', 'k', 1, 0, 0, 0, 7, 0});
        read_result r = read_bytes_as_wave(dir, file);
        EXPECT_EQ(r.failed_at, "");
        EXPECT_EQ(r.data, samples);
    }
}

// A search through many chunks ends; a chunk that claims more than the file
// ends the search at the file's end.
TEST(RiffChunks, SearchesEnd)
{
    temp_dir dir;
    riff_builder b;
    b.chunk("fmt ", fmt16());
    for (int i = 0; i < 50000; ++i)
        b.chunk("pad ", {});
    read_result r = read_bytes_as_wave(dir, b.wave());
    EXPECT_EQ(r.failed_at, "data");
    EXPECT_EQ(r.error, MMIOERR_CHUNKNOTFOUND);

    // No parent: a search over the whole file, past a chunk claiming 4 GiB.
    std::string name = dir.file("top.bin");
    riff_builder top;
    top.id("abcd").u32(0xFFFFFFF0).fill(100, 0);
    write_whole_file(name, top.out);
    riff_file f = riff_open(name.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(f, nullptr);
    riff_chunk ck = {};
    ck.id = FOURCC_DATA;
    EXPECT_EQ(riff_descend(f, &ck, nullptr, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(riff_seek(f, 0, SEEK_SET), 0);
    ASSERT_EQ(riff_descend(f, &ck, nullptr, 0), 0u);   // entered: reads end with the file
    uint8_t buf[200];
    EXPECT_EQ(riff_read(f, buf, 200), 100);
    ASSERT_EQ(riff_ascend(f, &ck, 0), 0u);
    EXPECT_EQ(riff_descend(f, &ck, nullptr, 0), MMIOERR_CHUNKNOTFOUND);
    riff_close(f);
}

// Open failures carry the codes the "File not found/protected" report knows.
TEST(RiffChunks, OpenErrors)
{
    temp_dir dir;
    riff_info info = {};
    EXPECT_EQ(riff_open(dir.file("missing.wav").c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(riff_open(dir.path().c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_ACCESSDENIED);   // a directory
    EXPECT_EQ(riff_open(dir.path().c_str(), &info, MMIO_READWRITE), nullptr);
    EXPECT_EQ(info.error, MMIOERR_ACCESSDENIED);
    EXPECT_EQ(riff_open(dir.file("no/such/dir.wav").c_str(), &info, MMIO_CREATE | MMIO_WRITE), nullptr);
    EXPECT_EQ(info.error, MMIOERR_PATHNOTFOUND);
    write_whole_file(dir.file("plain"), {1});
    EXPECT_EQ(riff_open(dir.file("plain/x.wav").c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_PATHNOTFOUND);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(riff_open(dir.file("fifo").c_str(), &info, MMIO_READ), nullptr);   // no hang
    EXPECT_EQ(info.error, MMIOERR_INVALIDFILE);
    EXPECT_EQ(riff_open("", &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(riff_open(nullptr, &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_INVALIDPARAM);
    EXPECT_EQ(riff_open(dir.file("plain").c_str(), &info, 3), nullptr);
    EXPECT_EQ(info.error, MMIOERR_INVALIDPARAM);
    info.buffer_size = -1;
    EXPECT_EQ(riff_open(dir.file("plain").c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_INVALIDPARAM);

    // Access denial cannot be staged as root; the mapping is checked directly.
    EXPECT_EQ(riff_open_error(EACCES, false), MMIOERR_ACCESSDENIED);
    EXPECT_EQ(riff_open_error(EROFS, true), MMIOERR_ACCESSDENIED);
    EXPECT_EQ(riff_open_error(ENOENT, false), MMIOERR_FILENOTFOUND);
    EXPECT_EQ(riff_open_error(ENOENT, true), MMIOERR_PATHNOTFOUND);
    EXPECT_EQ(riff_open_error(EMFILE, false), MMIOERR_TOOMANYOPENFILES);
    EXPECT_EQ(riff_open_error(EIO, false), MMIOERR_CANNOTOPEN);

    // A buffer size of the caller's choosing is honoured.
    info = {};
    info.buffer_size = 1000;
    riff_file f = riff_open(dir.file("plain").c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.error, 0u);
    EXPECT_EQ(info.buffer_size, 1000);
    EXPECT_EQ(info.end_read - info.buffer, 1);
    riff_close(f);
}

// A full disk and a failing medium give errors, never a false success.
TEST(RiffChunks, DiskFailures)
{
    temp_dir dir;
    std::string name = dir.file("full.wav");
    riff_file f = riff_open(name.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(f, nullptr);
    riff_fail_writes_after(5000);
    bytes block = pattern_bytes(8192);
    EXPECT_EQ(riff_write(f, block.data(), 8192), 8192);   // buffered: not on disk yet
    EXPECT_EQ(riff_write(f, block.data(), 8192), -1);     // its flush meets the full disk
    riff_info info = {};
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    info.flags = MMIO_DIRTY;
    EXPECT_EQ(riff_advance(f, &info, MMIO_WRITE), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(riff_set_info(f, &info), 0u);
    EXPECT_EQ(riff_close(f), MMIOERR_CANNOTWRITE);
    riff_fail_writes_after(-1);

    write_whole_file(name, pcm_track(pattern_bytes(3 * 8192)));
    f = riff_open(name.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(f, nullptr);
    riff_fail_reads_after(0);
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    info.next = info.end_read;
    EXPECT_EQ(riff_advance(f, &info, MMIO_READ), MMIOERR_CANNOTREAD);
    riff_set_info(f, &info);
    EXPECT_EQ(riff_seek(f, 20000, SEEK_SET), -1);
    riff_fail_reads_after(-1);
    EXPECT_EQ(riff_seek(f, 20000, SEEK_SET), 20000);
    riff_close(f);

    riff_fail_reads_after(0);
    info = {};
    EXPECT_EQ(riff_open(name.c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.error, MMIOERR_CANNOTREAD);
    riff_fail_reads_after(-1);
}

// Misuse is refused with a code instead of corrupting the file or memory.
TEST(RiffChunks, MisuseIsRefused)
{
    temp_dir dir;
    std::string name = dir.file("t.wav");
    write_whole_file(name, pcm_track(pattern_bytes(100)));
    riff_file f = riff_open(name.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(f, nullptr);
    uint8_t b[8];
    EXPECT_EQ(riff_write(f, b, 8), -1);                 // read-only
    riff_chunk ck = {};
    EXPECT_EQ(riff_create_chunk(f, &ck, 0), MMIOERR_CANNOTWRITE);
    riff_info info = {};
    ASSERT_EQ(riff_get_info(f, &info), 0u);
    EXPECT_EQ(info.end_write, info.buffer);             // nothing writable
    EXPECT_EQ(riff_read(f, b, 8), -1);                  // the state is handed out
    EXPECT_EQ(riff_descend(f, &ck, nullptr, 0), MMIOERR_INFOTAKEN);
    EXPECT_EQ(riff_seek(f, 0, SEEK_SET), -1);
    EXPECT_EQ(riff_advance(f, nullptr, MMIO_READ), MMIOERR_INFOTAKEN);
    riff_info foreign = info;
    foreign.buffer = b;
    EXPECT_EQ(riff_set_info(f, &foreign), MMIOERR_INVALIDPARAM);
    foreign = info;
    foreign.next = info.buffer + info.buffer_size + 1;
    EXPECT_EQ(riff_set_info(f, &foreign), MMIOERR_INVALIDPARAM);
    info.flags = MMIO_DIRTY;
    EXPECT_EQ(riff_set_info(f, &info), MMIOERR_CANNOTWRITE);
    info.flags = 0;
    EXPECT_EQ(riff_set_info(f, &info), 0u);
    EXPECT_EQ(riff_read(f, b, 8), 8);
    EXPECT_EQ(riff_descend(f, nullptr, nullptr, 0), MMIOERR_INVALIDPARAM);
    EXPECT_EQ(riff_descend(f, &ck, nullptr, MMIO_FINDCHUNK | MMIO_FINDRIFF), MMIOERR_INVALIDPARAM);
    EXPECT_EQ(riff_close(f), 0u);
    EXPECT_EQ(riff_close(f), MMIOERR_INVALIDPARAM);     // closed twice
    EXPECT_EQ(riff_read(f, b, 8), -1);
    EXPECT_EQ(riff_close(nullptr), MMIOERR_INVALIDPARAM);
}

// The one WAV reader that cleaning, encode, the virtual card's source and
// repair share: the same answer for each of the layouts readers used to
// disagree on, and no wait on a FIFO.
TEST(WavReader, EveryReaderGetsTheSameAnswers)
{
    temp_dir dir;
    const bytes samples = pattern_bytes(400);
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
        uint64_t data_bytes;
        uint32_t rate;
    };
    riff_builder cut;   // the data size of a recording cut off: past the RIFF end and the file's end
    cut.chunk("fmt ", fmt16()).id("data").u32(0x07E00000).raw(samples);
    bytes cut_file = cut.wave();
    cut_file[4] = 36;
    cut_file[5] = cut_file[6] = cut_file[7] = 0;
    const std::vector<wav_case> cases = {
        {"16-byte format", riff_builder().chunk("fmt ", fmt16()).chunk("data", samples).wave(), WAV_OK, 400, 44100},
        {"18-byte format", riff_builder().chunk("fmt ", fmt18).chunk("data", samples).wave(), WAV_OK, 400, 44100},
        {"extensible PCM, 40 bytes", riff_builder().chunk("fmt ", ext.out).chunk("data", samples).wave(), WAV_OK, 400,
         44100},
        {"cut off", cut_file, WAV_OK, 400, 44100},
        {"two format chunks: the first wins",
         riff_builder().chunk("fmt ", fmt_8k).chunk("fmt ", fmt16()).chunk("data", samples).wave(), WAV_OK, 400, 8000},
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
        const std::string name = dir.file("case.wav");
        write_whole_file(name, c.file);
        const int fd = wav_open(name.c_str());
        ASSERT_GE(fd, 0);
        wav_layout l = {};
        EXPECT_EQ(wav_read_layout(fd, &l), c.code);
        close(fd);
        if (c.code != WAV_OK)
            continue;
        EXPECT_EQ(l.data_bytes, c.data_bytes);
        EXPECT_EQ(uint32_t(l.format.fmt.samples_per_sec), c.rate);
        EXPECT_EQ(l.format.fmt.format_tag, WAVE_FORMAT_PCM);
        EXPECT_TRUE(wav_is_pcm16(l));
        EXPECT_EQ(read_whole_file(name).size() - l.data_offset, 400u);
    }
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(wav_open(fifo.c_str()), WAV_NOT_REGULAR) << "and no wait for a writer";
    EXPECT_EQ(wav_open(dir.file("none.wav").c_str()), WAV_CANNOT_OPEN);
}
