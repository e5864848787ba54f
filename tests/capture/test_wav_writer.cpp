// The capture file writer: header layout, appends, the size patch, the
// bounds that keep the sizes true, and the choice of the file's name.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include "core/app_state.h"
#include "capture/wav_writer.h"
#include "platform/acm/acm.h"
#include "platform/file/file.h"
#include "platform/system/system.h"
#include "platform/window/headless.h"
#include "tests/support/riff_bytes.h"
#include "tests/support/riff_read.h"
#include "tests/support/sox_check.h"

namespace {

format_area pcm_format_area(uint16_t channels, uint32_t rate, uint16_t bits)
{
    format_area a = {};
    a.fmt.format_tag = WAVE_FORMAT_PCM;
    a.fmt.channels = channels;
    a.fmt.samples_per_sec = rate;
    a.fmt.block_align = uint16_t(channels * bits / 8);
    a.fmt.avg_bytes_per_sec = rate * a.fmt.block_align;
    a.fmt.bits_per_sample = bits;
    return a;
}

// IMA ADPCM, stereo 44.1 kHz: 2 extra bytes holding 2041 samples per block.
format_area ima_adpcm_format_area()
{
    format_area a = {};
    a.fmt.format_tag = WAVE_FORMAT_IMA_ADPCM;
    a.fmt.channels = 2;
    a.fmt.samples_per_sec = 44100;
    a.fmt.avg_bytes_per_sec = 44239;
    a.fmt.block_align = 2048;
    a.fmt.bits_per_sample = 4;
    a.fmt.cb_size = 2;
    a.bytes[18] = 2041 & 0xFF;
    a.bytes[19] = 2041 >> 8;
    return a;
}

class WavWriter : public testing::Test {
protected:
    void SetUp() override
    {
        app_state_reset();
        // Time stands still unless a test moves it: the sizes are patched at
        // the first append and then only when a test moves on a second.
        clock_use_virtual(true);
        output.assign(65536, 0);
        app.conversion_output = output.data();
    }
    void TearDown() override
    {
        plain_fail_writes_after(-1);
        clock_use_virtual(false);
        if (app.capture_file_handle)
            plain_close(app.capture_file_handle);
        app_state_reset();
    }
    // What start_capture does with the file: open it, cut an existing one
    // (the overwrite was answered Yes) and write the header.
    void start(const std::string& name, const format_area& format, bool* existed = nullptr)
    {
        app.capture_ring.chosen_format = format;
        bool was_there = false;
        app.capture_file_handle = plain_open_or_create(name.c_str(), &was_there);
        ASSERT_NE(app.capture_file_handle, nullptr);
        if (existed)
            *existed = was_there;
        if (was_there) {
            ASSERT_EQ(plain_truncate(app.capture_file_handle, 0), 0);
        }
        ASSERT_EQ(write_wav_header(app.capture_file_handle, &app.capture_ring.chosen_format), 0);
        app.data_bytes_written = 0;
    }
    void append(const bytes& block)
    {
        std::copy(block.begin(), block.end(), output.begin());
        append_capture_data(app.conversion_output, uint32_t(block.size()));
    }
    // What end_capture does with it: patch the sizes and close.
    void finish()
    {
        patch_wav_sizes(app.capture_file_handle, &app.capture_ring.chosen_format, app.data_bytes_written);
        EXPECT_EQ(plain_close(app.capture_file_handle), 0);
        app.capture_file_handle = nullptr;
    }

    temp_dir dir;
    bytes output;
};

} // namespace

// A PCM format gives the 44-byte header with the running sizes; 100 buffers
// of 8,192 bytes give D = 819200, a RIFF size of 819236 and 819244 bytes.
TEST_F(WavWriter, PcmHeaderAndHundredBuffers)
{
    std::string name = dir.file("wavecap.wav");
    format_area pcm = pcm_format_area(2, 44100, 16);
    start(name, pcm);
    bytes header = read_whole_file(name);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(id_at(header, 0), "RIFF");
    EXPECT_EQ(le32_at(header, 4), 0x07F00000u);
    EXPECT_EQ(id_at(header, 8), "WAVE");
    EXPECT_EQ(id_at(header, 12), "fmt ");
    EXPECT_EQ(le32_at(header, 16), 16u);
    EXPECT_EQ(0, std::memcmp(&header[20], pcm.bytes, 16));
    EXPECT_EQ(id_at(header, 36), "data");
    EXPECT_EQ(le32_at(header, 40), 0x07E00000u);

    bytes audio;
    for (int i = 0; i < 100; ++i) {
        bytes block = pattern_bytes(8192, uint32_t(i));
        append(block);
        ASSERT_EQ(app.last_write_count, 8192u);
        audio.insert(audio.end(), block.begin(), block.end());
    }
    EXPECT_EQ(app.data_bytes_written, 819200u);
    finish();

    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 819244u);
    EXPECT_EQ(le32_at(file, 4), 819236u);
    EXPECT_EQ(le32_at(file, 40), 819200u);
    read_result r = read_wave(name);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data_size, 819200u);
    EXPECT_TRUE(r.data == audio);
}

