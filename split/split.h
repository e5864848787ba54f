// The offline splitter: a side already recorded, read once into a level
// envelope, cut into its songs and written out as numbered track files.
//
// Threads: one split belongs to one thread; nothing here is shared.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Result codes of the splitter's procedures; a failure's text is in *why.
enum : int {
    SPLIT_OK = 0,
    SPLIT_CANNOT_READ = -1,    // the side cannot be opened or read
    SPLIT_BAD_FORMAT = -2,     // not 16-bit PCM mono or stereo
    SPLIT_TOO_FEW = -3,        // the side does not hold the tracks asked for
    SPLIT_EXISTS = -4,         // a file to be written is there already
    SPLIT_CANNOT_WRITE = -5,   // a file cannot be created or written
};

// Level windows of 10 ms: short enough to place a cut, long enough that a
// side of an hour is 360,000 levels (720 KB).
constexpr uint32_t SPLIT_WINDOWS_PER_SECOND = 100;

// A side read for splitting: its format, where its samples lie, and the
// mean absolute level of every 10 ms window.
struct side_levels {
    uint32_t rate = 0;            // frames per second
    int channels = 0;             // 1 or 2
    int frame_bytes = 0;          // 2 or 4
    int64_t data_offset = 0;      // file offset of the first sample
    uint64_t frames = 0;          // whole frames in the data chunk (and the file)
    uint32_t window_frames = 0;   // frames per level window
    std::vector<uint16_t> level;  // one per window, the last one maybe partial
};

struct split_settings {
    double min_gap = 1.5;      // s: a quieter stretch at least this long is a gap
    double min_track = 20;     // s: a shorter piece joins a neighbour
    double pre_roll = 0.5;     // s: kept before a track's music
    double tail = 1.0;         // s: kept after a track's music
    int tracks = 0;            // > 0: exactly this many tracks
};

// One track as frames of the side: the file holds [first, end); its music
// runs over [music_first, music_end).
struct split_track {
    uint64_t first = 0;
    uint64_t end = 0;
    uint64_t music_first = 0;
    uint64_t music_end = 0;
};

// What the analysis saw, for the run's report.
struct split_findings {
    uint16_t floor_low = 0;      // the quietest stretch's level
    uint16_t floor_high = 0;     // the loudest floor along the side
    int gaps = 0;                // gaps of at least the minimum length between music
    int pieces = 0;              // stretches of music between those gaps
};

// Opens a WAV side and reads it through once into *side. `progress` (may be
// null) is told the fraction read now and then. SPLIT_OK, SPLIT_CANNOT_READ
// or SPLIT_BAD_FORMAT, with the reason in *why.
using split_progress = void (*)(double fraction);
int read_side_levels(const char* path, side_levels* side, std::string* why, split_progress progress);

// Finds the tracks of a side from its levels. SPLIT_OK, or SPLIT_TOO_FEW when
// there is no music, or when settings.tracks asks for more tracks than the
// side can give (*why then says what was found).
int find_tracks(const side_levels& side, const split_settings& settings, std::vector<split_track>* tracks,
                split_findings* findings, std::string* why);

// The name of track `index` in `dir` (which ends in '/' or is empty):
// track0.wav, track1.wav, ... track10.wav.
std::string split_track_name(const std::string& dir, int index);

// Writes frames [track.first, track.end) of the side at `side_path` into a new
// file `name`, a 16-bit PCM WAV file in the side's format. An existing file is
// left as it is (SPLIT_EXISTS); a file that cannot be written in full is
// removed again (SPLIT_CANNOT_WRITE).
int write_track_file(const char* side_path, const side_levels& side, const split_track& track, const char* name,
                     std::string* why);

// The cue sheet and the label file of the tracks written into `dir`, each a
// new file (SPLIT_EXISTS when one is there).
int write_cue_sheet(const std::string& dir, const std::vector<split_track>& tracks, std::string* why);
int write_label_file(const std::string& dir, const side_levels& side, const std::vector<split_track>& tracks,
                     std::string* why);
