// Hiss reduction on one channel: short-time spectra with overlap-add, each
// bin's gain from its smoothed signal-to-noise ratio against a noise profile.
#pragma once
#include <cstdint>
#include <vector>
#include <fftw3.h>

// The noise profile comes from the track's quietest second (spectral_scan).
// The FFT plans and windows all channels share; sized once by the rate.
struct spectral_plan {
    int size = 0;               // frame length, samples (a power of two, ~40 ms)
    int hop = 0;                // size / 4
    int bins = 0;               // size / 2 + 1
    int rate = 0;               // frames a second
    float* time = nullptr;      // size samples, FFTW's aligned memory
    fftwf_complex* freq = nullptr;
    float* raw_gain = nullptr;  // bins: a frame's gains before the smoothing across bins
    float* power = nullptr;     // bins: a frame's power
    fftwf_plan forward = nullptr, inverse = nullptr;
    std::vector<float> window;  // periodic Hann, for analysis and synthesis alike
    float over_subtraction = 1; // noise power counted this many times
    float gain_floor = 0;       // no bin falls below this gain: residual hiss stays hiss
};

// One channel's running state: the frame being filled, the overlap-add
// accumulator, the previous frame's cleaned power and the noise profile.
struct spectral_channel {
    std::vector<float> input;   // plan size, the newest samples last
    int fill = 0;               // samples in input
    std::vector<float> overlap; // plan size
    std::vector<float> noise;   // bins: the profile's mean power per bin
    std::vector<float> inverse_noise; // bins: 1 / (over-subtraction x noise), for speed
    std::vector<float> cleaned; // bins: the previous frame's power after the gain
    bool have_noise = false;
    bool first_frame = true;
    int64_t skip = 0;           // outputs still to drop: the frames' lead-in of zeros
    // The pre-scan: frames side by side, grouped by the second they start in.
    std::vector<float> scan_input;
    int scan_fill = 0;
    int64_t scan_start = 0;     // track position of scan_input[0]
    int64_t second = -1;        // the second the held spectra belong to
    std::vector<float> spectra; // frames of that second x bins
    std::vector<float> energy;  // each held frame's energy
    int frames_held = 0;
    int frames_cap = 0;
    double best_score = 0;      // mean frame energy of the quietest second yet
    bool best_partial = true;   // the best so far is a second cut short by the track's end
    double best_flatness = 0;   // its spectrum's flatness (1: even as hiss, near 0: tones)
    std::vector<uint32_t> seconds_at_level; // seconds that are not silence, by level in dB
    bool music_not_noise = false; // the quietest second was music: no hiss is reduced
};

constexpr double QUIET_BELOW_DB = 12;   // a quiet passage lies this far under the typical second
constexpr double HISS_FLATNESS = 0.2;   // hiss is at least this flat above 1 kHz; music is not

bool spectral_plan_init(spectral_plan* plan, int rate, float over_subtraction, float gain_floor);
void spectral_plan_free(spectral_plan* plan);
bool spectral_channel_init(spectral_channel* ch, const spectral_plan* plan);

// Takes `count` samples; each time a hop is complete its cleaned samples go
// to `emit(context, samples, n)` (a hop, less any lead-in still to drop).
// Without a profile the samples pass unchanged, with the same delay.
void spectral_push(const spectral_plan* plan, spectral_channel* ch, const float* in, int count,
                   void (*emit)(void*, const float*, int), void* context);

// The pre-scan: samples of the track in order, then the end, which settles
// the profile. A second whose frames hold less than half a step of signal
// is digital silence and never the noise. Nor is a quietest second whose
// spectrum is not even as hiss is, or that lies less than QUIET_BELOW_DB
// under the track's typical second: a track of music all through has no
// quiet passage, and its quietest second is music (have_noise stays false,
// music_not_noise says why).
void spectral_scan(spectral_plan* plan, spectral_channel* ch, const float* in, int count);
void spectral_scan_end(spectral_plan* plan, spectral_channel* ch);
