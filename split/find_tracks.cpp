// Finding the songs of a side from its level envelope: the noise floor along
// the side, the gaps below a threshold that follows it, and the cuts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#include "split/split.h"

namespace {

// A click lasts a millisecond or two, yet a dense crackle puts one in every
// third window or so: of 11 windows (110 ms) the third quietest passes no
// crackle, and moves the edge of a note by 30 ms only.
constexpr int QUIET_WINDOWS = 11;
constexpr int QUIET_RANK = 2;
// The floor is looked for in blocks of about a second, each block's level
// being its quieter quarter: a gap of a second and a half fills three
// quarters of some block.
constexpr int FLOOR_BLOCK_WINDOWS = 100;
constexpr int FLOOR_BLOCK_QUANTILE_PERCENT = 25;
// The quietest block within four minutes either way is surely groove, not
// music: no song lasts eight minutes without a gap on either side of it.
// A block is groove when it is within half as much again of the quietest
// within half a minute, and within three times the quietest of those eight
// minutes (a record that wears towards the label); the floor runs through
// those blocks. Music stands ten times and more above the groove, a quiet
// passage three times and more.
constexpr int FLOOR_REACH_BLOCKS = 240;
constexpr int GROOVE_NEAR_BLOCKS = 30;
constexpr double GROOVE_TOLERANCE = 1.5;
constexpr double WEAR_TOLERANCE = 3.0;
// A block whose quieter quarter is all but zero is digital silence (a
// recording started before the needle dropped), not the groove's floor.
constexpr uint16_t DIGITAL_SILENCE = 2;
// Music is what stands 6 dB above the floor; a track's edges go on while
// the sound stays 3 dB above it, so soft attacks and fades stay whole.
constexpr double THRESHOLD_OVER_FLOOR = 2.0;
constexpr double EDGE_OVER_FLOOR = 1.4;
constexpr double LEAST_THRESHOLD = 8;
constexpr double LEAST_EDGE = 4;
// How far an edge may run past the threshold's crossing: a soft attack
// and a fade-out take a few seconds from the floor to the music's level.
constexpr double EDGE_REACH_BEFORE_S = 2.0;
constexpr double EDGE_REACH_AFTER_S = 3.0;
// A stretch with less music than this (a needle drop, a bump) is no song.
constexpr double LEAST_MUSIC_S = 0.5;
// A gap's score is its length times its depth; a quiet passage of music
// sits just under the threshold, a real gap on the floor, twice as deep.
constexpr double DEEPEST = 4.0;

struct piece {
    int64_t first;   // first loud window
    int64_t end;     // one past the last loud window
    int64_t loud;    // loud windows in it
};

struct envelope {
    const side_levels& side;
    std::vector<uint16_t> smooth;       // the quieter levels around each window
    std::vector<float> block_floor;     // floor per block
    double windows_per_second = 100;

    explicit envelope(const side_levels& s) : side(s) {}

