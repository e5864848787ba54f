// Encoding speed of every codec on 44.1 kHz stereo (GSM 6.10, mono only, on
// 44.1 kHz mono), as a recording converts: one stream, 8,192-byte buffers of
// whole codec blocks, each converted with block alignment. Prints the
// multiple of real time in CPU time (the machine is shared), best of 3.
// Goal: every codec far above real time, so a recording never falls behind.
//
// Then ours against the programs people would use instead, sox and ffmpeg,
// on the stored formats both write: each encodes the same material (music,
// speech, hiss, a square wave at several rates), each file is decoded by
// both programs, and the table gives the SNR on either decoder, the worse
// of the two, and the encoder's speed (x real time in CPU time, process
// start included; ours through trackmill-batch encode). The last columns:
// our worse SNR less the best peer's worse one, and our speed over the
// fastest peer's. Goals: ADPCM (tag 2) the same samples from both decoders
// and no worse than ffmpeg's encoder; IMA ADPCM's worse decoding no worse
// than the best peer's; both ADPCM encoders over 300x real time on music.
//
// bench_codecs [SECONDS]   (default 60 seconds of music-like signal; the
//                           comparison uses a third of it, at least 5 s)
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>
#include "platform/acm/acm.h"
#include "tests/acm/codec_signals.h"
#include "tests/support/music_signal.h"

namespace {
constexpr int RUNS = 3;

double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Encodes the signal once; CPU seconds taken, bytes made in *made.
double encode_once(const format_area& dst, const std::vector<int16_t>& signal, uint64_t* made)
{
    format_area src = {};
    if (acm_format_suggest(&dst.fmt, &src.fmt, FORMAT_AREA_BYTES, 0) != 0)
        return -1;
    uint32_t block = acm_source_block_bytes(&dst.fmt);
    uint32_t buffer = block >= 8192 ? block : 8192 / block * block;
    acm_stream s = nullptr;
    if (acm_stream_open(&s, &src.fmt, &dst.fmt, 0) != 0)
        return -1;
    uint32_t room = 0;
    acm_stream_size(s, buffer, &room, ACM_STREAMSIZEF_SOURCE);
    std::vector<uint8_t> out(room);
    acm_stream_header h = {};
    h.struct_size = sizeof h;
    h.src = const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(signal.data()));
    h.src_length = buffer;
    h.dst = out.data();
    h.dst_length = room;
    acm_stream_prepare_header(s, &h, 0);
    const size_t total = signal.size() * 2;
    *made = 0;
    double start = cpu_seconds();
    for (size_t pos = 0; pos + buffer <= total; pos += buffer) {
        h.src = const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(signal.data())) + pos;
        if (acm_stream_convert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN) != 0)
            return -1;
        *made += h.dst_length_used;
    }
    double taken = cpu_seconds() - start;
    h.src = const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(signal.data()));
    acm_stream_unprepare_header(s, &h, 0);
    acm_stream_close(s, 0);
    return taken;
}
// --- against sox and ffmpeg ------------------------------------------------
struct peer_row {
    double sox_db = 0, ffmpeg_db = 0, speed = 0;
    bool same = false;   // both decoders gave the same samples
    bool ok = false;
    double worse() const { return std::min(sox_db, ffmpeg_db); }
};

void put32(FILE* f, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        std::fputc(int(v >> (8 * i)) & 255, f);
}
void put16(FILE* f, uint32_t v)
{
    std::fputc(int(v) & 255, f);
    std::fputc(int(v >> 8) & 255, f);
}

bool write_pcm_wav(const std::string& path, uint32_t rate, int channels, const std::vector<int16_t>& samples)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t bytes = uint32_t(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);
    put16(f, uint32_t(channels));
    put32(f, rate);
    put32(f, rate * uint32_t(channels) * 2);
    put16(f, uint32_t(channels) * 2);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, bytes);
    std::fwrite(samples.data(), 2, samples.size(), f);
    return std::fclose(f) == 0;
}

