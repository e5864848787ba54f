// The recording format: the chooser's refusal of 8-bit PCM, the texts of
// controls 80 and 73, the recording's stream and block, the per-buffer
// conversion and the reports of failing stream calls.
#include <gtest/gtest.h>
#include <cstring>
#include "capture/compression.h"
#include "tests/acm/codec_check.h"
#include "tests/support/music_signal.h"
#include "tests/support/main_dialog_fixture.h"

namespace {
struct Compression : MainDialogTest {
    void SetUp() override
    {
        MainDialogTest::SetUp();
        acm_fail_clear();
        open_dialog();
        headless_clear_message_boxes();
    }
    void TearDown() override
    {
        release_conversion();
        acm_fail_clear();
        MainDialogTest::TearDown();
    }
    format_area chosen() const { return app.capture_ring.chosen_format; }
    // Opens the recording's stream from the PCM the chosen format is made of.
    acm_stream open_for(const char* spelling)
    {
        format_area dst = {}, src = {};
        char why[128];
        EXPECT_EQ(acm_parse_spelling(spelling, &dst, why, sizeof why), 0) << why;
        EXPECT_EQ(acm_format_suggest(&dst.fmt, &src.fmt, FORMAT_AREA_BYTES, 0), 0u);
        app.capture_ring.chosen_format = dst;
        app.capture_ring.capture_format = src;
        return open_conversion(&src.fmt, &dst.fmt);
    }
    const message_box_record& only_box()
    {
        static message_box_record none;
        boxes = headless_message_boxes();
        EXPECT_EQ(boxes.size(), 1u);
        return boxes.empty() ? none : boxes[0];
    }
    std::vector<message_box_record> boxes;
};
} // namespace

TEST_F(Compression, AChoiceStoresTheFormatAndShowsItsTagAndDescription)
{
    headless_answer_chooser("ima-adpcm,44100,2");
    ASSERT_EQ(choose_format(&app.capture_ring), 0);
    format_area expect;
    acm_parse_spelling("ima-adpcm,44100,2", &expect, nullptr, 0);
    EXPECT_EQ(std::memcmp(&app.capture_ring.chosen_format, &expect, sizeof expect), 0);
    EXPECT_EQ(text(IDC_FORMAT_TAG), "IMA ADPCM");
    EXPECT_EQ(text(IDC_FORMAT_NAME), "44.100 kHz, 4 Bit, Stereo");
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Compression, CancelChangesNothing)
{
    std::string tag_before = text(IDC_FORMAT_TAG), name_before = text(IDC_FORMAT_NAME);
    EXPECT_EQ(choose_format(&app.capture_ring), -1);   // no scripted answer: cancelled
    format_area zero = {};
    EXPECT_EQ(std::memcmp(&app.capture_ring.chosen_format, &zero, sizeof zero), 0);
    EXPECT_EQ(text(IDC_FORMAT_TAG), tag_before);
    EXPECT_EQ(text(IDC_FORMAT_NAME), name_before);
}

TEST_F(Compression, EightBitPcmIsRefusedAndACancelAfterItKeepsTheEarlierChoiceWhole)
{
    headless_answer_chooser("gsm,8000,1");
    ASSERT_EQ(choose_format(&app.capture_ring), 0);
    format_area before = chosen();

    headless_answer_chooser("pcm,44100,2,8");
    headless_answer_chooser(nullptr);   // cancel when the chooser comes back
    EXPECT_EQ(choose_format(&app.capture_ring), -1);
    const message_box_record& box = only_box();
    EXPECT_EQ(box.text, "8 bits PCM format not supported - choose 16 bits");
    EXPECT_EQ(box.caption, "Trackmill");
    EXPECT_EQ(box.owner, app.main_dialog);
    EXPECT_EQ(headless_choosers_shown(), 3);
    EXPECT_EQ(std::memcmp(&app.capture_ring.chosen_format, &before, sizeof before), 0);
    EXPECT_EQ(text(IDC_FORMAT_TAG), "GSM 6.10");

    // Refused twice, then a 16-bit pick is taken.
    headless_clear_message_boxes();
    headless_answer_chooser("pcm,22050,1,8");
    headless_answer_chooser("pcm,22050,1,8");
    headless_answer_chooser("pcm,22050,1,16");
    ASSERT_EQ(choose_format(&app.capture_ring), 0);
    EXPECT_EQ(headless_message_boxes().size(), 2u);
    EXPECT_EQ(app.capture_ring.chosen_format.fmt.bits_per_sample, 16);
    EXPECT_EQ(app.capture_ring.chosen_format.fmt.block_align, 2);
    EXPECT_EQ(text(IDC_FORMAT_NAME), "22.050 kHz, 16 Bit, Mono");
}

