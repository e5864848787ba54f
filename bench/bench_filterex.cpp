// FilterEx against the peers on music it makes itself: clicks (ffmpeg's
// adeclick), hiss (sox noisered), and speed and memory on a long track.
//
// bench_filterex                        every table (10-minute speed track)
// bench_filterex quality [THRESHOLD]    the click and hiss tables only
// bench_filterex speed [MINUTES]        the speed table only
// bench_filterex IN.wav OUT.wav [THRESHOLD [clicks]]
//                                       restores one 16-bit WAV file (the
//                                       speed table runs this as a child);
//                                       `clicks` skips the pre-scan, so no
//                                       hiss is removed
// Material is made in a private directory under /tmp and removed after.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include "clean/filterex.h"

namespace {

// --- WAV in and out, streamed -------------------------------------------

struct wav_in {
    FILE* f = nullptr;
    int channels = 0, rate = 0;
    long data_offset = 0;
    uint32_t frames = 0;
};

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

bool open_wav(const char* name, wav_in* w)
{
    w->f = std::fopen(name, "rb");
    uint8_t h[12];
    if (!w->f || std::fread(h, 1, 12, w->f) != 12 || std::memcmp(h, "RIFF", 4) || std::memcmp(h + 8, "WAVE", 4))
        return false;
    bool have_fmt = false;
    for (;;) {
        uint8_t c[8];
        if (std::fread(c, 1, 8, w->f) != 8)
            return false;
        const uint32_t size = le32(c + 4);
        if (!std::memcmp(c, "fmt ", 4)) {
            uint8_t fmt[16];
            if (size < 16 || std::fread(fmt, 1, 16, w->f) != 16)
                return false;
            if (le16(fmt) != 1 || le16(fmt + 14) != 16)
                return false;
            w->channels = le16(fmt + 2);
            w->rate = int(le32(fmt + 4));
            have_fmt = true;
            std::fseek(w->f, long(size - 16 + (size & 1)), SEEK_CUR);
        } else if (!std::memcmp(c, "data", 4)) {
            if (!have_fmt || w->channels < 1 || w->channels > 2)
                return false;
            w->data_offset = std::ftell(w->f);
            w->frames = size / uint32_t(2 * w->channels);
            return true;
        } else {
            std::fseek(w->f, long(size + (size & 1)), SEEK_CUR);
        }
    }
}

void put_header(FILE* f, int channels, int rate, uint32_t frames)
{
    uint8_t h[44];
    auto p32 = [&](int at, uint32_t v) { for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i)); };
    auto p16 = [&](int at, uint32_t v) { h[at] = uint8_t(v); h[at + 1] = uint8_t(v >> 8); };
    const uint32_t data = frames * uint32_t(2 * channels);
    std::memcpy(h, "RIFF", 4);
    p32(4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    p32(16, 16);
    p16(20, 1);
    p16(22, uint32_t(channels));
    p32(24, uint32_t(rate));
    p32(28, uint32_t(rate * 2 * channels));
    p16(32, uint32_t(2 * channels));
    p16(34, 16);
    std::memcpy(h + 36, "data", 4);
    p32(40, data);
    std::fwrite(h, 1, 44, f);
}

