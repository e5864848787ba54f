// Conversion streams: open, size, header preparation, conversion with block
// alignment, reset and close, checked against every misuse a caller can make.
#include "platform/acm/acm.h"

#include <cstdlib>
#include <cstring>
#include "platform/acm/codec.h"

namespace {
// Handles are checked against the streams that are open, so a stale or
// made-up handle gets MMSYSERR_INVALHANDLE instead of a wild access.
constexpr int MAX_STREAMS = 16;
acm_stream_object* live[MAX_STREAMS];

struct planned_failure {
    bool armed;
    unsigned code;
    int skip;
};
planned_failure planned[ACM_CALL_COUNT];

bool is_live(acm_stream s)
{
    if (!s)
        return false;
    for (acm_stream_object* p : live)
        if (p == s)
            return true;
    return false;
}

// A planned failure of this call, if one is due.
bool fails_now(acm_call call, unsigned* code)
{
    planned_failure& f = planned[call];
    if (!f.armed)
        return false;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    f.armed = false;
    *code = f.code;
    return true;
}

acm_prepared_header* find_prepared(acm_stream s, const acm_stream_header* h)
{
    for (acm_prepared_header& p : s->prepared)
        if (p.header == h)
            return &p;
    return nullptr;
}

bool prepared_elsewhere(acm_stream s, const acm_stream_header* h)
{
    for (acm_stream_object* p : live)
        if (p && p != s && find_prepared(p, h))
            return true;
    return false;
}

// Largest block count n <= most whose worst-case output fits in room.
uint32_t blocks_that_fit(acm_stream s, uint32_t most, uint32_t room)
{
    uint32_t lo = 0, hi = most;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo + 1) / 2;
        if (s->codec->max_output(&s->dst.fmt, mid) <= room)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

void free_stream(acm_stream_object* s)
{
    if (s->state)
        s->codec->close(s);
    std::free(s->pad_block);
    std::free(s);
}
} // namespace

void acm_fail_call(acm_call call, unsigned code, int skip)
{
    if (call >= 0 && call < ACM_CALL_COUNT)
        planned[call] = {true, code, skip < 0 ? 0 : skip};
}

void acm_fail_clear()
{
    for (planned_failure& f : planned)
        f = {};
}

int acm_open_stream_count()
{
    int n = 0;
    for (acm_stream_object* p : live)
        n += p != nullptr;
    return n;
}

unsigned acm_stream_open(acm_stream* out, const wave_format* src, const wave_format* dst, uint32_t flags)
{
    if (!out)
        return MMSYSERR_INVALPARAM;
    *out = nullptr;
    if (!src || !dst)
        return MMSYSERR_INVALPARAM;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_OPEN, &code))
        return code;

    // The source is PCM as a sound card gives it; the destination is a
    // format of the same rate and channels that the manager knows.
    if (src->format_tag != WAVE_FORMAT_PCM || !acm_format_known(src) || !acm_format_known(dst))
        return ACMERR_NOTPOSSIBLE;
    if (src->samples_per_sec != dst->samples_per_sec || src->channels != dst->channels)
        return ACMERR_NOTPOSSIBLE;
    const bool same_pcm = dst->format_tag == WAVE_FORMAT_PCM && dst->bits_per_sample == src->bits_per_sample;
    if (src->bits_per_sample != 16 && !same_pcm)
        return ACMERR_NOTPOSSIBLE;
    const acm_codec* codec = acm_codec_for_tag(dst->format_tag);

    int slot = -1;
    for (int i = 0; i < MAX_STREAMS && slot < 0; ++i)
        if (!live[i])
            slot = i;
    if (slot < 0)
        return MMSYSERR_NOMEM;

    auto* s = static_cast<acm_stream_object*>(std::calloc(1, sizeof(acm_stream_object)));
    if (!s)
        return MMSYSERR_NOMEM;
    s->codec = codec;
    std::memcpy(&s->src, src, sizeof(wave_format));
    s->src.fmt.cb_size = 0;
    if (dst->format_tag == WAVE_FORMAT_PCM) {
        std::memcpy(&s->dst, dst, sizeof(wave_format));   // PCM has no extra bytes
        s->dst.fmt.cb_size = 0;
    } else {
        std::memcpy(&s->dst, dst, size_t(acm_format_bytes(dst)));   // checked: at most 50 bytes
    }
    s->frames_per_block = codec->frames_per_block(&s->dst.fmt);
    s->src_block_bytes = s->frames_per_block * src->block_align;
    s->sounding_frames = s->frames_per_block;
    s->pad_block = static_cast<uint8_t*>(std::calloc(1, s->src_block_bytes));
    if (!s->pad_block) {
        free_stream(s);
        return MMSYSERR_NOMEM;
    }
    unsigned opened = codec->open(s);
    if (opened != 0) {
        free_stream(s);
        return opened;
    }
    live[slot] = s;
    *out = s;
    return MMSYSERR_NOERROR;
}