std::vector<int16_t> read_raw(const std::string& path)
{
    std::vector<int16_t> v;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return v;
    int16_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 2, 4096, f)) > 0)
        v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

double children_cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

bool run_quietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// SNR of the decoded samples against the input over the input's length; a
// decoding that is short counts its missing samples as errors.
double snr_db(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec)
{
    double signal = 0, noise = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
        const double x = ref[i], y = i < dec.size() ? dec[i] : 0;
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    return noise > 0 ? 10 * std::log10(signal / noise) : 200;
}

// Encodes in.wav with `command` (printf pattern: input, output), timed in
// CPU time, then decodes the file with both programs.
peer_row measure(const std::string& dir, const char* command, const std::vector<int16_t>& ref, double seconds)
{
    peer_row row;
    const std::string in = dir + "/in.wav", out = dir + "/out.wav";
    char text[1024];
    std::snprintf(text, sizeof text, command, in.c_str(), out.c_str());
    std::remove(out.c_str());
    const double before = children_cpu_seconds();
    if (!run_quietly(text))
        return row;
    const double taken = children_cpu_seconds() - before;
    row.speed = seconds / std::max(taken, 1e-6);
    if (!run_quietly("sox '" + out + "' -t raw -e signed-integer -b 16 -L '" + dir + "/sox.raw'") ||
        !run_quietly("ffmpeg -v error -y -i '" + out + "' -f s16le '" + dir + "/ffmpeg.raw'"))
        return row;
    const std::vector<int16_t> by_sox = read_raw(dir + "/sox.raw"), by_ffmpeg = read_raw(dir + "/ffmpeg.raw");
    const size_t n = std::min({by_sox.size(), by_ffmpeg.size(), ref.size()});
    row.same = std::equal(by_sox.begin(), by_sox.begin() + long(n), by_ffmpeg.begin());
    row.sox_db = snr_db(ref, by_sox);
    row.ffmpeg_db = snr_db(ref, by_ffmpeg);
    row.ok = true;
    return row;
}

struct stored_format {
    const char* ours;      // our spelling without rate and channels
    const char* sox;       // sox's encoding option
    const char* ffmpeg;    // ffmpeg's codec
    bool companding;       // sample by sample, alike on any material: music only
};
const stored_format compared_formats[] = {
    {"adpcm", "-e ms-adpcm", "adpcm_ms", false},
    {"ima-adpcm", "-e ima-adpcm", "adpcm_ima_wav", false},
    {"alaw", "-e a-law", "pcm_alaw", true},
    {"mulaw", "-e u-law", "pcm_mulaw", true},
};
struct material {
    int kind;   // in codec_signals::kinds
    uint32_t rate;
    int channels;
};
const material materials[] = {
    {0, 44100, 2}, {0, 8000, 1},  {1, 16000, 1}, {1, 22050, 2}, {2, 48000, 2},
    {2, 22050, 1}, {3, 8000, 1}, {3, 48000, 2},
};