TEST_F(Compression, OpenSizesTheBlockAndPreparesTheOneHeader)
{
    acm_stream s = open_for("gsm,8000,1");
    ASSERT_NE(s, nullptr);
    // 8192 bytes hold 12 whole GSM blocks of 640 bytes: 12 x 65 bytes of room and
    // a 13th for a padded tail.
    EXPECT_EQ(app.conversion_output_bytes, 13u * 65);
    EXPECT_EQ(app.conversion_output, app.conversion_block + 8192);
    const acm_stream_header& h = app.conversion_header;
    EXPECT_EQ(h.struct_size, sizeof(acm_stream_header));
    EXPECT_EQ(h.src, app.conversion_block);
    EXPECT_EQ(h.src_length, 8192u);
    EXPECT_EQ(h.dst, app.conversion_output);
    EXPECT_EQ(h.dst_length, app.conversion_output_bytes);
    EXPECT_TRUE(h.status & ACMSTREAMHEADER_STATUSF_PREPARED);
    app.conversion_stream = s;
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Compression, PcmBuffersConvertToThemselves)
{
    acm_stream s = open_for("pcm,44100,2,16");
    ASSERT_NE(s, nullptr);
    app.conversion_stream = s;
    for (uint32_t i = 0; i < 8192; ++i)
        app.conversion_block[i] = uint8_t(i * 7);
    ASSERT_EQ(convert_buffer(s, app.conversion_block, app.conversion_header.src_length), 8192u);
    EXPECT_EQ(std::memcmp(app.conversion_output, app.conversion_block, 8192), 0);
    EXPECT_EQ(app.conversion_carry_bytes, 0u);
}

TEST_F(Compression, WhatIsLeftOfABufferGoesInFrontOfTheNextAndTheEndGivesOutTheRest)
{
    // IMA: 8192-byte buffers against blocks of 2041 frames (8164 bytes), each
    // buffer leaving 28 bytes that the next takes up. MP3: the encoder holds
    // frames back until the end asks for them.
    for (const char* spelling : {"ima-adpcm,44100,2", "mp3,44100,2,128"}) {
        SCOPED_TRACE(spelling);
        release_conversion();
        acm_stream s = open_for(spelling);
        ASSERT_NE(s, nullptr);
        app.conversion_stream = s;
        const uint32_t buffers = spelling[0] == 'i' ? 600 : 60;
        std::vector<int16_t> signal = music_signal(44100, 2, buffers * 2048);
        std::vector<uint8_t> recorded;
        for (uint32_t b = 0; b < buffers; ++b) {
            std::memcpy(app.conversion_block, reinterpret_cast<const uint8_t*>(signal.data()) + size_t(b) * 8192,
                        8192);
            uint32_t n = convert_buffer(s, app.conversion_block, app.conversion_header.src_length);
            recorded.insert(recorded.end(), app.conversion_output, app.conversion_output + n);
        }
        if (spelling[0] == 'i') {
            EXPECT_EQ(recorded.size(), size_t(buffers) * 8192 / 8164 * 2048);
            EXPECT_EQ(app.conversion_carry_bytes, size_t(buffers) * 8192 % 8164);
        }
        uint32_t n = finish_conversion(s);
        EXPECT_GT(n, 0u);
        recorded.insert(recorded.end(), app.conversion_output, app.conversion_output + n);
        EXPECT_EQ(app.conversion_carry_bytes, 0u);
        // The same bytes as the whole signal converted in one piece.
        format_area dst = codec_check::format_of(spelling);
        EXPECT_EQ(recorded, codec_check::encode_all(dst, signal, buffers * 8192));
        EXPECT_TRUE(headless_message_boxes().empty());
    }
}

