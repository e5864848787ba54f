// Encoding speed of every codec on 44.1 kHz stereo (GSM 6.10, mono only, on
// 44.1 kHz mono), as a recording converts: one stream, 8,192-byte buffers of
// whole codec blocks, each converted with block alignment. Prints the
// multiple of real time in CPU time (the machine is shared), best of 3.
// Goal: every codec far above real time, so a recording never falls behind.
//
// bench_codecs [SECONDS]   (default 60 seconds of music-like signal)
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>
#include "platform/acm/acm.h"
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
    return status;
}
