// trackmill-batch demo-side OUT.wav: the demo record as a 44.1 kHz 16-bit
// stereo WAV file, and the start and end of each song in seconds.
#include <sys/stat.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "platform/sound/demo_record.h"
#include "tools/batch/batch.h"

namespace {

void put_le(uint8_t* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// The canonical 44-byte header of a 16-bit PCM stereo file of `frames`.
void wav_header(uint8_t* h, uint32_t frames)
{
    const uint32_t align = 2 * DEMO_CHANNELS;
    const uint32_t data = frames * align;
    std::memcpy(h, "RIFF", 4);
    put_le(h + 4, 36 + data, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);
    put_le(h + 20, 1, 2);                       // PCM
    put_le(h + 22, DEMO_CHANNELS, 2);
    put_le(h + 24, DEMO_RATE, 4);
    put_le(h + 28, DEMO_RATE * align, 4);
    put_le(h + 32, align, 2);
    put_le(h + 34, 16, 2);
    std::memcpy(h + 36, "data", 4);
    put_le(h + 40, data, 4);
}

// Writes the side to `path`; an error message, or empty on success.
std::string write_side(const char* path)
{
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return std::strerror(errno);
    uint8_t header[44];
    wav_header(header, demo_total_frames());
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;

    demo_record* record = demo_record_open();
    if (!record) {
        std::fclose(f);
        return "not enough memory";
    }
    constexpr uint32_t PIECE = 4096;
    std::vector<int16_t> samples(PIECE * DEMO_CHANNELS);
    std::vector<uint8_t> bytes(samples.size() * 2);
    while (ok) {
        uint32_t n = demo_record_render(record, samples.data(), PIECE);
        if (n == 0)
            break;
        for (size_t i = 0; i < size_t(n) * DEMO_CHANNELS; ++i)
            put_le(&bytes[2 * i], uint16_t(samples[i]), 2);
        ok = std::fwrite(bytes.data(), 2 * DEMO_CHANNELS, n, f) == n;
    }
    demo_record_close(record);
    int saved = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    return ok ? std::string() : std::strerror(saved);
}

int demo_side(int argc, char** argv)
{
    if (argc != 2 || !argv[1][0]) {
        std::fprintf(stderr, "usage: trackmill-batch demo-side OUT.wav\n");
        return BATCH_USAGE;
    }
    struct stat target;
    if (stat(argv[1], &target) == 0 && S_ISDIR(target.st_mode)) {
        std::fprintf(stderr, "trackmill-batch demo-side: %s: is a directory\n", argv[1]);
        return BATCH_FAILED;
    }
    // Written beside the target and renamed at the end, so a failed run
    // leaves neither a broken file nor a damaged older one.
    std::string part = std::string(argv[1]) + ".part";
    std::string error = write_side(part.c_str());
    if (error.empty() && std::rename(part.c_str(), argv[1]) != 0)
        error = std::strerror(errno);
    if (!error.empty()) {
        std::remove(part.c_str());
        std::fprintf(stderr, "trackmill-batch demo-side: %s: %s\n", argv[1], error.c_str());
        return BATCH_FAILED;
    }
    for (int i = 0; i < demo_song_count(); ++i) {
        demo_song s = demo_song_at(i);
        std::printf("%.3f %.3f\n", s.first_frame / double(DEMO_RATE), s.end_frame / double(DEMO_RATE));
    }
    return BATCH_DONE;
}

}  // namespace

BATCH_COMMAND("demo-side", "demo-side OUT.wav",
              "write the demo LP side as a WAV file; print each song's start and end (s)", demo_side);
