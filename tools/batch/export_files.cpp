// The tagged files of trackmill-batch export: a track's samples through
// libFLAC (verified as they are encoded) or LAME, with the record's tags.
#include "tools/batch/export_files.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <cstdio>
#include <lame/lame.h>
#include <vector>
#include "platform/system/byte_order.h"

namespace {
constexpr uint32_t CHUNK_FRAMES = 4096;   // frames read and encoded at a time

// One chunk of the track: its bytes as read and its samples.
struct chunk_buffers {
    uint8_t bytes[CHUNK_FRAMES * 4];
    int16_t samples[CHUNK_FRAMES * 2];
    FLAC__int32 wide[CHUNK_FRAMES * 2];
};

// Reads up to CHUNK_FRAMES whole frames of the data chunk into c->samples.
// The frame count; 0 at the end. A track whose file ends before its data
// chunk does is read as far as it goes and flagged.
uint32_t read_chunk(pcm_input* in, chunk_buffers* c, export_result* r)
{
    const uint32_t frame_bytes = in->format.fmt.block_align;
    uint32_t want = in->data_left / frame_bytes;
    if (want > CHUNK_FRAMES)
        want = CHUNK_FRAMES;
    if (want == 0)
        return 0;
    const uint32_t got = read_pcm_input(in, c->bytes, want * frame_bytes);
    if (got < want * frame_bytes) {
        r->input_cut_short = true;
        in->data_left = 0;
    } else {
        in->data_left -= want * frame_bytes;
    }
    const uint32_t frames = got / frame_bytes;
    const uint32_t samples = frames * in->format.fmt.channels;
    for (uint32_t i = 0; i < samples; ++i)
        c->samples[i] = load_le16_signed(c->bytes + 2 * i);
    r->frames += frames;
    return frames;
}

// UTF-16 with its byte-order mark, as LAME takes ID3v2 text; the text is
// checked as UTF-8 before it comes here.
std::vector<unsigned short> utf16_of(const std::string& text)
{
    std::vector<unsigned short> out{0xFEFF};
    for (size_t i = 0; i < text.size();) {
        const auto b = uint8_t(text[i]);
        const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        uint32_t code = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            code = code << 6 | (uint8_t(text[i + size_t(k)]) & 0x3F);
        i += size_t(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(uint16_t(0xD800 | code >> 10));
            out.push_back(uint16_t(0xDC00 | (code & 0x3FF)));
        } else {
            out.push_back(uint16_t(code));
        }
    }
    out.push_back(0);
    return out;
}

std::string flac_state(const FLAC__StreamEncoder* encoder)
{
    return FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(encoder)];
}
} // namespace

bool valid_utf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto b = uint8_t(text[i]);
        int extra;
        uint32_t code;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b < 0xE0) {
            extra = 1, code = b & 0x1F;
        } else if (b >= 0xE0 && b < 0xF0) {
            extra = 2, code = b & 0x0F;
        } else if (b >= 0xF0 && b < 0xF5) {
            extra = 3, code = b & 0x07;
        } else {
            return false;
        }
        if (i + size_t(extra) >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = uint8_t(text[i + size_t(k)]);
            if ((c & 0xC0) != 0x80)
                return false;
            code = code << 6 | (c & 0x3F);
        }
        // Overlong forms, surrogates and codes past U+10FFFF are not text.
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += size_t(extra) + 1;
    }
    return true;
}

export_result write_flac_file(pcm_input* in, const char* out_name, const export_tags& tags)
{
    export_result r;
    const wave_format& f = in->format.fmt;
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    FLAC__StreamMetadata* comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (!encoder || !comments) {
        r.failure = "out of memory";
    } else {
        const std::string number = std::to_string(tags.number);
        const std::pair<const char*, const std::string*> fields[] = {
            {"ARTIST", &tags.artist}, {"ALBUM", &tags.album}, {"TITLE", &tags.title},
            {"TRACKNUMBER", &number}, {"DATE", &tags.year}};
        for (const auto& [name, value] : fields) {
            FLAC__StreamMetadata_VorbisComment_Entry entry;
            if (value->empty())
                continue;
            if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name, value->c_str()) ||
                !FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, false)) {
                r.failure = std::string("the ") + name + " tag cannot be stored";
                break;
            }
        }
    }
    // Verify decodes every frame as it is made and compares it with the
    // track's samples, so a file that would not decode back is never kept.
    if (r.failure.empty() &&
        (!FLAC__stream_encoder_set_verify(encoder, true) || !FLAC__stream_encoder_set_compression_level(encoder, 5) ||
         !FLAC__stream_encoder_set_channels(encoder, f.channels) ||
         !FLAC__stream_encoder_set_bits_per_sample(encoder, 16) ||
         !FLAC__stream_encoder_set_sample_rate(encoder, f.samples_per_sec) ||
         !FLAC__stream_encoder_set_total_samples_estimate(encoder, in->data_left / f.block_align) ||
         !FLAC__stream_encoder_set_metadata(encoder, &comments, 1)))
        r.failure = "the FLAC encoder refused the settings (" + flac_state(encoder) + ")";
    if (r.failure.empty()) {
        FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_file(encoder, out_name, nullptr, nullptr);
        if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
            r.failure = std::string("the FLAC encoder cannot start: ") + FLAC__StreamEncoderInitStatusString[status];
    }
    if (r.failure.empty()) {
        static chunk_buffers c;
        bool ok = true;
        while (ok) {
            const uint32_t frames = read_chunk(in, &c, &r);
            if (frames == 0)
                break;
            for (uint32_t i = 0; i < frames * f.channels; ++i)
                c.wide[i] = c.samples[i];
            ok = FLAC__stream_encoder_process_interleaved(encoder, c.wide, frames);
        }
        if (!ok)
            r.failure = "FLAC encoding failed: " + flac_state(encoder);
        // Finishing writes the stream's length into its header and closes
        // the file; a verify mismatch or a full disk shows here too.
        if (!FLAC__stream_encoder_finish(encoder) && r.failure.empty())
            r.failure = "FLAC encoding failed: " + flac_state(encoder);
    }
    if (comments)
        FLAC__metadata_object_delete(comments);
    if (encoder)
        FLAC__stream_encoder_delete(encoder);
    return r;
}

