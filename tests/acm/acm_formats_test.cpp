// The manager's formats: suggestion, the chooser's list, descriptions and
// command-line spellings.
#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include <string>
#include "platform/acm/acm.h"
#include "platform/window/window.h"

namespace {
format_area parse(const char* spelling)
{
    format_area f;
    char why[160];
    EXPECT_EQ(acm_parse_spelling(spelling, &f, why, sizeof why), 0) << spelling << ": " << why;
    return f;
}

std::string describe(const format_area& f)
{
    char text[64];
    acm_format_description(&f.fmt, text, sizeof text);
    return text;
}
} // namespace

TEST(AcmSuggest, StoredFormatsAreMadeFromSixteenBitPcmOfTheirRateAndChannels)
{
    for (const char* s : {"gsm,8000,1", "ima-adpcm,44100,2", "adpcm,22050,1", "alaw,8000,2", "mulaw,48000,1",
                          "mp3,44100,2,128", "mp3,16000,1,64"}) {
        format_area src = parse(s);
        format_area dst;
        std::memset(&dst, 0xAB, sizeof dst);
        ASSERT_EQ(acm_format_suggest(&src.fmt, &dst.fmt, FORMAT_AREA_BYTES, ACM_FORMATSUGGESTF_NONE), 0u) << s;
        EXPECT_EQ(dst.fmt.format_tag, WAVE_FORMAT_PCM) << s;
        EXPECT_EQ(uint32_t(dst.fmt.samples_per_sec), uint32_t(src.fmt.samples_per_sec)) << s;
        EXPECT_EQ(dst.fmt.channels, src.fmt.channels) << s;
        EXPECT_EQ(dst.fmt.bits_per_sample, 16) << s;
        EXPECT_EQ(dst.fmt.block_align, 2 * src.fmt.channels) << s;
        EXPECT_EQ(uint32_t(dst.fmt.avg_bytes_per_sec), src.fmt.samples_per_sec * 2 * src.fmt.channels) << s;
        EXPECT_EQ(dst.fmt.cb_size, 0) << s;
        EXPECT_EQ(dst.bytes[18], 0xAB) << "wrote past the record";
    }
}