TEST_F(Compression, EachFailingStreamCallShowsItsCaptionAndText)
{
    struct {
        acm_call call;
        unsigned code;
        const char* caption;
        const char* text;
    } cases[] = {
        {ACM_CALL_OPEN, MMSYSERR_NODRIVER, "acmStreamOpen", "No suitable driver available."},
        {ACM_CALL_SIZE, ACMERR_NOTPOSSIBLE, "acmStreamSize", "Operation cannot be performed"},
        {ACM_CALL_PREPARE, MMSYSERR_INVALPARAM, "acmStreamPrepareHeader", "At least one parameter is invalid."},
    };
    for (const auto& c : cases) {
        headless_clear_message_boxes();
        acm_fail_call(c.call, c.code);
        EXPECT_EQ(open_for("adpcm,22050,2"), nullptr);
        const message_box_record& box = only_box();
        EXPECT_EQ(box.caption, c.caption);
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.owner, app.main_dialog);
        // Nothing is left behind by a failed open.
        EXPECT_EQ(acm_open_stream_count(), 0) << c.caption;
        EXPECT_EQ(app.conversion_block, nullptr) << c.caption;
    }

    // The block itself cannot be had: told as a failed preparation.
    headless_clear_message_boxes();
    conversion_block_fail_next();
    EXPECT_EQ(open_for("adpcm,22050,2"), nullptr);
    EXPECT_EQ(only_box().caption, "acmStreamPrepareHeader");
    EXPECT_EQ(only_box().text, "Unable to reserve enough memory.");
    EXPECT_EQ(acm_open_stream_count(), 0);

    // A conversion failure writes nothing for that buffer and the next one works.
    acm_stream s = open_for("alaw,8000,1");
    ASSERT_NE(s, nullptr);
    app.conversion_stream = s;
    headless_clear_message_boxes();
    acm_fail_call(ACM_CALL_CONVERT, ACMERR_BUSY);
    EXPECT_EQ(convert_buffer(s, app.conversion_block, app.conversion_header.src_length), 0u);
    EXPECT_EQ(only_box().caption, "acmStreamConvert");
    EXPECT_EQ(only_box().text, "Conversion stream already in use.");
    headless_clear_message_boxes();
    acm_fail_call(ACM_CALL_RESET, 99);
    EXPECT_EQ(convert_buffer(s, app.conversion_block, app.conversion_header.src_length), 0u);
    EXPECT_EQ(only_box().caption, "acmStreamReset");
    EXPECT_EQ(only_box().text, "Unknown ACM error: 99");
    headless_clear_message_boxes();
    EXPECT_EQ(convert_buffer(s, app.conversion_block, app.conversion_header.src_length), 4096u);
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Compression, AFormatTheCardCannotFeedIsRefusedAtOpen)
{
    format_area gsm = {}, pcm = {};
    acm_parse_spelling("gsm,8000,1", &gsm, nullptr, 0);
    acm_parse_spelling("pcm,44100,1,16", &pcm, nullptr, 0);   // wrong rate for this GSM
    EXPECT_EQ(open_conversion(&pcm.fmt, &gsm.fmt), nullptr);
    EXPECT_EQ(only_box().caption, "acmStreamOpen");
    EXPECT_EQ(only_box().text, "Operation cannot be performed");

    // A buffer smaller than one codec block would record nothing at all.
    headless_clear_message_boxes();
    app.record_buffer_bytes = 512;
    EXPECT_EQ(open_for("gsm,8000,1"), nullptr);
    EXPECT_EQ(only_box().caption, "acmStreamSize");
    EXPECT_EQ(acm_open_stream_count(), 0);
}

TEST_F(Compression, ErrorTextsComeInPolishToo)
{
    set_ui_language(LANG_POLISH);
    acm_error("acmStreamClose", MMSYSERR_INVALHANDLE);
    acm_error("acmStreamUnprepareHeader", ACMERR_UNPREPARED);
    boxes = headless_message_boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Nieprawidłowy uchwyt.");
    EXPECT_EQ(boxes[0].caption, "acmStreamClose");
    EXPECT_EQ(boxes[1].text, "Nagłówek (waveIn/Out audio) nieprawidłowo spreparowany.");
}

TEST_F(Compression, AStreamLeftOpenByAFailedStartIsReleasedByTheNextOpen)
{
    acm_stream first = open_for("mulaw,8000,2");
    ASSERT_NE(first, nullptr);
    app.conversion_stream = first;       // a start that failed later kept it
    acm_stream second = open_for("mulaw,8000,2");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(acm_open_stream_count(), 1);
    app.conversion_stream = second;
    EXPECT_TRUE(headless_message_boxes().empty());
}
