// The demo record: one side of an LP made in code, with lead-in groove,
// songs separated by quiet grooves, hiss and clicks; 44.1 kHz 16-bit stereo.
#include "platform/sound/demo_record.h"
#include <cmath>
#include <new>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double LEAD_IN_SECONDS = 3.0;
constexpr double GAP_SECONDS = 5.0;
constexpr double LEAD_OUT_SECONDS = 4.0;
constexpr double SONG_GAIN = 1.5;   // loudest peaks near 2/3 of full scale

// A song: its length, key, tempo, a four-chord round (scale degrees, 0 is
// the tonic) and the seed of its tune.
struct song_plan {
    double seconds;
    int root_midi;      // tonic of the bass register
    double bpm;
    int chords[4];
    uint64_t seed;
};
constexpr song_plan SONGS[] = {
    {28.0, 40, 96.0, {0, 4, 5, 3}, 0x5eed0001},   // E major
    {34.0, 45, 84.0, {5, 3, 0, 4}, 0x5eed0002},   // A major, starting on the minor sixth
    {24.0, 43, 120.0, {0, 3, 4, 3}, 0x5eed0003},  // G major
    {38.0, 38, 72.0, {1, 4, 0, 5}, 0x5eed0004},   // D major, slow
};
constexpr int SONG_COUNT = int(sizeof SONGS / sizeof SONGS[0]);
constexpr int MAJOR_SCALE[7] = {0, 2, 4, 5, 7, 9, 11};

uint32_t seconds_to_frames(double s) { return uint32_t(std::llround(s * DEMO_RATE)); }

uint32_t song_first_frame(int i)
{
    double t = LEAD_IN_SECONDS;
    for (int k = 0; k < i; ++k)
        t += SONGS[k].seconds + GAP_SECONDS;
    return seconds_to_frames(t);
}

uint64_t splitmix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double midi_hz(int note)
{
    static const struct table {
        double hz[128];
        table() { for (int n = 0; n < 128; ++n) hz[n] = 440.0 * std::pow(2.0, (n - 69) / 12.0); }
    } notes;
    return notes.hz[note & 127];
}

// Semitones above the tonic of scale degree d (may pass the octave).
int degree_semitones(int d) { return MAJOR_SCALE[d % 7] + 12 * (d / 7); }

// The vibrato's share of a tone's phase per hertz of the tone: the phase of
// a frequency swinging by `depth` at `vib_hz`, integrated in closed form so
// that any frame can be computed alone.
double vibrato(double t, double vib_hz, double depth) { return -depth / vib_hz * std::cos(2 * PI * vib_hz * t); }

// A tone with a few partials, `t` seconds after it began.
double tone(double hz, double t, double vib, double p2, double p3)
{
    double phase = hz * (2 * PI * t + vib);
    double s = std::sin(phase);
    double c = std::cos(phase);
    return s + p2 * (2 * s * c) + p3 * (s * (3 - 4 * s * s));
}

double pad_envelope(double u)   // u: seconds since the chord began
{
    double attack = u < 0.06 ? u / 0.06 : 1.0;
    return attack * (0.65 + 0.35 * std::exp(-u / 0.5));
}

double pad_chord(const song_plan& s, int chord, double u)
{
    int degree = s.chords[chord & 3];
    double vib = vibrato(u, 5.5, 0.004);
    double sum = 0;
    for (int v = 0; v < 4; ++v) {
        // triad on the degree plus its root an octave up, in the middle register
        int semis = v < 3 ? degree_semitones(degree + 2 * v) : degree_semitones(degree) + 12;
        sum += tone(midi_hz(s.root_midi + 12 + semis), u, vib, 0.35, 0.15);
    }
    return sum * pad_envelope(u);
}

// Left and right of song `i` at `tau` seconds from its first frame.
void song_frame(int i, double tau, double* left, double* right)
{
    const song_plan& s = SONGS[i];
    double beat = 60.0 / s.bpm;
    double bar = 4 * beat;

    int chord = int(tau / bar);
    double u = tau - chord * bar;
    double pad = pad_chord(s, chord, u);
    if (chord > 0 && u < 0.25)   // the previous chord rings out under the new one
        pad += pad_chord(s, chord - 1, u + bar) * (1 - u / 0.25);

    int beat_index = int(tau / beat);
    double ub = tau - beat_index * beat;
    int bass_note = s.root_midi + degree_semitones(s.chords[chord & 3]) % 12;
    double bass_env = (ub < 0.01 ? ub / 0.01 : 1.0) * (0.35 + 0.65 * std::exp(-ub / 0.3));
    double bass = tone(midi_hz(bass_note), ub, vibrato(ub, 4.0, 0.001), 0.5, 0.1) * bass_env;

    // The tune: a note or a rest on every half beat, drawn from the song's seed.
    int step = int(tau / (beat / 2));
    double um = tau - step * (beat / 2);
    uint64_t h = splitmix(s.seed * 1000003u + uint64_t(step));
    double melody = 0;
    if ((h & 3) != 0) {
        int degree = int((h >> 8) % 10);
        double env = (um < 0.015 ? um / 0.015 : 1.0) * std::exp(-um / 0.35);
        melody = tone(midi_hz(s.root_midi + 24 + degree_semitones(degree)), um, vibrato(um, 6.0, 0.005), 0.3, 0.05) * env;
    }

    double fade = std::fmin(1.0, tau / 0.08) * std::fmin(1.0, (s.seconds - tau) / 2.5);
    if (fade < 0)
        fade = 0;
    fade *= SONG_GAIN;
    *left = fade * (0.075 * 0.55 * pad + 0.22 * 0.5 * bass + 0.16 * 0.4 * melody);
    *right = fade * (0.075 * 0.45 * pad + 0.22 * 0.5 * bass + 0.16 * 0.65 * melody);
}

}  // namespace