    // The floor at window i, between the floors of the blocks around it.
    double floor_at(int64_t i) const
    {
        if (block_floor.empty())
            return 0;
        const double x = (double(i) + 0.5) / FLOOR_BLOCK_WINDOWS - 0.5;
        if (x <= 0)
            return block_floor.front();
        const size_t b = size_t(x);
        if (b + 1 >= block_floor.size())
            return block_floor.back();
        const double t = x - double(b);
        return block_floor[b] * (1 - t) + block_floor[b + 1] * t;
    }
    double threshold_at(int64_t i) const { return std::max(THRESHOLD_OVER_FLOOR * floor_at(i), LEAST_THRESHOLD); }
    double edge_at(int64_t i) const { return std::max(EDGE_OVER_FLOOR * floor_at(i), LEAST_EDGE); }
    bool loud(int64_t i) const { return smooth[size_t(i)] >= threshold_at(i); }
    int64_t windows(double seconds) const { return int64_t(std::llround(seconds * windows_per_second)); }
};

void quiet_filter(const std::vector<uint16_t>& in, std::vector<uint16_t>* out)
{
    const int64_t n = int64_t(in.size()), half = QUIET_WINDOWS / 2;
    out->resize(in.size());
    uint16_t around[QUIET_WINDOWS];
    for (int64_t i = 0; i < n; ++i) {
        const int64_t a = std::max<int64_t>(0, i - half), b = std::min<int64_t>(n, i + half + 1);
        std::copy(in.begin() + a, in.begin() + b, around);
        const int64_t m = std::min<int64_t>(QUIET_RANK, (b - a) / 2);
        std::nth_element(around, around + m, around + (b - a));
        (*out)[size_t(i)] = around[m];
    }
}

// The floor along the side: the blocks that are groove, and a line through
// their levels. Blocks before the first and after the last keep their level.
void find_floor(envelope* env)
{
    const int64_t n = int64_t(env->smooth.size());
    const int64_t blocks = (n + FLOOR_BLOCK_WINDOWS - 1) / FLOOR_BLOCK_WINDOWS;
    std::vector<float> quiet(size_t(blocks), -1);   // -1: digital silence
    std::vector<uint16_t> scratch(FLOOR_BLOCK_WINDOWS);
    for (int64_t b = 0; b < blocks; ++b) {
        const int64_t a = b * FLOOR_BLOCK_WINDOWS, e = std::min(n, a + FLOOR_BLOCK_WINDOWS);
        std::copy(env->smooth.begin() + a, env->smooth.begin() + e, scratch.begin());
        // A block that is partly digital silence is the edge of a silence:
        // its other windows are music or a needle drop, no floor.
        const int64_t silent = std::count_if(scratch.begin(), scratch.begin() + (e - a),
                                             [](uint16_t v) { return v < DIGITAL_SILENCE; });
        const int64_t k = (e - a) * FLOOR_BLOCK_QUANTILE_PERCENT / 100;
        std::nth_element(scratch.begin(), scratch.begin() + k, scratch.begin() + (e - a));
        if (silent * 10 < e - a && scratch[size_t(k)] >= DIGITAL_SILENCE)
            quiet[size_t(b)] = scratch[size_t(k)];
    }
    // Digital silence before the first sound and after the last is the
    // recorder running before the needle dropped or after it lifted; inside
    // the side it is a gap of nothing (a side put together digitally), and
    // then no sounding block near it is groove: its quietest are music.
    int64_t first_sound = 0, last_sound = blocks - 1;
    while (first_sound < blocks && quiet[size_t(first_sound)] < 0)
        ++first_sound;
    while (last_sound >= 0 && quiet[size_t(last_sound)] < 0)
        --last_sound;
    std::vector<int64_t> groove;
    for (int64_t b = first_sound; b <= last_sound; ++b) {
        if (quiet[size_t(b)] < 0)
            continue;
        float least = quiet[size_t(b)], near = quiet[size_t(b)];
        for (int64_t c = std::max(first_sound, b - FLOOR_REACH_BLOCKS); c <= std::min(last_sound, b + FLOOR_REACH_BLOCKS); ++c) {
            const float v = std::max(0.0f, quiet[size_t(c)]);
            least = std::min(least, v);
            if (c >= b - GROOVE_NEAR_BLOCKS && c <= b + GROOVE_NEAR_BLOCKS)
                near = std::min(near, v);
        }
        if (quiet[size_t(b)] <= GROOVE_TOLERANCE * near && quiet[size_t(b)] <= WEAR_TOLERANCE * least)
            groove.push_back(b);
    }
    // Digital silence is a floor of its own, of nothing; the line passes
    // through it and through the groove's blocks alike.
    for (int64_t b = 0; b < blocks; ++b)
        if (quiet[size_t(b)] < 0) {
            quiet[size_t(b)] = 0;
            groove.push_back(b);
        }
    std::sort(groove.begin(), groove.end());
    env->block_floor.assign(size_t(blocks), 0);
    if (groove.empty())
        return;
    for (int64_t b = 0; b < blocks; ++b) {
        auto next = std::lower_bound(groove.begin(), groove.end(), b);
        float v;
        if (next == groove.end())
            v = quiet[size_t(groove.back())];
        else if (*next == b || next == groove.begin())
            v = quiet[size_t(*next)];
        else {
            const int64_t r = *next, l = *(next - 1);
            const double t = double(b - l) / double(r - l);
            v = float(quiet[size_t(l)] * (1 - t) + quiet[size_t(r)] * t);
        }
        env->block_floor[size_t(b)] = v;
    }
}

// Stretches of music: loud windows whose quiet stretches between them are
// all shorter than min_gap windows; stretches with too little music dropped.
std::vector<piece> find_pieces(const envelope& env, int64_t min_gap)
{
    std::vector<piece> pieces;
    const int64_t n = int64_t(env.smooth.size()), least = env.windows(LEAST_MUSIC_S);
    piece cur = {-1, -1, 0};
    auto close = [&] {
        if (cur.first >= 0 && cur.loud >= least)
            pieces.push_back(cur);
        cur = {-1, -1, 0};
    };
    for (int64_t i = 0; i < n; ++i) {
        if (!env.loud(i))
            continue;
        if (cur.first >= 0 && i - cur.end >= min_gap)
            close();
        if (cur.first < 0)
            cur.first = i;
        cur.end = i + 1;
        ++cur.loud;
    }
    close();
    return pieces;
}

// Length times depth of the gap [a, b): how surely it lies between songs.
double gap_score(const envelope& env, int64_t a, int64_t b)
{
    if (b <= a)
        return 0;
    double depth = 0;
    for (int64_t i = a; i < b; ++i)
        depth += std::min(DEEPEST, env.threshold_at(i) / std::max<double>(1, env.smooth[size_t(i)]));
    return depth / env.windows_per_second;
}

// Joins every piece shorter than min_track windows to the neighbour across
// the shorter gap, shortest first, until none is short or one is left.
void join_short_pieces(std::vector<piece>* pieces, int64_t min_track)
{
    while (pieces->size() > 1) {
        size_t shortest = 0;
        for (size_t k = 1; k < pieces->size(); ++k)
            if ((*pieces)[k].end - (*pieces)[k].first < (*pieces)[shortest].end - (*pieces)[shortest].first)
                shortest = k;
        piece& p = (*pieces)[shortest];
        if (p.end - p.first >= min_track)
            return;
        size_t with;
        if (shortest == 0)
            with = 1;
        else if (shortest + 1 == pieces->size())
            with = shortest - 1;
        else {
            const int64_t before = p.first - (*pieces)[shortest - 1].end, after = (*pieces)[shortest + 1].first - p.end;
            with = after < before ? shortest + 1 : shortest - 1;
        }
        const size_t keep = std::min(shortest, with), gone = std::max(shortest, with);
        (*pieces)[keep].end = (*pieces)[gone].end;
        (*pieces)[keep].loud += (*pieces)[gone].loud;
        pieces->erase(pieces->begin() + int64_t(gone));
    }
}

// Exactly `count` tracks: cuts at the best-scored gaps that leave every track
// at least min_track windows long. False when fewer cuts can be made.
bool choose_cuts(const envelope& env, std::vector<piece>* pieces, int count, int64_t min_track, int* made)
{
    const size_t gaps = pieces->size() - 1;
    std::vector<double> score(gaps);
    std::vector<size_t> order(gaps);
    for (size_t g = 0; g < gaps; ++g) {
        score[g] = gap_score(env, (*pieces)[g].end, (*pieces)[g + 1].first);
        order[g] = g;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return score[a] > score[b]; });
    std::vector<bool> cut(gaps, false);
    int cuts = 0;
    for (size_t g : order) {
        if (cuts == count - 1)
            break;
        // The track this gap would split runs from the cut before it to the cut after it.
        size_t first = g, last = g + 1;
        while (first > 0 && !cut[first - 1])
            --first;
        while (last < gaps && !cut[last])
            ++last;
        const int64_t left = (*pieces)[g].end - (*pieces)[first].first;
        const int64_t right = (*pieces)[last].end - (*pieces)[g + 1].first;
        if (left < min_track || right < min_track)
            continue;
        cut[g] = true;
        ++cuts;
    }
    *made = cuts + 1;
    if (cuts != count - 1)
        return false;
    std::vector<piece> joined;
    for (size_t k = 0; k < pieces->size(); ++k) {
        const piece& p = (*pieces)[k];
        if (k == 0 || cut[k - 1])
            joined.push_back(p);
        else {
            joined.back().end = p.end;
            joined.back().loud += p.loud;
        }
    }
    *pieces = joined;
    return true;
}