// Two extra bytes: a 20-byte format chunk with cbSize and both bytes, then
// the fact chunk at 40 with the whole blocks' frames, the "data" id at 52,
// its size at 56 and the audio from 60. A patch while the recording runs
// leaves the next append where the last one ended, and the RIFF layer's
// reader steps over the fact chunk to the data.
TEST_F(WavWriter, FormatWithTwoExtraBytes)
{
    std::string name = dir.file("ima.wav");
    format_area ima = ima_adpcm_format_area();
    start(name, ima);
    EXPECT_EQ(le32_at(read_whole_file(name), 48), 0u) << "no frames until the first patch";
    bytes audio = pattern_bytes(2048, 3);
    append(audio);
    EXPECT_EQ(patch_wav_sizes(app.capture_file_handle, &ima, app.data_bytes_written), 0);
    bytes running = read_whole_file(name);
    EXPECT_EQ(le32_at(running, 48), 2041u);
    EXPECT_EQ(le32_at(running, 56), 2048u);
    append(bytes(2048, 0));
    audio.resize(2 * 2048, 0);
    finish();
    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 60u + 4096u);
    EXPECT_EQ(le32_at(file, 16), 20u);
    EXPECT_EQ(0, std::memcmp(&file[20], ima.bytes, 20));
    EXPECT_EQ(le16_at(file, 36), 2u);       // cbSize
    EXPECT_EQ(le16_at(file, 38), 2041u);    // the extra bytes
    EXPECT_EQ(id_at(file, 40), "fact");
    EXPECT_EQ(le32_at(file, 44), 4u);
    EXPECT_EQ(le32_at(file, 48), 2u * 2041u);
    EXPECT_EQ(id_at(file, 52), "data");
    EXPECT_EQ(le32_at(file, 56), 4096u);
    EXPECT_EQ(le32_at(file, 4), 52u + 4096u);
    read_result r = read_wave(name);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_TRUE(r.data == audio);
}

// A recording over a longer file that existed: nothing of the old file is
// left after the new content, so the file is as long as its sizes say.
TEST_F(WavWriter, AnExistingLongerFileIsReplacedWhole)
{
    std::string name = dir.file("old.wav");
    write_whole_file(name, bytes(100000, 0xAA));
    bool existed = false;
    start(name, pcm_format_area(2, 44100, 16), &existed);
    EXPECT_TRUE(existed);
    bytes audio = pattern_bytes(3000, 5);
    append(audio);
    finish();

    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 44u + 3000u);
    EXPECT_EQ(le32_at(file, 4) + 8, file.size());
    EXPECT_EQ(le32_at(file, 40), 3000u);
    read_result r = read_wave(name);
    ASSERT_EQ(r.failed_at, "");
    EXPECT_TRUE(r.data == audio);
}

// While the file is written its sizes are those of the data written, once
// a second: a recording killed now is a WAV file that lacks at most the
// last second.
TEST_F(WavWriter, TheSizesFollowTheDataOnceASecond)
{
    std::string name = dir.file("running.wav");
    clock_set(5000);
    start(name, pcm_format_area(2, 44100, 16));
    append(pattern_bytes(3000, 1));
    bytes file = read_whole_file(name);
    EXPECT_EQ(le32_at(file, 40), 3000u);
    EXPECT_EQ(le32_at(file, 4), 36u + 3000u);
    clock_set(5900);
    append(pattern_bytes(1000, 2));   // the same second: no patch
    EXPECT_EQ(le32_at(read_whole_file(name), 40), 3000u);
    clock_set(6000);
    append(pattern_bytes(500, 3));
    file = read_whole_file(name);
    ASSERT_EQ(file.size(), 44u + 4500u) << "the appends go on at the end";
    EXPECT_EQ(le32_at(file, 40), 4500u);
    EXPECT_EQ(le32_at(file, 4), 36u + 4500u);
    read_result r = read_wave(name);
    EXPECT_EQ(r.failed_at, "");
    EXPECT_EQ(r.data.size(), 4500u);
    finish();
}

