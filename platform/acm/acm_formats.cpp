// The manager's knowledge of formats: the tag table, descriptions and
// spellings, the chooser's list and the suggestion of a matching format.
#include "platform/acm/acm.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "platform/acm/codec.h"
#include "platform/window/window.h"

namespace {
// The chooser's order: plain PCM first, then the codecs from the smallest
// loss to the smallest files.
const acm_codec* const codecs[] = {
    &codec_pcm, &codec_adpcm, &codec_ima_adpcm, &codec_alaw, &codec_mulaw, &codec_gsm, &codec_mp3,
};
constexpr int CODEC_COUNT = int(sizeof codecs / sizeof codecs[0]);

int format_text(char* out, int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int format_text(char* out, int size, const char* fmt, ...)
{
    if (!out || size <= 0)
        return 0;
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(out, size_t(size), fmt, args);
    va_end(args);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return n < size ? n : size - 1;
}

void set_why(char* why, int why_size, const char* text)
{
    format_text(why, why_size, "%s", text);
}

// Builds the codec's standard format for f's rate, channels and extra.
bool make_like(const acm_codec* c, const wave_format* f, format_area* out)
{
    std::memset(out, 0, sizeof *out);
    return c->make_format(out, f->samples_per_sec, f->channels, c->extra_of(f)) == 0;
}
} // namespace

const acm_codec* acm_codec_for_tag(uint16_t tag)
{
    for (const acm_codec* c : codecs)
        if (c->tag == tag)
            return c;
    return nullptr;
}

bool acm_rate_listed(uint32_t rate)
{
    for (uint32_t r : acm_rates)
        if (r == rate)
            return true;
    return false;
}

int acm_tag_count() { return CODEC_COUNT; }

uint16_t acm_tag_at(int index)
{
    return index >= 0 && index < CODEC_COUNT ? codecs[index]->tag : 0;
}

const char* acm_tag_name(uint16_t tag)
{
    const acm_codec* c = acm_codec_for_tag(tag);
    return c ? c->tag_name : nullptr;
}

int acm_format_bytes(const wave_format* f)
{
    return f ? int(sizeof(wave_format)) + f->cb_size : 0;
}

bool acm_format_known(const wave_format* f)
{
    if (!f)
        return false;
    const acm_codec* c = acm_codec_for_tag(f->format_tag);
    if (!c)
        return false;
    format_area made;
    if (!make_like(c, f, &made))
        return false;
    if (c == &codec_pcm) {
        // A PCM record may come from anywhere (a device, an older file):
        // any rate will do as long as its sizes agree with themselves.
        return f->block_align == made.fmt.block_align && f->avg_bytes_per_sec == made.fmt.avg_bytes_per_sec;
    }
    if (f->cb_size != made.fmt.cb_size)
        return false;
    return std::memcmp(f, &made, size_t(acm_format_bytes(&made.fmt))) == 0;
}

uint32_t acm_source_block_bytes(const wave_format* f)
{
    if (!acm_format_known(f))
        return 0;
    return acm_codec_for_tag(f->format_tag)->frames_per_block(f) * 2u * f->channels;
}

int acm_format_description(const wave_format* f, char* out, int size)
{
    if (out && size > 0)
        out[0] = '\0';
    if (!f || !acm_codec_for_tag(f->format_tag))
        return 0;
    uint32_t r = f->samples_per_sec;
    const char* layout = f->channels == 1 ? "Mono" : f->channels == 2 ? "Stereo" : "Multichannel";
    switch (f->format_tag) {
    case WAVE_FORMAT_MPEGLAYER3:
        return format_text(out, size, "%u kBit/s, %u.%03u kHz, %s", unsigned(f->avg_bytes_per_sec / 125),
                           unsigned(r / 1000), unsigned(r % 1000), layout);
    case WAVE_FORMAT_GSM610:
        return format_text(out, size, "%u.%03u kHz, %s", unsigned(r / 1000), unsigned(r % 1000), layout);
    default:
        return format_text(out, size, "%u.%03u kHz, %u Bit, %s", unsigned(r / 1000), unsigned(r % 1000),
                           unsigned(f->bits_per_sample), layout);
    }
}

int acm_format_spelling(const wave_format* f, char* out, int size)
{
    if (out && size > 0)
        out[0] = '\0';
    if (!f)
        return 0;
    const acm_codec* c = acm_codec_for_tag(f->format_tag);
    if (!c)
        return 0;
    if (c->extras)
        return format_text(out, size, "%s,%u,%u,%d", c->spelling, unsigned(f->samples_per_sec),
                           unsigned(f->channels), c->extra_of(f));
    return format_text(out, size, "%s,%u,%u", c->spelling, unsigned(f->samples_per_sec), unsigned(f->channels));
}

int acm_parse_spelling(const char* text, format_area* out, char* why, int why_size)
{
    if (why && why_size > 0)
        why[0] = '\0';
    if (!out) {
        set_why(why, why_size, "no room for the format");
        return -1;
    }
    std::memset(out, 0, sizeof *out);
    if (!text || !*text) {
        set_why(why, why_size, "empty format; expected TAG,RATE,CHANNELS[,EXTRA]");
        return -1;
    }
    char copy[64];
    if (std::strlen(text) >= sizeof copy) {
        set_why(why, why_size, "format spelling too long; expected TAG,RATE,CHANNELS[,EXTRA]");
        return -1;
    }
    std::strcpy(copy, text);

    // Split at commas; every field must be present and non-empty.
    char* fields[5] = {};
    int count = 0;
    for (char* p = copy;;) {
        if (count == 5)
            break;
        fields[count++] = p;
        char* comma = std::strchr(p, ',');
        if (!comma)
            break;
        *comma = '\0';
        p = comma + 1;
    }
    if (count < 3 || count > 4) {
        format_text(why, why_size, "'%s': expected TAG,RATE,CHANNELS[,EXTRA]", text);
        return -1;
    }
    const acm_codec* codec = nullptr;
    for (const acm_codec* c : codecs)
        if (!std::strcmp(fields[0], c->spelling))
            codec = c;
    if (!codec) {
        format_text(why, why_size, "unknown format tag '%s' (one of pcm, adpcm, ima-adpcm, alaw, mulaw, gsm, mp3)",
                    fields[0]);
        return -1;
    }
    long numbers[3] = {0, 0, 0};
    for (int i = 1; i < count; ++i) {
        char* end = nullptr;
        const char* s = fields[i];
        if (!*s || *s < '0' || *s > '9') {
            format_text(why, why_size, "'%s': '%s' is not a number", text, s);
            return -1;
        }
        numbers[i - 1] = std::strtol(s, &end, 10);
        if (*end || numbers[i - 1] > 1000000) {
            format_text(why, why_size, "'%s': '%s' is not a number", text, s);
            return -1;
        }
    }
    bool wants_extra = codec->extras != nullptr;
    if (wants_extra && count != 4) {
        format_text(why, why_size, "'%s': %s needs a fourth field (%s)", text, codec->spelling,
                    codec == &codec_mp3 ? "kbit/s" : "bits per sample");
        return -1;
    }
    if (!wants_extra && count != 3) {
        format_text(why, why_size, "'%s': %s takes no fourth field", text, codec->spelling);
        return -1;
    }
    if (numbers[1] != 1 && numbers[1] != 2) {
        format_text(why, why_size, "'%s': channels must be 1 or 2", text);
        return -1;
    }
    if (!acm_rate_listed(uint32_t(numbers[0]))) {
        format_text(why, why_size, "'%s': rate must be one of 8000, 11025, 16000, 22050, 32000, 44100, 48000", text);
        return -1;
    }
    if (codec->make_format(out, uint32_t(numbers[0]), int(numbers[1]), int(numbers[2])) != 0) {
        std::memset(out, 0, sizeof *out);
        format_text(why, why_size, "'%s': %s does not offer this rate, channel count or %s", text,
                    codec->tag_name, codec == &codec_mp3 ? "bit rate" : codec == &codec_pcm ? "sample size" : "layout");
        return -1;
    }
    return 0;
}

namespace {
struct choice_store {
    format_choice choice;
    char description[48];
    char spelling[32];
    format_area format;
};
choice_store* store = nullptr;
format_choice* choice_list = nullptr;
int choice_count = 0;

void add_choice(const acm_codec* c, const format_area& f)
{
    choice_store& e = store[choice_count];
    e.format = f;
    acm_format_description(&f.fmt, e.description, int(sizeof e.description));
    acm_format_spelling(&f.fmt, e.spelling, int(sizeof e.spelling));
    choice_list[choice_count] = {c->tag_name, e.description, e.spelling, e.format.bytes,
                                 acm_format_bytes(&f.fmt)};
    ++choice_count;
}

void build_choices()
{
    // Count first, so that the list is one allocation for the run. Within a
    // tag the list goes by rate, then by extra, then mono before stereo.
    int total = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (const acm_codec* c : codecs) {
            int extra_count = 1;
            if (c->extras)
                for (extra_count = 0; c->extras[extra_count];)
                    ++extra_count;
            for (uint32_t rate : acm_rates) {
                for (int e = 0; e < extra_count; ++e) {
                    for (int ch = 1; ch <= 2; ++ch) {
                        format_area f = {};
                        if (c->make_format(&f, rate, ch, c->extras ? c->extras[e] : 0) != 0)
                            continue;
                        if (pass == 0)
                            ++total;
                        else
                            add_choice(c, f);
                    }
                }
            }
        }
        if (pass == 0) {
            store = static_cast<choice_store*>(std::calloc(size_t(total), sizeof(choice_store)));
            choice_list = static_cast<format_choice*>(std::calloc(size_t(total), sizeof(format_choice)));
            if (!store || !choice_list) {
                std::free(store);
                std::free(choice_list);
                store = nullptr;
                choice_list = nullptr;
                return;
            }
        }
    }
}
} // namespace