// The restoration of one file, both passes, in buffers of 4096 frames.
int restore_file(const char* in_name, const char* out_name, int threshold, bool profile)
{
    wav_in w;
    if (!open_wav(in_name, &w)) {
        std::fprintf(stderr, "bench_filterex: %s is not a 16-bit PCM WAV file\n", in_name);
        return 1;
    }
    filterex_state* fx = nullptr;
    if (filterex_start(&fx, w.channels, w.rate, threshold) != FX_OK) {
        std::fprintf(stderr, "bench_filterex: cannot start (channels %d, rate %d, threshold %d)\n", w.channels,
                     w.rate, threshold);
        return 1;
    }
    FILE* out = std::fopen(out_name, "wb");
    if (!out) {
        std::fprintf(stderr, "bench_filterex: cannot write %s\n", out_name);
        return 1;
    }
    constexpr int CHUNK = 4096;
    std::vector<int16_t> buf(size_t(CHUNK * w.channels));
    std::vector<int16_t> res(size_t(std::max(CHUNK, filterex_latency(fx)) * w.channels));
    for (uint32_t done = 0; profile && done < w.frames;) {
        const int n = int(std::min<uint32_t>(CHUNK, w.frames - done));
        if (std::fread(buf.data(), size_t(2 * w.channels), size_t(n), w.f) != size_t(n))
            break;
        filterex_profile_feed(fx, buf.data(), n);
        done += uint32_t(n);
    }
    filterex_profile_end(fx);
    std::fseek(w.f, w.data_offset, SEEK_SET);
    put_header(out, w.channels, w.rate, w.frames);
    uint32_t written = 0;
    for (uint32_t done = 0; done < w.frames;) {
        const int n = int(std::min<uint32_t>(CHUNK, w.frames - done));
        if (std::fread(buf.data(), size_t(2 * w.channels), size_t(n), w.f) != size_t(n))
            break;
        int got = 0;
        filterex_flow(fx, buf.data(), n, res.data(), &got);
        written += uint32_t(std::fwrite(res.data(), size_t(2 * w.channels), size_t(got), out));
        done += uint32_t(n);
    }
    int got = 0;
    filterex_drain(fx, res.data(), &got);
    written += uint32_t(std::fwrite(res.data(), size_t(2 * w.channels), size_t(got), out));
    std::rewind(out);
    put_header(out, w.channels, w.rate, written);
    const filterex_counts counts = filterex_report(fx);
    std::fprintf(stderr, "bench_filterex: %lld gaps (%lld samples) repaired, hiss %s\n",
                 (long long)counts.repaired_gaps, (long long)counts.repaired_samples,
                 counts.denoising ? "reduced" : "left (no profile)");
    filterex_free(fx);
    std::fclose(w.f);
    return std::fclose(out) == 0 ? 0 : 1;
}

// --- material -----------------------------------------------------------

constexpr int RATE = 44100;
constexpr int TABLE = 4096;

// Music-like: chords of harmonic voices with vibrato and decaying
// envelopes, panned apart, and drum-like hits (a falling low tone and a
// burst of filtered noise). Streamed sample by sample, memory flat.
struct music {
    std::mt19937 rng{2026};
    float wave[TABLE + 1], sine[TABLE + 1];
    struct voice {
        double phase = 0, step = 0, vib_phase = 0, vib_step = 0, vib_depth = 0;
        double amp = 0, attack = 0, decay = 0, age = 0, pan = 0.5;
        bool on = false;
    } voices[16];
    struct hit {
        double amp = 0, age = 0, decay = 0, kick = 0, kick_phase = 0, lp = 0, tone = 0;
        bool on = false;
    } hits[4];
    int64_t t = 0, next_chord = 0, next_hit = RATE / 3;
    int next_voice = 0, next_drum = 0;
    int64_t start = 0;   // silence (frames) before the music begins