unsigned acm_stream_size(acm_stream s, uint32_t bytes, uint32_t* result, uint32_t flags)
{
    if (!is_live(s))
        return MMSYSERR_INVALHANDLE;
    if (!result)
        return MMSYSERR_INVALPARAM;
    if (flags != ACM_STREAMSIZEF_SOURCE && flags != ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_SIZE, &code))
        return code;
    *result = 0;
    if (flags == ACM_STREAMSIZEF_SOURCE) {
        // Less than one block would never give a byte with block alignment.
        if (bytes < s->src_block_bytes)
            return ACMERR_NOTPOSSIBLE;
        // Room for a padded last block too, should the caller convert without
        // block alignment.
        uint64_t blocks = (uint64_t(bytes) + s->src_block_bytes - 1) / s->src_block_bytes;
        uint64_t room = s->codec->max_output(&s->dst.fmt, blocks);
        if (room > UINT32_MAX)
            return ACMERR_NOTPOSSIBLE;
        *result = uint32_t(room);
        return MMSYSERR_NOERROR;
    }
    uint32_t most = UINT32_MAX / s->src_block_bytes;
    uint32_t blocks = blocks_that_fit(s, most, bytes);
    if (blocks == 0)
        return ACMERR_NOTPOSSIBLE;
    *result = blocks * s->src_block_bytes;
    return MMSYSERR_NOERROR;
}

unsigned acm_stream_prepare_header(acm_stream s, acm_stream_header* h, uint32_t flags)
{
    if (!is_live(s))
        return MMSYSERR_INVALHANDLE;
    if (!h || h->struct_size != sizeof(acm_stream_header))
        return MMSYSERR_INVALPARAM;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_PREPARE, &code))
        return code;
    if (!h->src || !h->dst || prepared_elsewhere(s, h))
        return MMSYSERR_INVALPARAM;
    acm_prepared_header* p = find_prepared(s, h);
    if (!p)
        p = find_prepared(s, nullptr);
    if (!p)
        return MMSYSERR_NOMEM;
    *p = {h, h->src_length, h->dst_length};
    h->status = (h->status & ~ACMSTREAMHEADER_STATUSF_DONE) | ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

unsigned acm_stream_unprepare_header(acm_stream s, acm_stream_header* h, uint32_t flags)
{
    if (!is_live(s))
        return MMSYSERR_INVALHANDLE;
    if (!h || h->struct_size != sizeof(acm_stream_header))
        return MMSYSERR_INVALPARAM;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_UNPREPARE, &code))
        return code;
    acm_prepared_header* p = find_prepared(s, h);
    if (!p)
        return ACMERR_UNPREPARED;
    *p = {};
    h->status &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

unsigned acm_stream_convert(acm_stream s, acm_stream_header* h, uint32_t flags)
{
    constexpr uint32_t known = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
    if (!is_live(s))
        return MMSYSERR_INVALHANDLE;
    if (!h || h->struct_size != sizeof(acm_stream_header))
        return MMSYSERR_INVALPARAM;
    if (flags & ~known)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_CONVERT, &code))
        return code;
    acm_prepared_header* p = find_prepared(s, h);
    if (!p)
        return ACMERR_UNPREPARED;
    // Lengths may shrink after preparation (a short last buffer), never grow.
    if (h->src_length > p->src_length || h->dst_length > p->dst_length || !h->src || !h->dst)
        return MMSYSERR_INVALPARAM;

    h->status &= ~ACMSTREAMHEADER_STATUSF_DONE;
    h->src_length_used = 0;
    h->dst_length_used = 0;
    if (s->ended || ((flags & ACM_STREAMCONVERTF_START) && s->fed)) {
        s->codec->restart(s);
        s->fed = false;
        s->ended = false;
    }

    const uint32_t frame_bytes = s->src.fmt.block_align;
    const uint32_t frames = h->src_length / frame_bytes;
    const uint32_t whole = frames / s->frames_per_block;
    const uint32_t partial = frames % s->frames_per_block;   // frames past the last whole block
    const bool pad = partial && !(flags & ACM_STREAMCONVERTF_BLOCKALIGN);
    const uint32_t wanted = whole + (pad ? 1 : 0);
    const uint32_t fit = blocks_that_fit(s, wanted, h->dst_length);

    uint64_t made = 0;
    uint32_t taken = 0;
    const uint32_t whole_done = fit < whole ? fit : whole;
    if (whole_done) {
        int64_t n = s->codec->encode(s, h->src, whole_done, h->dst);
        if (n < 0)
            return ACMERR_NOTPOSSIBLE;
        made += uint64_t(n);
        taken += whole_done * s->src_block_bytes;
    }
    if (pad && fit == wanted) {
        // The short tail, made up to a whole block with silence.
        uint32_t tail = partial * frame_bytes;
        std::memcpy(s->pad_block, h->src + taken, tail);
        std::memset(s->pad_block + tail, 0, s->src_block_bytes - tail);
        s->sounding_frames = partial;
        int64_t n = s->codec->encode(s, s->pad_block, 1, h->dst + made);
        s->sounding_frames = s->frames_per_block;
        if (n < 0)
            return ACMERR_NOTPOSSIBLE;
        made += uint64_t(n);
        taken += tail;
    }
    if (fit)
        s->fed = true;
    if ((flags & ACM_STREAMCONVERTF_END) && fit == wanted) {
        if (s->codec->flush) {
            int64_t n = s->codec->flush(s, h->dst + made, uint32_t(h->dst_length - made));
            if (n < 0)
                return ACMERR_NOTPOSSIBLE;
            made += uint64_t(n);
        }
        s->ended = true;
    }
    h->src_length_used = taken;
    h->dst_length_used = uint32_t(made);
    h->status |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

unsigned acm_stream_reset(acm_stream s, uint32_t flags)
{
    if (!is_live(s))
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_RESET, &code))
        return code;
    return MMSYSERR_NOERROR;
}

unsigned acm_stream_close(acm_stream s, uint32_t flags)
{
    if (!is_live(s))
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    unsigned code;
    if (fails_now(ACM_CALL_CLOSE, &code))
        return code;
    for (acm_stream_object*& p : live)
        if (p == s)
            p = nullptr;
    free_stream(s);
    return MMSYSERR_NOERROR;
}
