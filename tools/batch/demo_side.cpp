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
    const char* target = nullptr;
    bool overwrite = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf("usage: trackmill-batch demo-side OUT.wav [--overwrite]\n"
                        "Writes the demo side of a record (songs parted by quiet grooves, with hiss and\n"
                        "clicks) as a 44.1 kHz 16-bit stereo WAV file and prints each song's start and\n"
                        "end in seconds. An existing OUT.wav is kept unless --overwrite is given.\n");
            return BATCH_DONE;
        }
        if (!std::strcmp(argv[i], "--overwrite"))
            overwrite = true;
        else if (argv[i][0] == '-' && argv[i][1])
            return batch_usage(argv[0], (std::string("unknown option ") + argv[i]).c_str());
        else if (!target && argv[i][0])
            target = argv[i];
        else
            return batch_usage(argv[0], "one file name");
    }
    if (!target)
        return batch_usage(argv[0], "which file?");
    struct stat st;
    if (stat(target, &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "trackmill-batch demo-side: %s: is a directory\n", target);
        return BATCH_FAILED;
    }
    if (!batch_may_write("demo-side", target, overwrite))
        return BATCH_FAILED;
    // Written beside the target and renamed at the end, so a failed run
    // leaves neither a broken file nor a damaged older one.
    std::string part = std::string(target) + ".part";
    std::string error = write_side(part.c_str());
    if (error.empty() && std::rename(part.c_str(), target) != 0)
        error = std::strerror(errno);
    if (!error.empty()) {
        std::remove(part.c_str());
        std::fprintf(stderr, "trackmill-batch demo-side: %s: %s\n", target, error.c_str());
        return BATCH_FAILED;
    }
    for (int i = 0; i < demo_song_count(); ++i) {
        demo_song s = demo_song_at(i);
        std::printf("%.3f %.3f\n", s.first_frame / double(DEMO_RATE), s.end_frame / double(DEMO_RATE));
    }
    return BATCH_DONE;
}

}  // namespace

BATCH_COMMAND("demo-side", "demo-side OUT.wav [--overwrite]",
              "write the demo LP side as a WAV file; print each song's start and end (s)", demo_side);