int acm_format_choices(const format_choice** out)
{
    if (!choice_list)
        build_choices();
    if (out)
        *out = choice_list;
    return choice_list ? choice_count : 0;
}

unsigned acm_format_suggest(const wave_format* src, wave_format* dst, uint32_t dst_bytes, uint32_t flags)
{
    constexpr uint32_t known_flags = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                     ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    if (!src || !dst)
        return MMSYSERR_INVALPARAM;
    if (flags & ~known_flags)
        return MMSYSERR_INVALFLAG;
    if (!acm_format_known(src))
        return ACMERR_NOTPOSSIBLE;

    const bool src_pcm = src->format_tag == WAVE_FORMAT_PCM;
    uint16_t tag = flags & ACM_FORMATSUGGESTF_WFORMATTAG ? dst->format_tag : uint16_t(WAVE_FORMAT_PCM);
    uint32_t rate = flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC ? dst->samples_per_sec : src->samples_per_sec;
    int channels = flags & ACM_FORMATSUGGESTF_NCHANNELS ? dst->channels : src->channels;
    int bits = flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE ? dst->bits_per_sample
               : tag == WAVE_FORMAT_PCM && src_pcm ? src->bits_per_sample
                                                   : 16;
    // Nothing here changes a rate or a channel count.
    if (rate != src->samples_per_sec || channels != src->channels)
        return ACMERR_NOTPOSSIBLE;

    format_area made = {};
    if (tag == WAVE_FORMAT_PCM) {
        if (src_pcm && bits == src->bits_per_sample)
            std::memcpy(&made, src, sizeof(wave_format));   // a PCM format plays as itself
        else if (bits != 16 || (src_pcm && src->bits_per_sample != 16))
            return ACMERR_NOTPOSSIBLE;                       // only 16-bit PCM feeds the codecs
        else if (codec_pcm.make_format(&made, rate, channels, 16) != 0)
            return ACMERR_NOTPOSSIBLE;
        made.fmt.cb_size = 0;
    } else {
        const acm_codec* c = acm_codec_for_tag(tag);
        if (!c || !src_pcm || src->bits_per_sample != 16)
            return ACMERR_NOTPOSSIBLE;
        int extra = c == &codec_mp3 ? 128 : 0;
        if (c->make_format(&made, rate, channels, extra) != 0)
            return ACMERR_NOTPOSSIBLE;
        if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && bits != made.fmt.bits_per_sample)
            return ACMERR_NOTPOSSIBLE;
    }
    uint32_t need = uint32_t(acm_format_bytes(&made.fmt));
    if (dst_bytes < need)
        return MMSYSERR_INVALPARAM;
    std::memcpy(dst, &made, need);
    return MMSYSERR_NOERROR;
}