// A full disk: the short count ends the recording, and the patched data
// size is what the file really holds, not what was handed to it.
TEST_F(WavWriter, ShortAppendCountsOnlyWhatWasWritten)
{
    std::string name = dir.file("full.wav");
    start(name, pcm_format_area(2, 44100, 16));
    plain_fail_writes_after(8192 + 8 + 100);   // the sizes patched after the first append take 8
    append(pattern_bytes(8192, 1));
    EXPECT_EQ(app.last_write_count, 8192u);
    append(pattern_bytes(8192, 2));
    EXPECT_EQ(app.last_write_count, 100u);   // differs from n: the recording ends
    EXPECT_EQ(app.data_bytes_written, 8292u);
    plain_fail_writes_after(-1);
    finish();
    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 44u + 8292u);
    EXPECT_EQ(le32_at(file, 40), 8292u);
    EXPECT_EQ(le32_at(file, 4), 36u + 8292u);
}

// The sizes are 32-bit: a buffer that would carry them past 4 GiB is not
// written, and the short count ends the recording with true sizes.
TEST_F(WavWriter, DataStopsBeforeTheSizesWrap)
{
    std::string name = dir.file("long.wav");
    format_area pcm = pcm_format_area(2, 44100, 16);
    start(name, pcm);
    const uint32_t limit = max_capture_data_bytes(&pcm);
    EXPECT_EQ(limit, 0xFFFFFFFFu - 36u);
    EXPECT_EQ(max_capture_data_bytes(&app.capture_ring.chosen_format), limit);
    format_area ima = ima_adpcm_format_area();
    // The fact chunk and room for a pad byte after odd data.
    EXPECT_EQ(max_capture_data_bytes(&ima), 0xFFFFFFFFu - 53u);

    app.data_bytes_written = limit - 100;   // as if 4 GiB had been written
    append(bytes(200, 1));
    EXPECT_EQ(app.last_write_count, 0u);
    EXPECT_EQ(app.data_bytes_written, limit - 100);
    append(bytes(100, 2));                  // exactly up to the limit still fits
    EXPECT_EQ(app.last_write_count, 100u);
    EXPECT_EQ(app.data_bytes_written, limit);
    append(bytes(1, 3));
    EXPECT_EQ(app.last_write_count, 0u);
    EXPECT_EQ(app.data_bytes_written, limit);
    finish();
    bytes file = read_whole_file(name);
    EXPECT_EQ(file.size(), 44u + 100u);
    EXPECT_EQ(le32_at(file, 4), 0xFFFFFFFFu);   // 36 + D: the largest RIFF size
    EXPECT_EQ(le32_at(file, 40), limit);
}

TEST_F(WavWriter, EmptyAppendsAndMissingFile)
{
    std::string name = dir.file("e.wav");
    start(name, pcm_format_area(1, 8000, 8));
    append({});
    EXPECT_EQ(app.last_write_count, 0u);
    EXPECT_EQ(app.data_bytes_written, 0u);
    finish();
    bytes file = read_whole_file(name);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(le32_at(file, 4), 36u);
    EXPECT_EQ(le32_at(file, 40), 0u);

    // No open file: nothing is written and the count says so.
    app.capture_file_handle = nullptr;
    append(bytes(10, 1));
    EXPECT_EQ(app.last_write_count, 0u);
    EXPECT_EQ(app.data_bytes_written, 0u);
}

