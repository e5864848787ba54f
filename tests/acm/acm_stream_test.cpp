// Conversion streams: block alignment, output that does not depend on how
// the input was cut into buffers, START and reset, END's flush, and a clear
// result code for every misuse.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "tests/acm/codec_check.h"
#include "tests/support/music_signal.h"

using namespace codec_check;

namespace {
struct stream_fixture {
    format_area src = {}, dst = {};
    acm_stream s = nullptr;
    acm_stream_header h = {};
    std::vector<uint8_t> in, out;

    explicit stream_fixture(const char* spelling, uint32_t src_bytes = 8192)
    {
        dst = format_of(spelling);
        src = pcm_source_for(dst);
        EXPECT_EQ(acm_stream_open(&s, &src.fmt, &dst.fmt, 0), 0u);
        uint32_t room = 0;
        EXPECT_EQ(acm_stream_size(s, src_bytes, &room, ACM_STREAMSIZEF_SOURCE), 0u);
        in.assign(src_bytes, 0);
        out.assign(room, 0);
        h.struct_size = sizeof h;
        h.src = in.data();
        h.src_length = src_bytes;
        h.dst = out.data();
        h.dst_length = room;
        EXPECT_EQ(acm_stream_prepare_header(s, &h, 0), 0u);
    }
    ~stream_fixture()
    {
        if (s) {
            acm_stream_unprepare_header(s, &h, 0);
            acm_stream_close(s, 0);
        }
    }
};

// Encodes `samples` cut into buffers of the given sizes in frames (cycled),
// each converted with block alignment, the rest carried to the next buffer,
// the last flagged END.
std::vector<uint8_t> encode_cut(const char* spelling, const std::vector<int16_t>& samples,
                                std::vector<uint32_t> cuts, bool reset_between = false)
{
    format_area dst = format_of(spelling);
    const uint32_t frame = 2u * dst.fmt.channels;
    uint32_t biggest = 0;
    for (uint32_t c : cuts)
        biggest = c > biggest ? c : biggest;
    stream_fixture f(spelling, (biggest + 4096) * frame);
    std::vector<uint8_t> result;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    size_t total = samples.size() * 2, pos = 0, fill = 0;
    for (size_t k = 0;; ++k) {
        size_t want = size_t(cuts[k % cuts.size()]) * frame;
        size_t n = std::min(want, total - pos);
        std::memcpy(f.in.data() + fill, bytes + pos, n);
        pos += n;
        fill += n;
        bool last = pos == total;
        f.h.src_length = uint32_t(fill);
        EXPECT_EQ(acm_stream_convert(f.s, &f.h, last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
        if (reset_between) {
            EXPECT_EQ(acm_stream_reset(f.s, 0), 0u);
        }
        result.insert(result.end(), f.out.begin(), f.out.begin() + f.h.dst_length_used);
        std::memmove(f.in.data(), f.in.data() + f.h.src_length_used, fill - f.h.src_length_used);
        fill -= f.h.src_length_used;
        if (last)
            break;
    }
    return result;
}
} // namespace

TEST(AcmStream, BlockAlignmentLeavesOnlyThePartialBlock)
{
    stream_fixture f("ima-adpcm,44100,2");      // 2041 frames = 8164 bytes a block
    ASSERT_EQ(acm_stream_convert(f.s, &f.h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    EXPECT_EQ(f.h.src_length_used, 8164u);
    EXPECT_EQ(f.h.dst_length_used, 2048u);
    EXPECT_TRUE(f.h.status & ACMSTREAMHEADER_STATUSF_DONE);
    // Without alignment the 7 frames left over become a padded second block.
    ASSERT_EQ(acm_stream_convert(f.s, &f.h, 0), 0u);
    EXPECT_EQ(f.h.src_length_used, 8192u);
    EXPECT_EQ(f.h.dst_length_used, 4096u);
    // Less than a block gives nothing with alignment, and says so in the counts.
    f.h.src_length = 8000;
    ASSERT_EQ(acm_stream_convert(f.s, &f.h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    EXPECT_EQ(f.h.src_length_used, 0u);
    EXPECT_EQ(f.h.dst_length_used, 0u);
    // A stray odd byte is not half a sample.
    stream_fixture p("pcm,8000,1,16");
    p.h.src_length = 8191;
    ASSERT_EQ(acm_stream_convert(p.s, &p.h, 0), 0u);
    EXPECT_EQ(p.h.src_length_used, 8190u);
}

TEST(AcmStream, OutputDoesNotDependOnHowTheInputWasCut)
{
    for (const char* spelling : {"ima-adpcm,22050,2", "adpcm,16000,1", "gsm,8000,1", "mulaw,8000,2",
                                 "mp3,44100,2,128", "mp3,16000,1,64"}) {
        SCOPED_TRACE(spelling);
        format_area f = format_of(spelling);
        auto signal = music_signal(f.fmt.samples_per_sec, f.fmt.channels, f.fmt.samples_per_sec / 2 + 77);
        std::vector<uint8_t> whole = encode_cut(spelling, signal, {1u << 20});
        EXPECT_EQ(encode_cut(spelling, signal, {1}), whole);
        EXPECT_EQ(encode_cut(spelling, signal, {333, 4097, 1000}), whole);
        EXPECT_EQ(encode_cut(spelling, signal, {2048}, true), whole) << "a reset keeps the codec's history";
    }
}

TEST(AcmStream, PcmCopiesEverySampleAndEightBitsRound)
{
    auto signal = music_signal(44100, 2, 3000);
    std::vector<uint8_t> copy = encode_cut("pcm,44100,2,16", signal, {777});
    ASSERT_EQ(copy.size(), signal.size() * 2);
    EXPECT_EQ(std::memcmp(copy.data(), signal.data(), copy.size()), 0);

    // 16 to 8 bits: nearest step, offset by 128, the top held at 255.
    std::vector<int16_t> edges = {0, 127, 128, -128, -129, 32767, -32768, 255, -1};
    format_area src = format_of("pcm,8000,1,16"), dst = format_of("pcm,8000,1,8");
    acm_stream s = nullptr;
    ASSERT_EQ(acm_stream_open(&s, &src.fmt, &dst.fmt, 0), 0u);
    uint8_t out[9] = {};
    acm_stream_header h = {};
    h.struct_size = sizeof h;
    h.src = reinterpret_cast<uint8_t*>(edges.data());
    h.src_length = 18;
    h.dst = out;
    h.dst_length = 9;
    ASSERT_EQ(acm_stream_prepare_header(s, &h, 0), 0u);
    ASSERT_EQ(acm_stream_convert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    ASSERT_EQ(h.dst_length_used, 9u);
    const uint8_t expect[9] = {128, 128, 129, 128, 127, 255, 0, 129, 128};
    EXPECT_EQ(std::memcmp(out, expect, 9), 0);
    EXPECT_EQ(acm_stream_unprepare_header(s, &h, 0), 0u);
    EXPECT_EQ(acm_stream_close(s, 0), 0u);
}

TEST(AcmStream, StartBeginsAfreshAndEndFlushesWhatTheEncoderHolds)
{
    for (const char* spelling : {"gsm,8000,1", "mp3,44100,1,96", "ima-adpcm,8000,1"}) {
        SCOPED_TRACE(spelling);
        format_area fmt = format_of(spelling);
        stream_fixture f(spelling, 640 * 4);
        auto signal = music_signal(fmt.fmt.samples_per_sec, 1, 640 * 2);
        std::memcpy(f.in.data(), signal.data(), f.in.size());
        ASSERT_EQ(acm_stream_convert(f.s, &f.h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
        std::vector<uint8_t> first(f.out.begin(), f.out.begin() + f.h.dst_length_used);
        // Continuing carries history; START forgets it and gives the first bytes again.
        ASSERT_EQ(acm_stream_convert(f.s, &f.h, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START), 0u);
        EXPECT_EQ(std::vector<uint8_t>(f.out.begin(), f.out.begin() + f.h.dst_length_used), first);
    }
    // MPEG: the buffer alone gives less than its share; END gives the rest.
    stream_fixture m("mp3,44100,2,128", 4 * 1152);
    ASSERT_EQ(acm_stream_convert(m.s, &m.h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    EXPECT_LT(m.h.dst_length_used, 417u);
    ASSERT_EQ(acm_stream_convert(m.s, &m.h, ACM_STREAMCONVERTF_END), 0u);
    EXPECT_GE(m.h.dst_length_used, 3 * 417u);
    // After END the stream starts a new piece: same input, same bytes.
    stream_fixture fresh("mp3,44100,2,128", 4 * 1152);
    ASSERT_EQ(acm_stream_convert(fresh.s, &fresh.h, ACM_STREAMCONVERTF_END), 0u);
    ASSERT_EQ(acm_stream_convert(m.s, &m.h, ACM_STREAMCONVERTF_END), 0u);
    EXPECT_EQ(m.h.dst_length_used, fresh.h.dst_length_used);
    EXPECT_EQ(std::memcmp(m.out.data(), fresh.out.data(), m.h.dst_length_used), 0);
}

TEST(AcmStream, SizesInBothDirections)
{
    stream_fixture f("adpcm,44100,2");            // 2036 frames (8144 bytes) -> 2048 bytes
    uint32_t n = 0;
    EXPECT_EQ(acm_stream_size(f.s, 8144, &n, ACM_STREAMSIZEF_SOURCE), 0u);
    EXPECT_EQ(n, 2048u);
    EXPECT_EQ(acm_stream_size(f.s, 8145, &n, ACM_STREAMSIZEF_SOURCE), 0u);
    EXPECT_EQ(n, 4096u);                          // room for a padded tail
    EXPECT_EQ(acm_stream_size(f.s, 8143, &n, ACM_STREAMSIZEF_SOURCE), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acm_stream_size(f.s, 4095, &n, ACM_STREAMSIZEF_DESTINATION), 0u);
    EXPECT_EQ(n, 8144u);
    EXPECT_EQ(acm_stream_size(f.s, 2047, &n, ACM_STREAMSIZEF_DESTINATION), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acm_stream_size(f.s, 8192, nullptr, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acm_stream_size(f.s, 8192, &n, 2), MMSYSERR_INVALFLAG);

    stream_fixture p("pcm,44100,2,16");
    EXPECT_EQ(acm_stream_size(p.s, 0xFFFFFFFFu, &n, ACM_STREAMSIZEF_SOURCE), ACMERR_NOTPOSSIBLE);  // past 4 GiB

    // Too little room: only the blocks that fit are converted.
    f.h.dst_length = 2048 + 100;
    f.h.src_length = 8192;
    ASSERT_EQ(acm_stream_convert(f.s, &f.h, 0), 0u);
    EXPECT_EQ(f.h.src_length_used, 8144u);
    EXPECT_EQ(f.h.dst_length_used, 2048u);
}

TEST(AcmStream, EveryMisuseGetsItsCodeAndChangesNothing)
{
    format_area pcm = format_of("pcm,44100,2,16"), pcm8 = format_of("pcm,44100,2,8");
    format_area gsm = format_of("gsm,8000,1"), ima = format_of("ima-adpcm,44100,2");
    acm_stream s = reinterpret_cast<acm_stream>(0x1234);
    EXPECT_EQ(acm_stream_open(&s, &pcm.fmt, &gsm.fmt, 0), ACMERR_NOTPOSSIBLE);   // rate and channels differ
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(acm_stream_open(&s, &ima.fmt, &pcm.fmt, 0), ACMERR_NOTPOSSIBLE);   // no decoding here
    EXPECT_EQ(acm_stream_open(&s, &pcm8.fmt, &ima.fmt, 0), ACMERR_NOTPOSSIBLE);  // codecs take 16 bits
    EXPECT_EQ(acm_stream_open(&s, &pcm.fmt, &ima.fmt, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acm_stream_open(nullptr, &pcm.fmt, &ima.fmt, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acm_stream_open(&s, nullptr, &ima.fmt, 0), MMSYSERR_INVALPARAM);
    format_area odd = ima;
    odd.fmt.cb_size = 60000;                                                    // claims more than it has
    EXPECT_EQ(acm_stream_open(&s, &pcm.fmt, &odd.fmt, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acm_open_stream_count(), 0);

    stream_fixture f("ima-adpcm,44100,2");
    acm_stream_header loose = f.h;
    loose.status = 0;
    EXPECT_EQ(acm_stream_convert(f.s, &loose, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acm_stream_unprepare_header(f.s, &loose, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acm_stream_convert(f.s, &f.h, 0x1), MMSYSERR_INVALFLAG);
    f.h.src_length = 8193;                                                      // grew since preparation
    EXPECT_EQ(acm_stream_convert(f.s, &f.h, 0), MMSYSERR_INVALPARAM);
    f.h.src_length = 8192;
    f.h.struct_size = 12;
    EXPECT_EQ(acm_stream_convert(f.s, &f.h, 0), MMSYSERR_INVALPARAM);
    f.h.struct_size = sizeof f.h;
    EXPECT_EQ(acm_stream_reset(f.s, 3), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acm_stream_close(f.s, 3), MMSYSERR_INVALFLAG);

    // A header prepared on one stream cannot be used on another.
    stream_fixture g("ima-adpcm,44100,2");
    EXPECT_EQ(acm_stream_prepare_header(g.s, &f.h, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acm_stream_convert(g.s, &f.h, 0), ACMERR_UNPREPARED);

    // A closed handle is refused, not followed.
    acm_stream gone = g.s;
    EXPECT_EQ(acm_stream_close(gone, 0), 0u);
    g.s = nullptr;
    EXPECT_EQ(acm_stream_close(gone, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acm_stream_convert(gone, &f.h, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acm_stream_size(gone, 100, nullptr, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acm_stream_reset(nullptr, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acm_open_stream_count(), 1);
}

TEST(AcmStream, PlannedFailuresHitTheNamedCallOnce)
{
    acm_fail_clear();
    stream_fixture f("alaw,8000,1");
    acm_fail_call(ACM_CALL_CONVERT, ACMERR_BUSY, 1);
    EXPECT_EQ(acm_stream_convert(f.s, &f.h, 0), 0u);
    EXPECT_EQ(acm_stream_convert(f.s, &f.h, 0), ACMERR_BUSY);
    EXPECT_EQ(acm_stream_convert(f.s, &f.h, 0), 0u);
    acm_fail_call(ACM_CALL_CLOSE, MMSYSERR_NOMEM);
    EXPECT_EQ(acm_stream_close(f.s, 0), MMSYSERR_NOMEM);
    EXPECT_EQ(acm_open_stream_count(), 1) << "a failed close leaves the stream open";
    acm_fail_call(ACM_CALL_OPEN, MMSYSERR_NODRIVER);
    acm_fail_clear();
    stream_fixture g("alaw,8000,1");
    EXPECT_NE(g.s, nullptr);
}

TEST(AcmStream, SourceAtAnOddAddressGivesTheSameBytes)
{
    // A held-over tail can sit at an odd address; every codec reads it safely.
    for (const char* spelling : {"mp3,44100,2,128", "mp3,22050,1,64", "ima-adpcm,22050,2", "gsm,8000,1"}) {
        SCOPED_TRACE(spelling);
        format_area fmt = format_of(spelling);
        auto signal = music_signal(fmt.fmt.samples_per_sec, fmt.fmt.channels, 5000);
        std::vector<uint8_t> results[2];
        for (int offset = 0; offset < 2; ++offset) {
            stream_fixture f(spelling, uint32_t(signal.size() * 2));
            std::vector<uint8_t> shifted(signal.size() * 2 + 1);
            std::memcpy(shifted.data() + offset, signal.data(), signal.size() * 2);
            f.h.src = shifted.data() + offset;
            ASSERT_EQ(acm_stream_convert(f.s, &f.h, ACM_STREAMCONVERTF_END), 0u);
            results[offset].assign(f.out.begin(), f.out.begin() + f.h.dst_length_used);
            f.h.src = f.in.data();
        }
        EXPECT_EQ(results[0], results[1]);
        EXPECT_FALSE(results[0].empty());
    }
}