export_result write_mp3_file(pcm_input* in, const char* out_name, const export_tags& tags)
{
    export_result r;
    const wave_format& f = in->format.fmt;
    FILE* out = std::fopen(out_name, "r+b");
    lame_global_flags* gf = lame_init();
    if (!out || !gf) {
        r.failure = out ? "out of memory" : std::string("cannot open ") + out_name;
        if (gf)
            lame_close(gf);
        if (out)
            std::fclose(out);
        return r;
    }
    // Variable bit rate at LAME's quality 2, with the tag frame that tells
    // players the length and the encoder's delay and padding, so that the
    // track plays gapless into the next.
    lame_set_num_channels(gf, f.channels);
    lame_set_in_samplerate(gf, int(f.samples_per_sec));
    lame_set_mode(gf, f.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(gf, vbr_default);
    lame_set_VBR_quality(gf, 2.0f);
    lame_set_bWriteVbrTag(gf, 1);
    lame_set_write_id3tag_automatic(gf, 0);
    id3tag_init(gf);
    id3tag_v2_only(gf);
    const std::string number = std::to_string(tags.number);
    const std::pair<const char*, const std::string*> fields[] = {
        {"TPE1", &tags.artist}, {"TALB", &tags.album}, {"TIT2", &tags.title}, {"TRCK", &number}, {"TYER", &tags.year}};
    for (const auto& [id, value] : fields) {
        if (!value->empty() && id3tag_set_textinfo_utf16(gf, id, utf16_of(*value).data()) != 0) {
            r.failure = std::string("the ") + id + " tag cannot be stored";
            break;
        }
    }
    if (r.failure.empty() && lame_init_params(gf) < 0)
        r.failure = "LAME cannot encode " + std::to_string(f.samples_per_sec) + " Hz";
    static unsigned char mp3[CHUNK_FRAMES * 5 / 4 + 7200];
    long frames_at = 0;   // where LAME's tag frame goes once the length is known
    if (r.failure.empty()) {
        std::vector<unsigned char> id3(lame_get_id3v2_tag(gf, nullptr, 0));
        if (!id3.empty() && lame_get_id3v2_tag(gf, id3.data(), id3.size()) != id3.size())
            r.failure = "the ID3v2 tag cannot be made";
        else if (std::fwrite(id3.data(), 1, id3.size(), out) != id3.size())
            r.failure = std::string("writing ") + out_name + " failed (disk full?)";
        frames_at = long(id3.size());
    }
    if (r.failure.empty()) {
        static chunk_buffers c;
        for (;;) {
            const uint32_t frames = read_chunk(in, &c, &r);
            int made = frames == 0 ? lame_encode_flush(gf, mp3, int(sizeof mp3))
                       : f.channels == 1
                           ? lame_encode_buffer(gf, c.samples, c.samples, int(frames), mp3, int(sizeof mp3))
                           : lame_encode_buffer_interleaved(gf, c.samples, int(frames), mp3, int(sizeof mp3));
            if (made < 0) {
                r.failure = "MP3 encoding failed (LAME error " + std::to_string(made) + ")";
                break;
            }
            if (std::fwrite(mp3, 1, size_t(made), out) != size_t(made)) {
                r.failure = std::string("writing ") + out_name + " failed (disk full?)";
                break;
            }
            if (frames == 0)
                break;
        }
    }
    if (r.failure.empty()) {
        const size_t tag = lame_get_lametag_frame(gf, mp3, sizeof mp3);
        if (tag > sizeof mp3 || std::fseek(out, frames_at, SEEK_SET) != 0 ||
            std::fwrite(mp3, 1, tag, out) != tag)
            r.failure = std::string("writing ") + out_name + " failed (its length frame)";
    }
    lame_close(gf);
    if (std::fclose(out) != 0 && r.failure.empty())
        r.failure = std::string("writing ") + out_name + " failed (disk full?)";
    return r;
}