// A format record whose extra bytes could not be in the format area is
// refused before anything is written.
TEST_F(WavWriter, ImpossibleFormatIsRefused)
{
    std::string name = dir.file("bad.wav");
    format_area bad = pcm_format_area(2, 44100, 16);
    bad.fmt.cb_size = 200;
    plain_file f = plain_open_or_create(name.c_str(), nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(write_wav_header(f, &bad), -1);
    patch_wav_sizes(f, &bad, 10);
    plain_close(f);
    EXPECT_EQ(read_whole_file(name).size(), 0u);
}

// The patch writes each value a byte at a time, low byte first: on a disk
// that takes one byte only the lowest byte of the RIFF size changes.
TEST_F(WavWriter, PatchWritesLowBytesFirst)
{
    std::string name = dir.file("p.wav");
    start(name, pcm_format_area(2, 44100, 16));
    append(bytes(0x1234, 7));   // the sizes follow at once
    append(bytes(0x100, 7));    // in the same second: they do not
    plain_fail_writes_after(1);
    finish();
    bytes file = read_whole_file(name);
    EXPECT_EQ(le32_at(file, 4), ((36u + 0x1234u) & 0xFFFFFF00u) | ((36u + 0x1334u) & 0xFF));
    EXPECT_EQ(le32_at(file, 40), 0x1234u);

    write_le32(0x11223344, nullptr);   // no file: nothing happens
    write_le16(0x1122, nullptr);
    write_byte(0x11, nullptr);
}

// The save-file dialog: a confirmed name replaces capture_file_name, a
// cancel leaves it as it was.
TEST_F(WavWriter, ChooseCaptureFile)
{
    headless_reset();
    int shown = headless_save_dialogs_shown();
    headless_answer_save("/rec/side_a.wav");
    EXPECT_EQ(choose_capture_file(), 1);
    EXPECT_STREQ(app.capture_file_name, "/rec/side_a.wav");
    headless_answer_save(nullptr);
    EXPECT_EQ(choose_capture_file(), 0);
    EXPECT_STREQ(app.capture_file_name, "/rec/side_a.wav");
    EXPECT_EQ(headless_save_dialogs_shown(), shown + 2);

    // A name longer than the 256-character field cannot be handed back:
    // the dialog fails and the name stays; 255 characters still fit.
    std::string long_name = "/rec/" + std::string(400, 'x') + ".wav";
    headless_answer_save(long_name.c_str());
    EXPECT_EQ(choose_capture_file(), 0);
    EXPECT_STREQ(app.capture_file_name, "/rec/side_a.wav");
    std::string longest = "/rec/" + std::string(250, 'y');
    headless_answer_save(longest.c_str());
    EXPECT_EQ(choose_capture_file(), 1);
    EXPECT_EQ(std::string(app.capture_file_name), longest);
    headless_reset();
}

// sox, which no one here wrote, reads the capture files: PCM sample for
// sample, and the IMA ADPCM layout with its extra bytes block for block.
TEST_F(WavWriter, SoxReadsTheCaptureFile)
{
    SKIP_WITHOUT_SOX();
    std::string name = dir.file("for_sox.wav");
    start(name, pcm_format_area(2, 44100, 16));
    bytes audio;
    for (int i = 0; i < 7; ++i) {
        bytes block = pattern_bytes(8192, uint32_t(40 + i));
        append(block);
        audio.insert(audio.end(), block.begin(), block.end());
    }
    finish();
    std::string out;
    ASSERT_EQ(run_command("soxi -c '" + name + "'", &out), 0) << out;
    EXPECT_EQ(std::stoi(out), 2);
    ASSERT_EQ(run_command("soxi -r '" + name + "'", &out), 0) << out;
    EXPECT_EQ(std::stoi(out), 44100);
    ASSERT_EQ(run_command("soxi -s '" + name + "'", &out), 0) << out;
    EXPECT_EQ(std::stol(out), 7 * 8192 / 4);
    std::string raw = dir.file("decoded.raw");
    ASSERT_EQ(run_command("sox '" + name + "' -t raw '" + raw + "'", &out), 0) << out;
    EXPECT_EQ(out.find("WARN"), std::string::npos) << out;
    EXPECT_TRUE(read_whole_file(raw) == audio);

    std::string ima = dir.file("ima_for_sox.wav");
    start(ima, ima_adpcm_format_area());
    append(bytes(3 * 2048, 0));
    finish();
    ASSERT_EQ(run_command("soxi -s '" + ima + "'", &out), 0) << out;
    EXPECT_EQ(std::stol(out), 3 * 2041);
    ASSERT_EQ(run_command("soxi -e '" + ima + "'", &out), 0) << out;
    EXPECT_NE(out.find("IMA ADPCM"), std::string::npos) << out;

    // Three GSM blocks of 65 bytes: odd data, so a pad byte follows it, and
    // sox and ffprobe both take their length from the fact chunk.
    std::string gsm = dir.file("gsm_for_sox.wav");
    format_area gsm_format;
    ASSERT_EQ(acm_parse_spelling("gsm,8000,1", &gsm_format, nullptr, 0), 0);
    start(gsm, gsm_format);
    append(bytes(3 * 65, 0));
    finish();
    bytes file = read_whole_file(gsm);
    ASSERT_EQ(file.size(), 60u + 195u + 1u);
    EXPECT_EQ(le32_at(file, 4), file.size() - 8);
    EXPECT_EQ(le32_at(file, 48), 3u * 320u);
    EXPECT_EQ(file.back(), 0);
    ASSERT_EQ(run_command("soxi -s '" + gsm + "'", &out), 0) << out;
    EXPECT_EQ(std::stol(out), 3 * 320);
    if (run_command("ffprobe -version", &out) == 0) {
        for (const std::string& f : {ima, gsm}) {
            ASSERT_EQ(run_command("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 '" + f + "'", &out), 0);
            EXPECT_EQ(std::stol(out), f == ima ? 3 * 2041 : 3 * 320) << f;
        }
    }
}