std::string seconds_text(double s)
{
    char t[32];
    std::snprintf(t, sizeof t, "%.1f s", s);
    return t;
}

} // namespace

int find_tracks(const side_levels& side, const split_settings& settings, std::vector<split_track>* tracks,
                split_findings* findings, std::string* why)
{
    tracks->clear();
    split_findings seen;
    envelope env(side);
    env.windows_per_second = side.window_frames ? double(side.rate) / side.window_frames : 100;
    quiet_filter(side.level, &env.smooth);
    find_floor(&env);
    if (!env.block_floor.empty()) {
        seen.floor_low = uint16_t(*std::min_element(env.block_floor.begin(), env.block_floor.end()));
        seen.floor_high = uint16_t(*std::max_element(env.block_floor.begin(), env.block_floor.end()));
    }

    const int64_t min_gap = std::max<int64_t>(1, env.windows(settings.min_gap));
    const int64_t min_track = env.windows(settings.min_track);
    std::vector<piece> pieces = find_pieces(env, min_gap);
    seen.pieces = int(pieces.size());
    seen.gaps = pieces.empty() ? 0 : int(pieces.size()) - 1;
    if (findings)
        *findings = seen;
    const std::string floor_text =
        "floor " + std::to_string(seen.floor_low) +
        (seen.floor_high != seen.floor_low ? " to " + std::to_string(seen.floor_high) : std::string());
    if (pieces.empty()) {
        if (why)
            *why = "no music found: the side never stays 6 dB above its noise floor for " + seconds_text(LEAST_MUSIC_S) +
                   " (" + floor_text + ")";
        return SPLIT_TOO_FEW;
    }
    if (settings.tracks > 0) {
        int made = 0;
        if (!choose_cuts(env, &pieces, settings.tracks, min_track, &made)) {
            if (why)
                *why = "the side gives at most " + std::to_string(made) +
                       " tracks of at least " + seconds_text(settings.min_track) + ", not " +
                       std::to_string(settings.tracks) + ": it holds " + std::to_string(seen.pieces) +
                       " stretches of music between " + std::to_string(seen.gaps) + " gaps of at least " +
                       seconds_text(settings.min_gap) + " (" + floor_text + ")";
            return SPLIT_TOO_FEW;
        }
    } else {
        join_short_pieces(&pieces, min_track);
    }

    // The edges: back over a soft attack, on over a fade, each no further
    // than the neighbouring track's music.
    const uint64_t wf = side.window_frames;
    const int64_t reach_before = env.windows(EDGE_REACH_BEFORE_S), reach_after = env.windows(EDGE_REACH_AFTER_S);
    const int64_t n = int64_t(env.smooth.size());
    int64_t low = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        int64_t a = pieces[k].first, b = pieces[k].end;
        const int64_t high = k + 1 < pieces.size() ? pieces[k + 1].first : n;
        for (int64_t steps = 0; a > low && steps < reach_before && env.smooth[size_t(a - 1)] >= env.edge_at(a - 1); ++steps)
            --a;
        for (int64_t steps = 0; b < high && steps < reach_after && env.smooth[size_t(b)] >= env.edge_at(b); ++steps)
            ++b;
        low = b;
        split_track t;
        t.music_first = std::min<uint64_t>(uint64_t(a) * wf, side.frames);
        t.music_end = std::min<uint64_t>(uint64_t(b) * wf, side.frames);
        const uint64_t pre = uint64_t(std::llround(settings.pre_roll * side.rate));
        const uint64_t post = uint64_t(std::llround(settings.tail * side.rate));
        t.first = t.music_first > pre ? t.music_first - pre : 0;
        t.end = std::min<uint64_t>(t.music_end + post, side.frames);
        tracks->push_back(t);
    }
    // Where a gap is shorter than a tail and a pre-roll, the two tracks meet
    // inside it, sharing it as the tail and pre-roll would.
    for (size_t k = 0; k + 1 < tracks->size(); ++k) {
        split_track& a = (*tracks)[k];
        split_track& b = (*tracks)[k + 1];
        if (a.end <= b.first)
            continue;
        const double share = settings.tail + settings.pre_roll > 0 ? settings.tail / (settings.tail + settings.pre_roll) : 0.5;
        const uint64_t meet = a.music_end + uint64_t(double(b.music_first - a.music_end) * share);
        a.end = b.first = meet;
    }
    return SPLIT_OK;
}
