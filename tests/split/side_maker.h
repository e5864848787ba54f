// Sides made like real records and tapes for the splitter's tests and its
// benchmark: songs with known edges over hiss, hum, rumble and crackle.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace side_maker {

struct song_plan {
    double seconds = 30;
    double gain = 1;                // 1: a mean level of about 3000
    double fade_in = 0.02;          // s from silence to full level
    double fade_out = 0.05;         // s from full level to silence at the end
    double pianissimo_at = -1;      // s into the song; -1: none
    double pianissimo_seconds = 3;
    double pianissimo_gain = 0.06;
};

struct side_plan {
    uint32_t rate = 8000;
    int channels = 1;
    double lead_in = 3;             // s of groove before the first song
    double run_out = 6;             // s of groove after the last
    std::vector<song_plan> songs;
    std::vector<double> gaps;       // s between songs; the last one repeats
    double hiss = 20;               // mean level of the hiss at the start
    double hiss_end = -1;           // ... and at the end (a worn record); -1: as at the start
    double hum = 0;                 // peak of a 50 Hz hum with its third harmonic
    double rumble = 0;              // peak of the low rumble
    double clicks_per_second = 0;
    double digital_lead = 0;        // s of nothing at all before the groove (the recorder ran before the needle dropped)
    uint32_t seed = 1;
};

struct song_place {
    uint64_t first;   // first frame of the song
    uint64_t end;     // one past its last frame
};

struct made_side {
    std::vector<int16_t> samples;   // interleaved
    std::vector<song_place> songs;
};

struct random_numbers {
    uint32_t state;
    double uniform()   // [-1, 1)
    {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / 8388608.0 - 1.0;
    }
};

// One song's music: chords of three voices changing every quarter second,
// each note struck and dying away, the voices kept by rotation, not sin().
inline void add_song(const song_plan& s, uint32_t rate, int channels, uint32_t seed, int16_t* out, uint64_t frames,
                     std::vector<double>* mix)
{
    const double notes[] = {196.0, 220.0, 246.9, 293.7, 329.6, 392.0, 440.0, 523.3, 587.3, 659.3};
    const double two_pi = 6.283185307179586;
    const uint64_t note_frames = rate / 4;
    mix->assign(size_t(frames), 0);
    for (int voice = 0; voice < 3; ++voice) {
        double c = 1, sn = 0, rc = 1, rs = 0, rise = 1, fall = 1;
        const double rise_step = std::exp(-300.0 / rate), fall_step = std::exp(-2.5 / rate);
        for (uint64_t i = 0; i < frames; ++i) {
            if (i % note_frames == 0) {
                const uint64_t bar = i / note_frames + seed * 7;
                const double f = notes[(bar * 3 + uint64_t(voice) * 4 + seed) % 10] * (voice == 0 ? 0.5 : 1.0);
                rc = std::cos(two_pi * f / rate);
                rs = std::sin(two_pi * f / rate);
                c = 1;
                sn = 0;
                rise = fall = 1;
            }
            (*mix)[size_t(i)] += sn * (1 - rise) * fall;
            rise *= rise_step;
            fall *= fall_step;
            const double nc = c * rc - sn * rs;
            sn = sn * rc + c * rs;
            c = nc;
        }
    }
    for (uint64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate, left = double(frames - i) / rate;
        double g = s.gain * 4600;
        if (t < s.fade_in)
            g *= t / s.fade_in;
        if (left < s.fade_out)
            g *= left / s.fade_out;
        if (s.pianissimo_at >= 0) {
            // The passage is reached and left over a fifth of a second.
            const double into = t - s.pianissimo_at, until = s.pianissimo_at + s.pianissimo_seconds - t;
            const double depth = std::clamp(std::min(into, until) / 0.2, 0.0, 1.0);
            g *= 1 - depth * (1 - s.pianissimo_gain);
        }
        for (int ch = 0; ch < channels; ++ch)
            out[size_t(i) * channels + ch] = int16_t(std::clamp((*mix)[size_t(i)] * g * (ch ? 0.9 : 1.0), -32767.0, 32767.0));
    }
}

inline made_side make_side(const side_plan& plan)
{
    made_side side;
    const uint32_t rate = plan.rate;
    const int channels = plan.channels;
    uint64_t total = uint64_t(plan.lead_in * rate);
    for (size_t k = 0; k < plan.songs.size(); ++k) {
        const uint64_t first = total, end = first + uint64_t(plan.songs[k].seconds * rate);
        side.songs.push_back({first, end});
        total = end;
        if (k + 1 < plan.songs.size())
            total += uint64_t((plan.gaps.empty() ? 3.0 : plan.gaps[std::min(k, plan.gaps.size() - 1)]) * rate);
    }
    total += uint64_t(plan.run_out * rate);
    side.samples.assign(size_t(total * channels), 0);

    std::vector<double> mix;
    for (size_t k = 0; k < plan.songs.size(); ++k)
        add_song(plan.songs[k], rate, channels, plan.seed + uint32_t(k), side.samples.data() + side.songs[k].first * channels,
                 side.songs[k].end - side.songs[k].first, &mix);

    // The groove under everything: hiss (louder towards the label on a worn
    // record), rumble, hum and clicks.
    random_numbers noise{plan.seed * 2654435761u + 1};
    const double hiss_end = plan.hiss_end < 0 ? plan.hiss : plan.hiss_end;
    const double two_pi = 6.283185307179586;
    const double pole = std::exp(-two_pi * 12.0 / rate);
    double low[2] = {0, 0};
    const double rumble_scale = plan.rumble / std::sqrt((1 - pole) / (1 + pole)) / 1.7;
    int click_left = 0;
    double click_amp = 0;
    for (uint64_t i = 0; i < total; ++i) {
        const double where = total > 1 ? double(i) / double(total - 1) : 0;
        const double hiss = 2 * (plan.hiss + (hiss_end - plan.hiss) * where);
        double click = 0;
        if (plan.clicks_per_second > 0 && click_left == 0 && (noise.uniform() + 1) / 2 < plan.clicks_per_second / rate) {
            click_left = 1 + int((noise.uniform() + 1) * 8 * rate / 8000);
            click_amp = 4000 + 14000 * (noise.uniform() + 1) / 2;
            if (noise.uniform() < 0)
                click_amp = -click_amp;
        }
        if (click_left > 0) {
            click = click_amp;
            click_amp *= -0.7;
            --click_left;
        }
        const double hum = plan.hum == 0 ? 0
                                          : plan.hum * (std::sin(two_pi * 50 * double(i) / rate) +
                                                        0.3 * std::sin(two_pi * 150 * double(i) / rate));
        for (int ch = 0; ch < channels; ++ch) {
            low[ch] = pole * low[ch] + (1 - pole) * noise.uniform();
            const double v = side.samples[size_t(i * channels + ch)] + hiss * noise.uniform() + rumble_scale * low[ch] + hum + click;
            side.samples[size_t(i * channels + ch)] = int16_t(std::clamp(v, -32768.0, 32767.0));
        }
    }
    std::fill(side.samples.begin(), side.samples.begin() + int64_t(std::min<double>(plan.digital_lead * rate, double(total))) * channels, 0);
    return side;
}

} // namespace side_maker
