// What the virtual sound card plays into its input: a 16-bit PCM WAV file
// read piece by piece, or the demo record rendered as it goes.
//
// Threads: a source belongs to one thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class pcm_source {
public:
    virtual ~pcm_source() = default;
    virtual uint32_t rate() const = 0;      // frames per second
    virtual int channels() const = 0;       // 1 or 2
    // Reads up to `frames` interleaved frames; fewer only at the end of the
    // source (0 from then on, also after a read error).
    virtual uint32_t read(int16_t* out, uint32_t frames) = 0;
    // Moves on up to `frames` frames without reading them out; returns the
    // frames passed (fewer only at the end).
    virtual uint64_t skip(uint64_t frames) = 0;
};

// Opens a RIFF/WAVE file of 16-bit PCM, 1 or 2 channels. Null with a
// sentence in *error when it cannot be opened or is not such a file.
std::unique_ptr<pcm_source> open_wav_source(const char* path, std::string* error);
// The demo record from its first frame. With `repeat` it never ends: the
// side starts again after its lead-out, so the lead-out and the lead-in make
// a few seconds of quiet groove between one pass and the next.
std::unique_ptr<pcm_source> open_demo_source(std::string* error, bool repeat = false);