    music()
    {
        for (int i = 0; i <= TABLE; ++i) {
            double v = 0;
            for (int h = 1; h <= 6; ++h)
                v += std::sin(2 * M_PI * h * i / TABLE) / std::pow(h, 1.4);
            wave[i] = float(v / 1.9);
            sine[i] = float(std::sin(2 * M_PI * i / TABLE));
        }
    }
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    static float look(const float* table, double phase)
    {
        const double x = phase * TABLE;
        const int i = int(x);
        const float f = float(x - i);
        return table[i] + f * (table[i + 1] - table[i]);
    }
    void chord()
    {
        static const int shape[2][4] = {{0, 4, 7, 12}, {0, 3, 7, 10}};
        const int root = 43 + int(uniform(0, 17));
        const int kind = uniform(0, 1) < 0.5 ? 0 : 1;
        const int notes = uniform(0, 1) < 0.5 ? 3 : 4;
        for (int n = 0; n < notes; ++n) {
            voice& v = voices[next_voice];
            next_voice = (next_voice + 1) % 16;
            const double f = 440.0 * std::pow(2.0, (root + shape[kind][n] + (n == 0 ? 0 : 12) - 69) / 12.0);
            v = voice{};
            v.step = f / RATE;
            v.vib_step = uniform(4.5, 6.5) / RATE;
            v.vib_depth = uniform(0.002, 0.006);
            v.amp = uniform(1500, 3500);
            v.attack = uniform(0.005, 0.05) * RATE;
            v.decay = uniform(0.4, 1.6) * RATE;
            v.pan = uniform(0.2, 0.8);
            v.on = true;
        }
        next_chord = t + int64_t(uniform(0.4, 1.4) * RATE);
    }
    void drum()
    {
        hit& h = hits[next_drum];
        next_drum = (next_drum + 1) % 4;
        h = hit{};
        h.amp = uniform(2000, 7000);
        h.decay = uniform(0.01, 0.08) * RATE;
        h.kick = uniform(0, 1) < 0.5 ? uniform(3000, 8000) : 0;
        h.tone = uniform(0.1, 0.6);   // noise filter: lower is duller
        h.on = true;
        next_hit = t + int64_t(uniform(0.2, 0.7) * RATE);
    }
    void next(double* l, double* r)
    {
        *l = *r = 0;
        if (t < start) {
            ++t;
            return;
        }
        if (t >= next_chord)
            chord();
        if (t >= next_hit)
            drum();
        for (voice& v : voices) {
            if (!v.on)
                continue;
            const double env = (v.age < v.attack ? v.age / v.attack : 1.0) * std::exp(-v.age / v.decay);
            if (v.age > 8 * v.decay) {
                v.on = false;
                continue;
            }
            const double s = v.amp * env * look(wave, v.phase);
            *l += s * (1 - v.pan);
            *r += s * v.pan;
            v.phase += v.step * (1 + v.vib_depth * look(sine, v.vib_phase));
            v.phase -= std::floor(v.phase);
            v.vib_phase += v.vib_step;
            v.vib_phase -= std::floor(v.vib_phase);
            v.age += 1;
        }
        for (hit& h : hits) {
            if (!h.on)
                continue;
            if (h.age > 10 * h.decay) {
                h.on = false;
                continue;
            }
            const double env = std::exp(-h.age / h.decay);
            h.lp += h.tone * (uniform(-1, 1) - h.lp);
            double s = h.amp * env * h.lp * 2;
            if (h.kick > 0) {
                const double f = 50 + 70 * std::exp(-h.age / (0.03 * RATE));
                h.kick_phase += f / RATE;
                h.kick_phase -= std::floor(h.kick_phase);
                s += h.kick * std::exp(-h.age / (0.12 * RATE)) * look(sine, h.kick_phase);
            }
            *l += s;
            *r += s;
            h.age += 1;
        }
        ++t;
    }
};

// Clicks: a sharp spike decaying over 1 to 12 samples, on both channels or
// on one, at a rate that climbs from 2 to 20 a second over the track.
struct clicks {
    std::mt19937 rng{77};
    int64_t t = 0, next = 0;
    int64_t length = 1;       // frames of the whole track, for the rate's climb
    double amp[2] = {}, decay = 1, age = 1e9, sign = 1;
    int span = 0;
    int count = 0;
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    void next_pair(double* l, double* r)
    {
        if (t >= next) {
            const double rate = 2 + 18 * double(t) / double(length);
            next = t + 1 + int64_t(std::exponential_distribution<double>(rate)(rng) * RATE);
            const double a = uniform(1500, 14000);
            const double where = uniform(0, 1);
            amp[0] = where < 0.2 ? 0 : a;
            amp[1] = where > 0.8 ? 0 : a * uniform(0.4, 1.0);
            sign = uniform(0, 1) < 0.5 ? -1 : 1;
            span = 1 + int(uniform(0, 12));
            decay = uniform(0.4, 3.0);
            age = 0;
            ++count;
        }
        if (age < span) {
            const double shape = std::exp(-age / decay) * (age > 0 && uniform(0, 1) < 0.3 ? -0.6 : 1.0);
            *l += sign * amp[0] * shape;
            *r += sign * amp[1] * shape;
        }
        age += 1;
        ++t;
    }
};

int16_t to16(double v) { return int16_t(std::lround(std::clamp(v, -32768.0, 32767.0))); }

