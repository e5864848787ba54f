// The material the codec tests and benchmark measure on, besides music: a
// speech-like voice, tape hiss and a square wave. Deterministic per seed.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>
#include "tests/support/music_signal.h"

namespace codec_signals {

inline double noise_unit(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return double(state >> 8) / 16777216.0 - 0.5;
}

inline int16_t to_sample(double x)
{
    return int16_t(std::lround(x > 32767 ? 32767 : x < -32768 ? -32768 : x));
}

// A voice: pulses at a gliding pitch through three formant resonators, in
// syllables of a quarter second with hissed consonants and short pauses.
inline std::vector<int16_t> speech(uint32_t rate, int channels, uint32_t frames, uint32_t seed = 1)
{
    std::vector<int16_t> out(size_t(frames) * channels);
    const double two_pi = 6.283185307179586;
    const double vowels[5][3] = {{730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480},
                                 {570, 840, 2410}, {300, 870, 2240}};
    for (int ch = 0; ch < channels; ++ch) {
        uint32_t noise = seed * 2654435761u + 977u * uint32_t(ch + 1);
        double y1[3] = {}, y2[3] = {};
        double phase = 0;
        const uint32_t syllable = rate / 4;
        for (uint32_t i = 0; i < frames; ++i) {
            uint32_t s = i / syllable + seed + uint32_t(ch);
            double t = double(i % syllable) / syllable;
            double pitch = 110.0 + 30.0 * std::sin(two_pi * double(i) / rate * 0.7) + 15.0 * (s % 3);
            phase += pitch / rate;
            double excitation = 0;
            if (phase >= 1.0) {
                phase -= 1.0;
                excitation = 1.0;
            }
            bool pause = s % 7 == 6;
            bool consonant = t < 0.18 && s % 2 == 0;
            double envelope = pause ? 0.0 : std::sin(3.141592653589793 * t);
            if (consonant)
                excitation = noise_unit(noise) * 0.6;
            double v = 0;
            const double* f = vowels[s % 5];
            for (int k = 0; k < 3; ++k) {
                double fk = f[k] < rate * 0.45 ? f[k] : rate * 0.45;
                double r = std::exp(-3.141592653589793 * (60.0 + 40.0 * k) / rate);
                double a1 = 2 * r * std::cos(two_pi * fk / rate), a2 = -r * r;
                double y = excitation * (1 - r) + a1 * y1[k] + a2 * y2[k];
                y2[k] = y1[k];
                y1[k] = y;
                v += y / (k + 1);
            }
            out[size_t(i) * channels + ch] = to_sample(v * envelope * 26000.0 + noise_unit(noise) * 6.0);
        }
    }
    return out;
}

// Tape hiss: white noise, lightly tilted towards the highs, about 20 dB
// below full scale.
inline std::vector<int16_t> hiss(uint32_t, int channels, uint32_t frames, uint32_t seed = 1)
{
    std::vector<int16_t> out(size_t(frames) * channels);
    uint32_t noise = seed * 2246822519u + 7u;
    double last[2] = {};
    for (size_t i = 0; i < out.size(); ++i) {
        double w = noise_unit(noise) * 2.0 * 5000.0;
        int ch = int(i % size_t(channels));
        out[i] = to_sample(w - 0.5 * last[ch]);
        last[ch] = w;
    }
    return out;
}

// A square wave at half scale, 441 Hz (a little higher in the second channel):
// flat runs and full-height edges.
inline std::vector<int16_t> square(uint32_t rate, int channels, uint32_t frames, uint32_t = 1)
{
    std::vector<int16_t> out(size_t(frames) * channels);
    for (int ch = 0; ch < channels; ++ch) {
        double f = 441.0 * (ch ? 1.25 : 1.0);
        for (uint32_t i = 0; i < frames; ++i)
            out[size_t(i) * channels + ch] = std::fmod(i * f / rate, 1.0) < 0.5 ? 16384 : -16384;
    }
    return out;
}

struct kind {
    const char* name;
    std::vector<int16_t> (*make)(uint32_t rate, int channels, uint32_t frames, uint32_t seed);
};
inline const kind kinds[] = {
    {"music", music_signal}, {"speech", speech}, {"hiss", hiss}, {"square", square}};

} // namespace codec_signals
