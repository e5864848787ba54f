// A music-like test signal for codec tests and benchmarks: a changing chord
// of notes with decaying harmonics, note attacks, vibrato and a little noise,
// different in each channel. Deterministic for a given seed.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

inline std::vector<int16_t> music_signal(uint32_t rate, int channels, uint32_t frames, uint32_t seed = 1)
{
    std::vector<int16_t> out(size_t(frames) * channels);
    const double notes[] = {196.0, 246.9, 293.7, 329.6, 392.0, 440.0, 523.3, 587.3, 659.3, 784.0};
    const double two_pi = 6.283185307179586;
    uint32_t noise = seed * 2654435761u + 12345u;
    const uint32_t note_frames = rate / 4;   // a new chord every quarter second
    for (int ch = 0; ch < channels; ++ch) {
        double phase[4][6] = {};
        for (uint32_t i = 0; i < frames; ++i) {
            uint32_t bar = i / note_frames;
            double t_in_note = double(i % note_frames) / rate;
            double attack = 1.0 - std::exp(-t_in_note * 200.0);
            double envelope = attack * std::exp(-t_in_note * 3.0);
            double vibrato = 1.0 + 0.003 * std::sin(two_pi * 5.0 * i / rate);
            double v = 0;
            for (int voice = 0; voice < 4; ++voice) {
                double f0 = notes[(bar * 3 + voice * 2 + ch + seed) % 10] * (voice == 0 ? 0.5 : 1.0);
                for (int h = 0; h < 6; ++h) {
                    double f = f0 * (h + 1) * vibrato;
                    if (f > rate * 0.42)
                        break;
                    phase[voice][h] += two_pi * f / rate;
                    v += std::sin(phase[voice][h]) / ((h + 1) * (h + 1) * (h + 1.5));
                }
            }
            noise = noise * 1664525u + 1013904223u;
            double n = (double(noise >> 8) / 16777216.0 - 0.5) * 0.002;
            double x = (0.25 * v * (0.3 + 0.7 * envelope) + n) * 20000.0;
            if (x > 32767)
                x = 32767;
            if (x < -32768)
                x = -32768;
            out[size_t(i) * channels + ch] = int16_t(std::lround(x));
        }
    }
    return out;
}