// Writes the clean and the damaged versions of `seconds` of material.
// `hiss` is the RMS of white noise (steps) added to the damaged copy, and
// to the clean one too when it is part of the original (`hiss_is_original`);
// `lead_in` seconds of it come before the music, as in a record's lead-in.
void make_pair(const std::string& clean_name, const std::string& noisy_name, double seconds, bool with_clicks,
               double hiss, double lead_in, bool hiss_is_original = false, bool drums = true)
{
    const uint32_t frames = uint32_t(seconds * RATE);
    FILE* c = std::fopen(clean_name.c_str(), "wb");
    FILE* n = std::fopen(noisy_name.c_str(), "wb");
    put_header(c, 2, RATE, frames);
    put_header(n, 2, RATE, frames);
    music m;
    m.start = int64_t(lead_in * RATE);
    m.next_chord = m.start;
    m.next_hit = drums ? m.start + RATE / 3 : INT64_MAX;
    clicks k;
    k.length = frames;
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, hiss > 0 ? hiss : 1);
    std::vector<int16_t> cb, nb;
    for (uint32_t i = 0; i < frames; ++i) {
        double l, r;
        m.next(&l, &r);
        double dl = 0, dr = 0;
        if (hiss > 0) {
            const double nl = noise(rng), nr = noise(rng);
            if (hiss_is_original) {
                l += nl;
                r += nr;
            } else {
                dl += nl;
                dr += nr;
            }
        }
        cb.push_back(to16(l));
        cb.push_back(to16(r));
        if (with_clicks)
            k.next_pair(&dl, &dr);
        nb.push_back(to16(l + dl));
        nb.push_back(to16(r + dr));
        if (cb.size() >= 8192 || i + 1 == frames) {
            std::fwrite(cb.data(), 2, cb.size(), c);
            std::fwrite(nb.data(), 2, nb.size(), n);
            cb.clear();
            nb.clear();
        }
    }
    std::fclose(c);
    std::fclose(n);
}

// --- measures -----------------------------------------------------------

std::vector<int16_t> read_all(const std::string& name, int* channels = nullptr)
{
    wav_in w;
    std::vector<int16_t> v;
    if (!open_wav(name.c_str(), &w))
        return v;
    v.resize(size_t(w.frames) * size_t(w.channels));
    v.resize(std::fread(v.data(), 2, v.size(), w.f));
    std::fclose(w.f);
    if (channels)
        *channels = w.channels;
    return v;
}

// SNR (dB) of `test` against `clean`, from frame `from` on.
double snr(const std::vector<int16_t>& clean, const std::vector<int16_t>& test, size_t from = 0)
{
    // Over the frames both hold: sox's noisered leaves off the last few.
    if (test.size() + 2 * RATE < clean.size())
        return NAN;
    const size_t end = std::min(test.size(), clean.size());
    double s = 0, e = 0;
    for (size_t i = from * 2; i < end; ++i) {
        s += double(clean[i]) * clean[i];
        const double d = double(test[i]) - clean[i];
        e += d * d;
    }
    return 10 * std::log10(s / std::max(e, 1e-9));
}

// Mean spectral flatness (geometric over arithmetic mean of the power, in
// 2048-sample Hann frames) of the left channel over [from, to) frames:
// about 0.56 for white noise, far lower when lone tones ring through.
double flatness(const std::vector<int16_t>& x, size_t from, size_t to)
{
    constexpr int N = 2048;
    std::vector<double> re(N / 2), im(N / 2);
    double total = 0;
    int frames = 0;
    for (size_t s = from; s + N <= to; s += N / 2) {
        double log_sum = 0, sum = 0;
        // A direct DFT of 256 bins spread over the band keeps this file
        // free of an FFT of its own; the material is short.
        constexpr int BINS = 256;
        for (int b = 1; b <= BINS; ++b) {
            const int k = b * (N / 2 - 1) / BINS;
            double a = 0, c = 0;
            for (int i = 0; i < N; ++i) {
                const double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / N);
                const double v = w * x[(s + size_t(i)) * 2];
                a += v * std::cos(2 * M_PI * k * i / N);
                c -= v * std::sin(2 * M_PI * k * i / N);
            }
            const double p = a * a + c * c + 1e-9;
            log_sum += std::log(p);
            sum += p;
        }
        total += std::exp(log_sum / BINS) / (sum / BINS);
        ++frames;
    }
    return frames ? total / frames : NAN;
}

