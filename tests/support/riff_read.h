// A reader of WAV files through the RIFF layer, as the cleaning driver
// walks them: the first error and where, else the format and every data byte.
#pragma once
#include <algorithm>
#include <string>
#include "platform/file/riff.h"
#include "tests/support/riff_bytes.h"

// What a reader of a WAV file gets, step by step: the first error met and
// where, else the format bytes and every data byte read to the clean end.
struct read_result {
    std::string failed_at;   // "" when the whole file read
    unsigned error = 0;
    uint32_t data_size = 0;
    bytes format;
    bytes data;
};

inline read_result read_wave(const std::string& name)
{
    read_result r;
    riff_info info = {};
    riff_file f = riff_open(name.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
    if (!f) {
        r.failed_at = "open";
        r.error = info.error;
        return r;
    }
    auto fail = [&](const char* step, unsigned code) {
        r.failed_at = step;
        r.error = code;
        riff_close(f);
        return r;
    };
    riff_chunk riff = {}, ck = {};
    if (unsigned e = riff_descend(f, &riff, nullptr, 0))
        return fail("riff", e);
    if (riff.id != FOURCC_RIFF || riff.form_type != FOURCC_WAVE)
        return fail("riff", MMIOERR_INVALIDFILE);
    ck.id = FOURCC_FMT;
    if (unsigned e = riff_descend(f, &ck, &riff, MMIO_FINDCHUNK))
        return fail("fmt", e);
    r.format.resize(std::min<uint32_t>(ck.size, 1024));
    if (riff_read(f, r.format.data(), int32_t(r.format.size())) != int32_t(r.format.size()))
        return fail("fmt read", MMIOERR_CANNOTREAD);
    if (unsigned e = riff_ascend(f, &ck, 0))
        return fail("fmt ascend", e);
    ck.id = FOURCC_DATA;
    if (unsigned e = riff_descend(f, &ck, &riff, MMIO_FINDCHUNK))
        return fail("data", e);
    r.data_size = ck.size;
    // Read as a pass does, through the buffer, bounded by the chunk's size.
    riff_info st = {};
    riff_get_info(f, &st);
    uint64_t left = ck.size;
    for (int guard = 0; left > 0 && guard < 100000; ++guard) {
        if (st.next >= st.end_read) {
            if (unsigned e = riff_advance(f, &st, MMIO_READ))
                return fail("advance", e);
            if (st.next >= st.end_read)
                break;   // clean end of data
        }
        size_t n = std::min<uint64_t>(left, uint64_t(st.end_read - st.next));
        r.data.insert(r.data.end(), st.next, st.next + n);
        st.next += n;
        left -= n;
    }
    riff_set_info(f, &st);
    riff_close(f);
    return r;
}