TEST(AcmSuggest, PcmPlaysAsItselfAndCodecTagRestrictionMakesThatCodec)
{
    format_area pcm8 = parse("pcm,11025,1,8");
    format_area out = {};
    ASSERT_EQ(acm_format_suggest(&pcm8.fmt, &out.fmt, 128, 0), 0u);
    EXPECT_EQ(std::memcmp(&out, &pcm8, sizeof(wave_format)), 0);

    format_area pcm16 = parse("pcm,44100,2,16");
    out = {};
    out.fmt.format_tag = WAVE_FORMAT_IMA_ADPCM;
    ASSERT_EQ(acm_format_suggest(&pcm16.fmt, &out.fmt, 128, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
    format_area ima = parse("ima-adpcm,44100,2");
    EXPECT_EQ(std::memcmp(&out, &ima, 20), 0);

    // Nothing here changes the rate or the channels.
    out = {};
    out.fmt.samples_per_sec = 8000;
    EXPECT_EQ(acm_format_suggest(&pcm16.fmt, &out.fmt, 128, ACM_FORMATSUGGESTF_NSAMPLESPERSEC), ACMERR_NOTPOSSIBLE);
}

TEST(AcmSuggest, RefusesWhatItCannotMakeAndBadArguments)
{
    format_area zero = {};
    format_area out = {};
    EXPECT_EQ(acm_format_suggest(&zero.fmt, &out.fmt, 128, 0), ACMERR_NOTPOSSIBLE);   // nothing chosen yet
    format_area odd = parse("ima-adpcm,44100,2");
    odd.fmt.block_align = 777;                                                          // not a standard form
    EXPECT_EQ(acm_format_suggest(&odd.fmt, &out.fmt, 128, 0), ACMERR_NOTPOSSIBLE);
    format_area gsm = parse("gsm,8000,1");
    EXPECT_EQ(acm_format_suggest(&gsm.fmt, &out.fmt, 17, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acm_format_suggest(&gsm.fmt, &out.fmt, 128, 0x1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acm_format_suggest(nullptr, &out.fmt, 128, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acm_format_suggest(&gsm.fmt, nullptr, 128, 0), MMSYSERR_INVALPARAM);
}

TEST(AcmFormats, StandardRecordsOtherProgramsExpect)
{
    format_area ima = parse("ima-adpcm,44100,2");
    EXPECT_EQ(ima.fmt.block_align, 2048);
    EXPECT_EQ(ima.fmt.bits_per_sample, 4);
    EXPECT_EQ(ima.fmt.cb_size, 2);
    EXPECT_EQ(ima.bytes[18] | ima.bytes[19] << 8, 2041);
    EXPECT_EQ(uint32_t(ima.fmt.avg_bytes_per_sec), 44251u);

    format_area adpcm = parse("adpcm,8000,1");
    EXPECT_EQ(adpcm.fmt.block_align, 256);
    EXPECT_EQ(adpcm.fmt.cb_size, 32);
    EXPECT_EQ(adpcm.bytes[18] | adpcm.bytes[19] << 8, 500);
    EXPECT_EQ(adpcm.bytes[20] | adpcm.bytes[21] << 8, 7);
    const int16_t pairs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(int16_t(adpcm.bytes[22 + 4 * i] | adpcm.bytes[23 + 4 * i] << 8), pairs[i][0]);
        EXPECT_EQ(int16_t(adpcm.bytes[24 + 4 * i] | adpcm.bytes[25 + 4 * i] << 8), pairs[i][1]);
    }

    format_area gsm = parse("gsm,8000,1");
    EXPECT_EQ(gsm.fmt.block_align, 65);
    EXPECT_EQ(uint32_t(gsm.fmt.avg_bytes_per_sec), 1625u);
    EXPECT_EQ(gsm.bytes[18] | gsm.bytes[19] << 8, 320);

    format_area mp3 = parse("mp3,44100,2,128");
    EXPECT_EQ(uint32_t(mp3.fmt.avg_bytes_per_sec), 16000u);
    EXPECT_EQ(mp3.fmt.cb_size, 12);
    EXPECT_EQ(mp3.bytes[18] | mp3.bytes[19] << 8, 1);           // MPEG id
    EXPECT_EQ(mp3.bytes[24] | mp3.bytes[25] << 8, 417);         // bytes per frame
    EXPECT_EQ(mp3.bytes[26] | mp3.bytes[27] << 8, 1);           // frames per block

    format_area pcm = parse("pcm,48000,2,16");
    EXPECT_EQ(pcm.fmt.block_align, 4);
    EXPECT_EQ(uint32_t(pcm.fmt.avg_bytes_per_sec), 192000u);
    EXPECT_EQ(pcm.fmt.cb_size, 0);
}

TEST(AcmFormats, ChooserListCoversEveryTagAndSpellsBackToItself)
{
    const format_choice* list = nullptr;
    int count = acm_format_choices(&list);
    ASSERT_GT(count, 100);
    std::set<std::string> tags, spellings;
    bool has_pcm8 = false;
    for (int i = 0; i < count; ++i) {
        const format_choice& c = list[i];
        tags.insert(c.tag_name);
        EXPECT_TRUE(spellings.insert(c.spelling).second) << "twice: " << c.spelling;
        format_area f = parse(c.spelling);
        ASSERT_EQ(c.format_bytes, acm_format_bytes(&f.fmt));
        EXPECT_EQ(std::memcmp(c.format, &f, size_t(c.format_bytes)), 0) << c.spelling;
        EXPECT_TRUE(acm_format_known(&f.fmt)) << c.spelling;
        EXPECT_EQ(describe(f), c.description);
        EXPECT_STREQ(acm_tag_name(f.fmt.format_tag), c.tag_name);
        const auto* fmt = reinterpret_cast<const wave_format*>(c.format);
        has_pcm8 |= fmt->format_tag == WAVE_FORMAT_PCM && fmt->bits_per_sample == 8;
        EXPECT_FALSE(fmt->format_tag == WAVE_FORMAT_GSM610 && fmt->channels == 2);
    }
    EXPECT_EQ(int(tags.size()), acm_tag_count());
    EXPECT_TRUE(has_pcm8) << "8-bit PCM is listed so that the chooser can refuse it";
    EXPECT_EQ(describe(parse("pcm,44100,2,16")), "44.100 kHz, 16 Bit, Stereo");
    EXPECT_EQ(describe(parse("gsm,8000,1")), "8.000 kHz, Mono");
    EXPECT_EQ(describe(parse("mp3,22050,1,64")), "64 kBit/s, 22.050 kHz, Mono");
}

TEST(AcmFormats, BadSpellingsAreRefusedWithAReason)
{
    format_area f;
    char why[160];
    for (const char* s : {"", "pcm", "pcm,44100", "pcm,44100,2", "pcm,44100,2,24", "pcm,44100,3,16",
                          "pcm,44101,2,16", "gsm,8000,2", "gsm,8000,1,5", "mp3,44100,2", "mp3,44100,2,144",
                          "mp3,8000,1,192", "flac,44100,2", "PCM,44100,2,16", "pcm,44100,2,16,1", "pcm,-8000,2,16",
                          "pcm,44100,2,16x", "pcm,,2,16", "adpcm,44100,2,", "ima-adpcm,99999999999999999999,2"}) {
        std::memset(&f, 0x5A, sizeof f);
        EXPECT_EQ(acm_parse_spelling(s, &f, why, sizeof why), -1) << s;
        EXPECT_GT(std::strlen(why), 5u) << s;
        EXPECT_EQ(f.fmt.format_tag, 0) << "a refused spelling leaves no half-made format: " << s;
    }
    EXPECT_EQ(acm_parse_spelling(nullptr, &f, nullptr, 0), -1);
}