struct run_result {
    bool ok = false;
    double cpu = 0;   // seconds, user + system
    long peak_kib = 0;
};

// Runs a command line under /bin/sh and takes its CPU time and peak memory.
run_result run(const std::string& command)
{
    run_result r;
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string quiet = "{ " + command + "; } 2>/dev/null";
        execl("/bin/sh", "sh", "-c", quiet.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    rusage u{};
    if (pid < 0 || wait4(pid, &status, 0, &u) != pid)
        return r;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.cpu = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
    r.peak_kib = u.ru_maxrss;
    return r;
}

std::string self;   // this program, for the child runs of the kernel

std::string ours(const std::string& in, const std::string& out, int threshold)
{
    return "'" + self + "' '" + in + "' '" + out + "' " + std::to_string(threshold);
}
std::string ffmpeg_declick(const std::string& in, const std::string& out)
{
    return "ffmpeg -nostdin -y -loglevel error -i '" + in + "' -af adeclick '" + out + "'";
}
std::string sox_denoise(const std::string& in, const std::string& out, const std::string& profile)
{
    return "sox '" + in + "' -n trim 0 1 noiseprof '" + profile + "' && sox '" + in + "' '" + out +
           "' noisered '" + profile + "' 0.21";
}

void quality(const std::string& dir, int threshold)
{
    const std::string clean = dir + "/clean_a.wav", damaged = dir + "/clicks.wav";
    std::printf("(a) clicks: 30 s of music after a 1 s lead-in, quiet hiss (-61 dBFS) all along,\n"
                "    2 to 20 clicks a second; the original is the same without clicks; threshold %d\n", threshold);
    std::printf("  %-28s %8s %8s   %8s %8s\n", "", "SNR dB", "gain dB", "SNR dB", "gain dB");
    std::printf("  %-28s %17s   %17s\n", "", "with drum hits", "tones only");
    double base[2], ours_all[2], ours_clicks[2], peer[2];
    for (int drums = 1; drums >= 0; --drums) {
        const int k = 1 - drums;
        make_pair(clean, damaged, 31, true, 30, 1, true, drums == 1);
        const auto c = read_all(clean);
        base[k] = snr(c, read_all(damaged));
        run(ours(damaged, dir + "/ours_a.wav", threshold));
        run(ours(damaged, dir + "/ours_a_clicks.wav", threshold) + " clicks");
        run(ffmpeg_declick(damaged, dir + "/ffmpeg_a.wav"));
        ours_all[k] = snr(c, read_all(dir + "/ours_a.wav"));
        ours_clicks[k] = snr(c, read_all(dir + "/ours_a_clicks.wav"));
        peer[k] = snr(c, read_all(dir + "/ffmpeg_a.wav"));
    }
    auto row = [&](const char* name, const double* v) {
        std::printf("  %-28s %8.2f %8.2f   %8.2f %8.2f\n", name, v[0], v[0] - base[0], v[1], v[1] - base[1]);
    };
    std::printf("  %-28s %8.2f %8s   %8.2f\n", "damaged", base[0], "", base[1]);
    row("FilterEx", ours_all);
    row("FilterEx, clicks only", ours_clicks);
    row("ffmpeg adeclick (defaults)", peer);
    std::printf("  (the original keeps its quiet hiss, so the whole pass's hiss reduction counts\n"
                "   against it here; the click half is what adeclick does)\n");
    std::printf("  goal: click repair's gain at least ffmpeg's: %s\n",
                ours_clicks[0] - base[0] >= peer[0] - base[0] && ours_clicks[1] - base[1] >= peer[1] - base[1]
                    ? "met"
                    : "NOT met");

    std::printf("(b) hiss: 30 s of music after 1 s of hiss alone, threshold %d\n", threshold);
    const std::string hiss = dir + "/hiss.wav";
    make_pair(dir + "/clean_b.wav", hiss, 31, false, 150, 1);
    const auto c2 = read_all(dir + "/clean_b.wav"), h = read_all(hiss);
    run(ours(hiss, dir + "/ours_b.wav", threshold));
    run(sox_denoise(hiss, dir + "/sox_b.wav", dir + "/profile"));
    const auto o = read_all(dir + "/ours_b.wav"), p = read_all(dir + "/sox_b.wav");
    const double base2 = snr(c2, h, RATE), b_ours = snr(c2, o, RATE), b_peer = snr(c2, p, RATE);
    std::printf("  %-28s %8s %8s %10s\n", "", "SNR dB", "gain dB", "flatness");
    std::printf("  %-28s %8.2f %8s %10.3f\n", "hissy", base2, "", flatness(h, 0, RATE));
    std::printf("  %-28s %8.2f %8.2f %10.3f\n", "FilterEx", b_ours, b_ours - base2, flatness(o, 0, RATE));
    std::printf("  %-28s %8.2f %8.2f %10.3f\n", "sox noisered 0.21", b_peer, b_peer - base2, flatness(p, 0, RATE));
    std::printf("  (SNR over the music; flatness of the residual in the hiss-only second,\n"
                "   0.56 for white noise, lower when lone tones ring through)\n");
    std::printf("  goal: gain at least sox's: %s\n", b_ours - base2 >= b_peer - base2 ? "met" : "NOT met");
}

void speed(const std::string& dir, double minutes)
{
    std::printf("(c) speed: %.0f-minute 44.1 kHz stereo track (music, hiss, clicks)\n", minutes);
    const std::string clean = dir + "/long_clean.wav", track = dir + "/long.wav";
    const std::string shorter = dir + "/short.wav";
    make_pair(clean, track, minutes * 60, true, 100, 1);
    std::remove(clean.c_str());
    make_pair(clean, shorter, minutes * 6, true, 100, 1);
    std::remove(clean.c_str());
    const double seconds = minutes * 60;
    std::printf("  %-28s %9s %11s %10s\n", "", "CPU s", "x real time", "peak KiB");
    const run_result a = run(ours(shorter, dir + "/out.wav", FX_THRESHOLD_DEFAULT));
    const run_result b = run(ours(track, dir + "/out.wav", FX_THRESHOLD_DEFAULT));
    std::printf("  %-28s %9.2f %11.1f %10ld\n", "FilterEx, a tenth as long", a.cpu, seconds / 10 / a.cpu,
                a.peak_kib);
    std::printf("  %-28s %9.2f %11.1f %10ld\n", "FilterEx", b.cpu, seconds / b.cpu, b.peak_kib);
    const run_result f = run(ffmpeg_declick(track, dir + "/out.wav"));
    std::printf("  %-28s %9.2f %11.1f %10ld%s\n", "ffmpeg adeclick", f.cpu, seconds / f.cpu, f.peak_kib,
                f.ok ? "" : " (failed)");
    const run_result x = run(sox_denoise(track, dir + "/out.wav", dir + "/profile"));
    std::printf("  %-28s %9.2f %11.1f %10ld%s\n", "sox noiseprof + noisered", x.cpu, seconds / x.cpu,
                x.peak_kib, x.ok ? "" : " (failed)");
    std::printf("  goal: FilterEx at least 100x real time: %s; memory flat: %s\n",
                seconds / b.cpu >= 100 ? "met" : "NOT met",
                b.peak_kib < a.peak_kib + 2048 ? "met" : "NOT met");
    std::remove(track.c_str());
    std::remove(shorter.c_str());
    std::remove((dir + "/out.wav").c_str());
}

} // namespace

int main(int argc, char** argv)
{
    self = argv[0];
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc >= 3 && mode != "quality" && mode != "speed")
        return restore_file(argv[1], argv[2], argc > 3 ? std::atoi(argv[3]) : FX_THRESHOLD_DEFAULT,
                            !(argc > 4 && !std::strcmp(argv[4], "clicks")));
    char dir_template[] = "/tmp/bench_filterex.XXXXXX";
    if (!mkdtemp(dir_template)) {
        std::perror("bench_filterex: mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;
    if (mode != "speed")
        quality(dir, mode == "quality" && argc > 2 ? std::atoi(argv[2]) : FX_THRESHOLD_DEFAULT);
    if (mode != "quality")
        speed(dir, mode == "speed" && argc > 2 ? std::atof(argv[2]) : 10.0);
    if (!std::getenv("FX_KEEP")) std::system(("rm -rf '" + dir + "'").c_str()); else std::printf("kept %s\n", dir.c_str());
    return 0;
}