int compare_with_peers(double seconds)
{
    if (!run_quietly("sox --version") || !run_quietly("ffmpeg -version")) {
        std::printf("\nsox or ffmpeg is missing (scripts/install-deps installs them): no comparison\n");
        return 0;
    }
    char tmpl[] = "/tmp/bench-codecs-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::fprintf(stderr, "bench_codecs: no scratch directory\n");
        return 1;
    }
    const std::string dir = tmpl;
    std::printf("\n%.0f s of each material; SNR in dB decoded by sox / by ffmpeg / the worse; speed x real time\n",
                seconds);
    std::printf("%-22s %-7s | %-27s | %-27s | %-27s | %6s %6s\n", "format", "signal", "ours (trackmill-batch)",
                "sox", "ffmpeg", "dB", "speed");
    int status = 0;
    for (const stored_format& f : compared_formats) {
        for (const material& m : materials) {
            if (f.companding && !(m.kind == 0 && m.rate == 44100))
                continue;
            const codec_signals::kind& kind = codec_signals::kinds[m.kind];
            const std::vector<int16_t> signal = kind.make(m.rate, m.channels, uint32_t(m.rate * seconds), 1);
            if (!write_pcm_wav(dir + "/in.wav", m.rate, m.channels, signal))
                return 1;
            char spelling[64], ours[1200], sox[256], ffmpeg[256];
            std::snprintf(spelling, sizeof spelling, "%s,%u,%d", f.ours, unsigned(m.rate), m.channels);
            std::snprintf(ours, sizeof ours, "'%s' encode '%%s' '%%s' --format=%s", TM_BATCH_PROGRAM, spelling);
            std::snprintf(sox, sizeof sox, "sox '%%s' %s '%%s'", f.sox);
            std::snprintf(ffmpeg, sizeof ffmpeg, "ffmpeg -v error -y -i '%%s' -c:a %s '%%s'", f.ffmpeg);
            const peer_row rows[3] = {measure(dir, ours, signal, seconds), measure(dir, sox, signal, seconds),
                                      measure(dir, ffmpeg, signal, seconds)};
            std::printf("%-22s %-7s", spelling, kind.name);
            for (const peer_row& r : rows) {
                if (r.ok)
                    std::printf(" | %5.2f/%5.2f/%5.2f%c %6.0fx", r.sox_db, r.ffmpeg_db, r.worse(), r.same ? '=' : ' ',
                                r.speed);
                else
                    std::printf(" | %-27s", "failed");
            }
            if (!rows[0].ok)
                status = 1;
            const double best_peer = std::max(rows[1].ok ? rows[1].worse() : -1e9, rows[2].ok ? rows[2].worse() : -1e9);
            const double fastest = std::max(rows[1].speed, rows[2].speed);
            std::printf(" | %+6.2f %5.2fx\n", rows[0].worse() - best_peer, fastest > 0 ? rows[0].speed / fastest : 0);
        }
    }
    std::printf("(= : both decoders gave the same samples)\n");
    std::system(("rm -rf '" + dir + "'").c_str());
    return status;
}
} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_codecs [SECONDS]\n");
        return 2;
    }
    const std::vector<int16_t> stereo = music_signal(44100, 2, 44100u * seconds);
    const std::vector<int16_t> mono = music_signal(44100, 1, 44100u * seconds);
    const char* spellings[] = {"pcm,44100,2,16", "adpcm,44100,2", "ima-adpcm,44100,2", "alaw,44100,2",
                               "mulaw,44100,2", "gsm,44100,1", "mp3,44100,2,128", "mp3,44100,2,320"};
    std::printf("%d s of 44.1 kHz audio per run, best of %d (CPU time)\n", seconds, RUNS);
    std::printf("%-20s %12s %14s\n", "format", "x real time", "bytes/s out");
    int status = 0;
    for (const char* spelling : spellings) {
        format_area dst;
        char why[160];
        if (acm_parse_spelling(spelling, &dst, why, sizeof why) != 0) {
            std::fprintf(stderr, "%s\n", why);
            return 1;
        }
        const std::vector<int16_t>& signal = dst.fmt.channels == 2 ? stereo : mono;
        double best = 1e9;
        uint64_t made = 0;
        for (int run = 0; run < RUNS; ++run) {
            double t = encode_once(dst, signal, &made);
            if (t < 0) {
                std::fprintf(stderr, "%s: the stream failed\n", spelling);
                status = 1;
                break;
            }
            best = t < best ? t : best;
        }
        if (best < 1e9)
            std::printf("%-20s %12.0f %14.0f\n", spelling, seconds / (best > 1e-9 ? best : 1e-9),
                        double(made) / seconds);
    }
    if (compare_with_peers(std::max(5.0, seconds / 3.0)) != 0)
        status = 1;
    return status;
}
