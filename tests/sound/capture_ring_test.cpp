// The wave-input ring on the virtual card: parameters, the opens in their
// three uses, buffers coming back in order with the record's bytes, the
// failures and their boxes, and the start-up check for a sound card.
#include <gtest/gtest.h>
#include "core/app_state.h"
#include "app/startup.h"
#include "capture/capture_ring.h"
#include "capture/wav_writer.h"
#include "platform/acm/acm.h"
#include "platform/file/file.h"
#include "platform/system/system.h"
#include "platform/window/headless.h"
#include "tests/sound/sound_test_util.h"

using namespace sound_test;

namespace {

CaptureBufferRing& ring() { return app.capture_ring; }

struct CaptureRing : testing::Test {
    scratch_dir dir;

    void SetUp() override
    {
        app_state_reset();
        headless_reset();
        sound_fail_clear();
        capture_ring_fail_alloc_after(-1);
        sound_virtual_devices(1, 1);
        sound_pace_fast();
        ASSERT_EQ(sound_use_virtual("demo"), 0);
        inbox::the().clear();
    }
    void TearDown() override
    {
        sound_fail_clear();
        if (ring().device) {
            stop_sampling(&ring());
            close_wave_in(&ring());
        }
    }
    std::vector<message_box_record> boxes() { return headless_message_boxes(); }
    void choose(const wave_format& f)
    {
        std::memset(&ring().chosen_format, 0, sizeof ring().chosen_format);
        ring().chosen_format.fmt = f;
    }
    void choose(const format_area& a) { ring().chosen_format = a; }
    std::string error_text(unsigned code)
    {
        char text[256];
        wave_in_get_error_text(code, text, sizeof text);
        return text;
    }
    // Re-queues every buffer that comes back, as the dialog does, until
    // `count` have come; checks the order, the sizes and the instance data.
    std::vector<uint8_t> run(int count)
    {
        std::vector<uint8_t> got;
        for (int i = 0; i < count; ++i) {
            callback_event e;
            if (!inbox::the().next(WIM_DATA, &e)) {
                ADD_FAILURE() << "buffer " << i << " never came";
                break;
            }
            EXPECT_EQ(e.header, &ring().headers[i % ring().buffer_count]) << "buffer " << i;
            EXPECT_EQ(e.instance, reinterpret_cast<uintptr_t>(&ring()));
            EXPECT_EQ(e.bytes, ring().buffer_bytes);
            got.insert(got.end(), e.header->data, e.header->data + e.bytes);
            EXPECT_EQ(wave_in_add_buffer(ring().device, e.header, sizeof(wave_header)), MMSYSERR_NOERROR);
        }
        return got;
    }
};

// The compression manager's IMA ADPCM format for 44.1 kHz stereo.
format_area ima_adpcm()
{
    format_area a = {};
    wave_format source = pcm(44100, 2, 16);
    a.fmt.format_tag = WAVE_FORMAT_IMA_ADPCM;
    EXPECT_EQ(acm_format_suggest(&source, &a.fmt, sizeof a, ACM_FORMATSUGGESTF_WFORMATTAG), MMSYSERR_NOERROR);
    EXPECT_EQ(a.fmt.bits_per_sample, 4);
    return a;
}

TEST_F(CaptureRing, ParametersAndTheLimitOfThirtyTwoBuffers)
{
    set_capture_params(&ring(), 2, 16, 44100, 4096, 5);
    EXPECT_EQ(ring().buffer_count, 5);
    EXPECT_EQ(ring().buffer_bytes, 4096u);
    // A count above the capacity runs 32, also where it no longer fits the
    // 8-bit field: 128 and more (signal sampling with 22 and more buffers).
    for (int count : {33, 40, 6 * 6, 6 * 21, 127, 128, 6 * 22, 200, 256, 300, 100000}) {
        set_capture_params(&ring(), 2, 16, 44100, 4096, count);
        EXPECT_EQ(ring().buffer_count, 32) << count;
    }
    set_capture_params(&ring(), 2, 16, 44100, 4096, 6 * 5);
    EXPECT_EQ(ring().buffer_count, 30);
    set_capture_params(&ring(), 2, 16, 44100, 4096, -300);
    EXPECT_LE(ring().buffer_count, 0) << "no buffers";

    // Zeros take the chosen format's rate, and the low bytes of its channels and bits.
    wave_format odd = pcm(22050, 1, 16);
    odd.channels = 0x0101;
    odd.bits_per_sample = 0x0210;
    choose(odd);
    set_capture_params(&ring(), 0, 0, 0, 1024, 30);
    EXPECT_EQ(ring().sample_rate, 22050);
    EXPECT_EQ(ring().channels, 1);
    EXPECT_EQ(ring().bits_per_sample, 16);
    EXPECT_EQ(ring().buffer_bytes, 1024u);
}

TEST_F(CaptureRing, OpenBuildsThePcmFormatAndZeroFilledBuffersCloseFreesThem)
{
    set_capture_params(&ring(), 2, 16, 44100, 4096, 5);
    ASSERT_EQ(open_wave_in(&ring(), inbox::callback), 0);
    const wave_format& f = ring().capture_format.fmt;
    EXPECT_EQ(f.format_tag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(uint32_t(f.samples_per_sec), 44100u);
    EXPECT_EQ(f.bits_per_sample, 16);
    EXPECT_EQ(f.block_align, 4);
    EXPECT_EQ(uint32_t(f.avg_bytes_per_sec), 176400u);
    EXPECT_EQ(f.cb_size, 0);
    ASSERT_NE(ring().device, nullptr);
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(ring().headers[i].data, nullptr);
        EXPECT_EQ(ring().headers[i].data[0], 0);
        EXPECT_EQ(ring().headers[i].data[4095], 0);
    }
    EXPECT_EQ(ring().headers[5].data, nullptr);
    EXPECT_EQ(close_wave_in(&ring()), 0);
    EXPECT_EQ(ring().device, nullptr);
    EXPECT_EQ(ring().headers[0].data, nullptr);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CaptureRing, StoppingOrClosingAClosedRingFailsQuietly)
{
    EXPECT_EQ(stop_sampling(&ring()), -1);
    EXPECT_EQ(close_wave_in(&ring()), -1);
    EXPECT_EQ(start_sampling(&ring()), -1);
    set_capture_params(&ring(), 2, 16, 44100, 4096, 5);
    ASSERT_EQ(open_wave_in(&ring(), inbox::callback), 0);
    EXPECT_EQ(close_wave_in(&ring()), 0);
    EXPECT_EQ(close_wave_in(&ring()), -1) << "a second close";
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CaptureRing, ACompressedChoiceOpensAsPcmWithItsBitsAndTheRefusalIsShown)
{
    choose(ima_adpcm());
    set_capture_params(&ring(), 0, 0, 0, 1024, 30);
    EXPECT_EQ(open_wave_in(&ring(), inbox::callback), -1);
    EXPECT_EQ(ring().capture_format.fmt.format_tag, WAVE_FORMAT_PCM);
    EXPECT_EQ(ring().capture_format.fmt.bits_per_sample, 4);
    EXPECT_EQ(ring().capture_format.fmt.block_align, 0);
    EXPECT_EQ(ring().device, nullptr);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].caption, "WaveIn Error");
    EXPECT_EQ(boxes()[0].text, error_text(WAVERR_BADFORMAT));
    EXPECT_EQ(boxes()[0].owner, nullptr);
    EXPECT_EQ(boxes()[0].flags, unsigned(MB_OK));
}

