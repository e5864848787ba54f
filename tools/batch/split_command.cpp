// trackmill-batch split: a side already recorded, cut into numbered track
// files with a cue sheet and a label file. `split DIR` is auto-track's.
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "split/split.h"
#include "tools/batch/batch.h"

namespace {

// Without --min-gap, a count of tracks looks at every quiet stretch of half
// a second: it then picks the longest and deepest of them.
constexpr double TRACKS_MIN_GAP = 0.5;

bool terminal = false;   // stderr is a terminal: a progress line is shown there

void show_progress(const std::string& text)
{
    if (terminal) {
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
        std::fflush(stderr);
    }
}
void clear_progress()
{
    if (terminal) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}
void reading_progress(double fraction)
{
    show_progress("split: reading the side, " + std::to_string(int(fraction * 100)) + "%");
}

int usage(const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch split: %s (try --help)\n", why.c_str());
    return BATCH_USAGE;
}
int fail(const std::string& why)
{
    clear_progress();
    std::fprintf(stderr, "trackmill-batch split: %s\n", why.c_str());
    return BATCH_FAILED;
}

const char* option_value(const char* arg, const char* name)
{
    const size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

bool parse_number(const char* text, double low, double high, double* out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(v >= low && v <= high))
        return false;
    *out = v;
    return true;
}

bool is_directory(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
bool is_regular_file(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}
bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The live form: one directory and the options of auto-track.
bool is_autotrack_call(int argc, char** argv)
{
    std::vector<const char*> targets;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            targets.push_back(arg);
            continue;
        }
        for (const char* live : {"--source=", "--card", "--format=", "--intro=", "--bias", "--speed=", "--seconds="})
            if (!std::strncmp(arg, live, std::strlen(live)))
                return true;
    }
    // One name that is no side (a directory, or nothing yet) is auto-track's.
    return (targets.size() == 1 && !is_regular_file(targets[0])) || (!targets.empty() && is_directory(targets[0]));
}

int split_command(int argc, char** argv)
{
    if (is_autotrack_call(argc, argv)) {
        const batch_command* autotrack = batch_find("autotrack");
        return autotrack ? autotrack->handler(argc, argv) : usage("auto-track is not built into this program");
    }
    split_settings settings;
    const char* side_path = nullptr;
    const char* dir_arg = nullptr;
    bool min_gap_given = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* v;
        double number;
        if ((v = option_value(arg, "--tracks"))) {
            if (!parse_number(v, 1, 999, &number) || number != double(int(number)))
                return usage("--tracks wants a whole number of tracks from 1 to 999");
            settings.tracks = int(number);
        } else if ((v = option_value(arg, "--min-gap"))) {
            if (!parse_number(v, 0.05, 600, &settings.min_gap))
                return usage("--min-gap wants seconds from 0.05 to 600");
            min_gap_given = true;
        } else if ((v = option_value(arg, "--min-track"))) {
            if (!parse_number(v, 0, 3600, &settings.min_track))
                return usage("--min-track wants seconds from 0 to 3600");
        } else if ((v = option_value(arg, "--pre-roll"))) {
            if (!parse_number(v, 0, 60, &settings.pre_roll))
                return usage("--pre-roll wants seconds from 0 to 60");
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return usage(std::string("unknown option ") + arg);
        } else if (!side_path) {
            side_path = arg;
        } else if (!dir_arg) {
            dir_arg = arg;
        } else {
            return usage(std::string("a side and a directory only, not also ") + arg);
        }
    }
    if (!side_path || !dir_arg || !dir_arg[0])
        return usage("split SIDE.wav DIR: which side, into which directory?");
    if (settings.tracks > 0 && !min_gap_given)
        settings.min_gap = TRACKS_MIN_GAP;
    terminal = isatty(2);

    if (exists(dir_arg) && !is_directory(dir_arg))
        return fail(std::string(dir_arg) + " is not a directory");
    const std::string dir = std::string(dir_arg) + (dir_arg[std::strlen(dir_arg) - 1] == '/' ? "" : "/");

    side_levels side;
    std::string why;
    if (read_side_levels(side_path, &side, &why, terminal ? reading_progress : nullptr) != SPLIT_OK)
        return fail(why);
    clear_progress();
    std::vector<split_track> tracks;
    if (find_tracks(side, settings, &tracks, nullptr, &why) != SPLIT_OK)
        return fail(why);

    // The directory is made when missing (its parent must be there), once
    // there is something to write into it.
    if (!is_directory(dir_arg) && mkdir(dir_arg, 0777) != 0)
        return fail(std::string(dir_arg) + ": the directory cannot be made (" + std::strerror(errno) + ")");

    // Every file is new: one already there stops the run before anything is written.
    std::vector<std::string> names;
    for (size_t k = 0; k < tracks.size(); ++k)
        names.push_back(split_track_name(dir, int(k)));
    for (const std::string& name : {dir + "side.cue", dir + "labels.txt"})
        names.push_back(name);
    for (const std::string& name : names)
        if (exists(name))
            return fail(name + " exists: split into a directory without track files; nothing was written");

    for (size_t k = 0; k < tracks.size(); ++k) {
        const split_track& t = tracks[k];
        show_progress("split: writing " + names[k]);
        if (write_track_file(side_path, side, t, names[k].c_str(), &why) != SPLIT_OK)
            return fail(why);
        clear_progress();
        const double start = double(t.first) / side.rate, end = double(t.end) / side.rate;
        std::printf("%s %.2f %.2f %.2f\n", names[k].c_str(), start, end, end - start);
        std::fflush(stdout);
    }
    if (write_cue_sheet(dir, tracks, &why) != SPLIT_OK || write_label_file(dir, side, tracks, &why) != SPLIT_OK)
        return fail(why + "; the tracks above are written");
    return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
}

} // namespace

BATCH_COMMAND("split", "split SIDE.wav DIR [--tracks=N] [--min-gap=S] [--min-track=S] [--pre-roll=S]",
              "cut a recorded side into DIR/track0.wav, track1.wav... with side.cue and labels.txt; prints each "
              "track's file, start, end and length (s)",
              split_command);