struct demo_record {
    uint32_t position = 0;
    uint64_t rng = 0x7261636B6D696C6Cull;
    double groove[2] = {0, 0};      // low-passed noise of each wall of the groove
    uint32_t next_click = 0;
    int click_length = 0;
    int click_index = 0;
    double click_amplitude = 0;
    int click_channels = 0;         // bit 0 left, bit 1 right

    double white()                  // uniform in [-1, 1)
    {
        rng ^= rng >> 12;
        rng ^= rng << 25;
        rng ^= rng >> 27;
        return double((rng * 0x2545F4914F6CDD1Dull) >> 11) / double(1ull << 52) - 1.0;
    }
    double uniform01() { return (white() + 1.0) / 2.0; }

    void plan_click()
    {
        next_click = position + seconds_to_frames(0.15 - 0.8 * std::log(1.0 - 0.999 * uniform01()));
        click_length = 3 + int(uniform01() * 4);
        bool both = uniform01() < 0.3;
        click_channels = both ? 3 : (uniform01() < 0.5 ? 1 : 2);
        click_amplitude = both ? 1500 + 4500 * uniform01() : 2000 + 10000 * uniform01();
        if (uniform01() < 0.5)
            click_amplitude = -click_amplitude;
        click_index = -1;
    }
};

int demo_song_count() { return SONG_COUNT; }

demo_song demo_song_at(int index)
{
    uint32_t first = song_first_frame(index);
    return {first, first + seconds_to_frames(SONGS[index].seconds)};
}

uint32_t demo_total_frames()
{
    return demo_song_at(SONG_COUNT - 1).end_frame + seconds_to_frames(LEAD_OUT_SECONDS);
}

demo_record* demo_record_open()
{
    demo_record* r = new (std::nothrow) demo_record;
    if (r)
        r->plan_click();
    return r;
}

void demo_record_close(demo_record* record) { delete record; }

void demo_record_rewind(demo_record* record)
{
    *record = demo_record{};
    record->plan_click();
}

uint32_t demo_record_position(const demo_record* record) { return record->position; }

namespace {

// The groove under everything at the record's current frame, added to v:
// low-passed noise of each wall with the slow rumble of an off-centre record
// at 33 1/3 rpm, a little hiss, and the clicks. With v null only the noise
// and click state moves on, as skipping needs: the frames after a skip are
// the frames a render would have given.
void groove_frame(demo_record* r, double* v)
{
    uint32_t n = r->position;
    double rumble = v ? 38.0 * std::sin(2 * PI * 0.5556 * (double(n) / DEMO_RATE)) : 0;
    for (int c = 0; c < 2; ++c) {
        r->groove[c] += 0.12 * (r->white() - r->groove[c]);
        double hiss = 45.0 * r->white();
        if (v)
            v[c] += 820.0 * r->groove[c] + rumble + hiss;
    }
    // Clicks: a short spike that swings to one side and back.
    if (n >= r->next_click) {
        if (r->click_index < 0)
            r->click_index = 0;
        if (v) {
            double shape = std::sin(2 * PI * (r->click_index + 0.5) / r->click_length);
            for (int c = 0; c < 2; ++c)
                if (r->click_channels & (1 << c))
                    v[c] += r->click_amplitude * shape;
        }
        if (++r->click_index >= r->click_length)
            r->plan_click();
    }
    ++r->position;
}

uint32_t frames_left(const demo_record* r, uint64_t frames)
{
    uint32_t left = demo_total_frames() - r->position;
    return frames < left ? uint32_t(frames) : left;
}

}  // namespace

uint32_t demo_record_render(demo_record* r, int16_t* out, uint32_t frames)
{
    frames = frames_left(r, frames);
    demo_song songs[SONG_COUNT];
    for (int i = 0; i < SONG_COUNT; ++i)
        songs[i] = demo_song_at(i);
    int song = 0;
    for (uint32_t k = 0; k < frames; ++k) {
        uint32_t n = r->position;
        double v[2] = {0, 0};
        while (song < SONG_COUNT && songs[song].end_frame <= n)
            ++song;
        if (song < SONG_COUNT && n >= songs[song].first_frame) {
            song_frame(song, double(n - songs[song].first_frame) / DEMO_RATE, &v[0], &v[1]);
            v[0] *= 32767.0;
            v[1] *= 32767.0;
        }
        groove_frame(r, v);
        for (int c = 0; c < 2; ++c) {
            double x = std::nearbyint(v[c]);
            out[2 * k + c] = int16_t(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
        }
    }
    return frames;
}

uint32_t demo_record_skip(demo_record* r, uint64_t frames)
{
    uint32_t n = frames_left(r, frames);
    for (uint32_t k = 0; k < n; ++k)
        groove_frame(r, nullptr);
    return n;
}