TEST_F(CaptureRing, TheSuggestedOpenTakesThePcmThatMakesTheChosenFormat)
{
    set_capture_params(&ring(), 0, 0, 0, 8192, 5);
    EXPECT_EQ(open_wave_in_suggested(&ring(), inbox::callback), -1) << "nothing chosen yet";
    EXPECT_EQ(ring().device, nullptr);
    EXPECT_TRUE(boxes().empty());

    choose(ima_adpcm());
    ring().sample_rate = 8000;   // plays no part in this open
    ASSERT_EQ(open_wave_in_suggested(&ring(), inbox::callback), 0);
    const wave_format& f = ring().capture_format.fmt;
    EXPECT_EQ(f.format_tag, WAVE_FORMAT_PCM);
    EXPECT_EQ(uint32_t(f.samples_per_sec), 44100u);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.bits_per_sample, 16);
    EXPECT_EQ(close_wave_in(&ring()), 0);
}

TEST_F(CaptureRing, BuffersComeBackInQueueOrderWithTheRecordsBytesAndStopReturnsAll)
{
    std::vector<int16_t> samples(44100 * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(i * 2654435761u >> 16);
    std::string path = dir.file("source.wav");
    std::vector<uint8_t> want = samples_le(samples);
    write_file(path, wav_bytes(44100, 2, 16, want));
    ASSERT_EQ(sound_use_virtual(path.c_str()), 0);

    set_capture_params(&ring(), 2, 16, 44100, 4096, 5);
    ASSERT_EQ(open_wave_in(&ring(), inbox::callback), 0);
    ASSERT_EQ(start_sampling(&ring()), 0);
    std::vector<uint8_t> got = run(40);
    ASSERT_EQ(got.size(), 40u * 4096);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()));

    // Every buffer was queued again: those the card filled since and those
    // the stop hands back make all five, and none is left with the device.
    ASSERT_EQ(stop_sampling(&ring()), 0);
    std::vector<callback_event> back = inbox::the().take_all();
    EXPECT_EQ(back.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ring().headers[i].flags & (WHDR_DONE | WHDR_INQUEUE), uint32_t(WHDR_DONE)) << i;
    EXPECT_EQ(close_wave_in(&ring()), 0);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CaptureRing, RunsInEachOfItsThreeUsesOnTheDemoRecord)
{
    // Monitor: 5 buffers of 4096 bytes, 44.1 kHz 16-bit stereo.
    set_capture_params(&ring(), 2, 16, 44100, 4096, app.num_buffers);
    ASSERT_EQ(open_wave_in(&ring(), inbox::callback), 0);
    ASSERT_EQ(start_sampling(&ring()), 0);
    run(20);
    ASSERT_EQ(stop_sampling(&ring()), 0);
    ASSERT_EQ(close_wave_in(&ring()), 0);

    // Signal sampling: 30 buffers of 1024 bytes in the chosen format's PCM shape.
    inbox::the().clear();
    choose(pcm(22050, 1, 16));
    set_capture_params(&ring(), 0, 0, 0, app.sampling_buffer_bytes & 0xFFFF, 6 * app.num_buffers);
    EXPECT_EQ(ring().buffer_count, 30);
    ASSERT_EQ(open_wave_in(&ring(), inbox::callback), 0);
    EXPECT_EQ(uint32_t(ring().capture_format.fmt.samples_per_sec), 22050u);
    ASSERT_EQ(start_sampling(&ring()), 0);
    run(90);
    ASSERT_EQ(stop_sampling(&ring()), 0);
    ASSERT_EQ(close_wave_in(&ring()), 0);

    // Recording: 5 buffers of 8192 bytes in the PCM suggested for the choice.
    inbox::the().clear();
    choose(ima_adpcm());
    set_capture_params(&ring(), 0, 0, 0, app.record_buffer_bytes, app.num_buffers);
    ASSERT_EQ(open_wave_in_suggested(&ring(), inbox::callback), 0);
    ASSERT_EQ(start_sampling(&ring()), 0);
    run(20);
    ASSERT_EQ(stop_sampling(&ring()), 0);
    ASSERT_EQ(close_wave_in(&ring()), 0);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CaptureRing, EachFailingDeviceCallIsShownAndStopsTheOperation)
{
    set_capture_params(&ring(), 2, 16, 44100, 4096, 5);
    ASSERT_EQ(open_wave_in(&ring(), inbox::callback), 0);

    // The third queueing fails: the two before it stay queued.
    sound_fail_call(SOUND_IN_ADD_BUFFER, MMSYSERR_NOMEM, 2);
    EXPECT_EQ(start_sampling(&ring()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].caption, "WaveIn Error");
    EXPECT_EQ(boxes()[0].text, error_text(MMSYSERR_NOMEM));
    EXPECT_TRUE(ring().headers[0].flags & WHDR_INQUEUE);
    EXPECT_TRUE(ring().headers[1].flags & WHDR_INQUEUE);
    EXPECT_FALSE(ring().headers[2].flags & WHDR_INQUEUE);

    headless_clear_message_boxes();
    sound_fail_call(SOUND_IN_START, MMSYSERR_NOTENABLED);
    EXPECT_EQ(stop_sampling(&ring()), 0);
    EXPECT_EQ(start_sampling(&ring()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, error_text(MMSYSERR_NOTENABLED));

    headless_clear_message_boxes();
    sound_fail_call(SOUND_IN_RESET, MMSYSERR_ERROR);
    EXPECT_EQ(stop_sampling(&ring()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, error_text(MMSYSERR_ERROR));
    EXPECT_EQ(stop_sampling(&ring()), 0);

    // A close that fails on the second buffer: the first is freed, the rest
    // are not, and the device stays open for a later close.
    headless_clear_message_boxes();
    sound_fail_call(SOUND_IN_UNPREPARE, MMSYSERR_INVALHANDLE, 1);
    EXPECT_EQ(close_wave_in(&ring()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].caption, "WaveIn Error");
    EXPECT_EQ(ring().headers[0].data, nullptr);
    EXPECT_NE(ring().headers[1].data, nullptr);
    EXPECT_NE(ring().device, nullptr);
    EXPECT_EQ(close_wave_in(&ring()), 0);
    EXPECT_EQ(ring().device, nullptr);

    // An open the device refuses.
    headless_clear_message_boxes();
    sound_fail_call(SOUND_IN_OPEN, MMSYSERR_ALLOCATED);
    EXPECT_EQ(open_wave_in(&ring(), inbox::callback), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, error_text(MMSYSERR_ALLOCATED));
}

TEST_F(CaptureRing, WhenSampleMemoryRunsOutTheDeviceIsClosedAgainQuietly)
{
    set_capture_params(&ring(), 2, 16, 44100, 4096, 5);
    capture_ring_fail_alloc_after(2);
    EXPECT_EQ(open_wave_in(&ring(), inbox::callback), -1);
    EXPECT_EQ(ring().device, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ring().headers[i].data, nullptr) << i;
    EXPECT_TRUE(boxes().empty());
    // The card takes one input at a time: this open works only because the
    // failed one gave the device back.
    EXPECT_EQ(open_wave_in(&ring(), inbox::callback), 0);
    EXPECT_EQ(close_wave_in(&ring()), 0);
}

TEST_F(CaptureRing, ApiFailureNamesTheCallAndTheLastError)
{
    set_last_error(ERROR_ACCESS_DENIED);
    api_failure("CreateFile");
    set_last_error(0);
    api_failure(std::string(100, 'x').c_str());
    ASSERT_EQ(boxes().size(), 2u);
    EXPECT_EQ(boxes()[0].text, "CreateFile failed: GetLastError returned 5\n");
    EXPECT_EQ(boxes()[0].caption, "Fatal Error");
    EXPECT_EQ(boxes()[0].owner, nullptr);
    EXPECT_EQ(boxes()[1].text, std::string(79, 'x')) << "cut to its 80-character buffer";

    wave_in_error(WAVERR_STILLPLAYING);
    ASSERT_EQ(boxes().size(), 3u);
    EXPECT_EQ(boxes()[2].caption, "WaveIn Error");
    EXPECT_EQ(boxes()[2].text, error_text(WAVERR_STILLPLAYING));
}

// The header of a WAV file: RIFF size and the data chunk's size.
void wav_sizes(const std::vector<uint8_t>& b, uint32_t* riff, uint32_t* data)
{
    auto le32 = [&](size_t at) { return uint32_t(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24)); };
    *riff = le32(4);
    *data = 0;
    for (size_t at = 12; at + 8 <= b.size(); at += 8 + le32(at + 4))
        if (std::memcmp(&b[at], "data", 4) == 0) {
            *data = le32(at + 4);
            return;
        }
}

TEST_F(CaptureRing, AFatalErrorFinishesTheCaptureFileThenEndsWithOne)
{
    // The forked child shares this test's scratch directory; no device is
    // open, so no thread but this one runs.
    std::string path = dir.file("take.wav");
    choose(pcm(44100, 2, 16));
    EXPECT_EXIT(
        {
            headless_on_message_box([](const message_box_record& r) { std::fprintf(stderr, "[%s] %s\n", r.caption.c_str(), r.text.c_str()); });
            app.capture_file_handle = plain_open_or_create(path.c_str(), nullptr);
            write_wav_header(app.capture_file_handle, &ring().chosen_format);
            std::vector<uint8_t> audio(10000, 0x55);
            plain_write(app.capture_file_handle, audio.data(), uint32_t(audio.size()));
            app.data_bytes_written = uint32_t(audio.size());
            app.recording = 1;
            fatal_wave_in_error(MMSYSERR_NOMEM);
        },
        testing::ExitedWithCode(1), "\\[Fatal WaveIn Error\\] " + error_text(MMSYSERR_NOMEM));
    std::vector<uint8_t> file = read_file(path);
    uint32_t riff, data;
    wav_sizes(file, &riff, &data);
    EXPECT_EQ(data, 10000u) << "the data size is patched";
    EXPECT_EQ(riff, file.size() - 8) << "the RIFF size is patched";
}

TEST_F(CaptureRing, StartUpWithoutASoundCardOrTheDemoRecordInItsPlaceSaysSo)
{
    sound_virtual_devices(0, 1);
    // An open device keeps the demo record from standing in for the card.
    wave_out device = nullptr;
    const wave_format f = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(wave_out_open(&device, WAVE_MAPPER, &f, nullptr, 0, 0), 0u);
    EXPECT_EQ(trackmill_startup(), 1);
    wave_out_close(device);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "No sound card installed !");
    EXPECT_EQ(boxes()[0].caption, "Trackmill");

    headless_clear_message_boxes();
    sound_virtual_devices(1, 1);
    sound_fail_call(SOUND_IN_CAPS, MMSYSERR_NODRIVER);
    EXPECT_EQ(trackmill_startup(), 1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Cannot determine sound card capabilities!");
}

}  // namespace
