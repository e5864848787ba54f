// trackmill-batch export: a side's track files as tagged FLAC or MP3 files
// named after their titles, each beside the track it comes from.
//
// Everything is checked before the first file is made: every track is 16-bit
// PCM, the track list has a title for each, and no file of the names to be
// made exists. Each file is created exclusively; one that fails is removed,
// and the files finished before it stay.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "clean/process_track.h"
#include "clean/track_io.h"
#include "platform/file/file.h"
#include "tools/batch/batch.h"
#include "tools/batch/export_files.h"

namespace {
const char* const USAGE =
    "usage: trackmill-batch export DIR|TRACK.wav... --to=flac|mp3 [--tracklist=FILE] [--artist=A] [--album=B]\n"
    "                              [--year=Y] [--cleaned=d|n|f]\n";

int usage(const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch export: %s\n%s", why.c_str(), USAGE);
    return BATCH_USAGE;
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch export: %s\n", why.c_str());
    return BATCH_FAILED;
}

// One track to export: the file it is read from and what it becomes.
struct export_track {
    std::string source;     // the track, or its cleaned file
    std::string number;     // "01", or the record's "A1"
    std::string title;
    std::string out_name;
};

// The number of a DIR's track file ("track12.wav" gives "12"), or "" when
// the name is not one. The cleaned files ("tracd12.wav") are not tracks.
std::string track_number_of(const char* name)
{
    const size_t n = std::strlen(name);
    if (n < 10 || std::strncmp(name, "track", 5) != 0 || std::strcmp(name + n - 4, ".wav") != 0)
        return "";
    std::string digits(name + 5, n - 9);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ? digits : "";
}

// A DIR's track files in track-number order: track9.wav before track10.wav.
std::string list_track_files(const std::string& dir, std::vector<std::string>* out)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return "cannot read the folder " + dir + ": " + std::strerror(errno);
    std::vector<std::pair<std::string, std::string>> found;   // number, name
    while (const dirent* e = readdir(d)) {
        std::string number = track_number_of(e->d_name);
        if (!number.empty())
            found.emplace_back(number, e->d_name);
    }
    closedir(d);
    if (found.empty())
        return dir + " holds no track files (track0.wav, track1.wav...)";
    auto value_order = [](const auto& a, const auto& b) {
        std::string x = a.first.substr(std::min(a.first.find_first_not_of('0'), a.first.size()));
        std::string y = b.first.substr(std::min(b.first.find_first_not_of('0'), b.first.size()));
        if (x.size() != y.size())
            return x.size() < y.size();
        return x != y ? x < y : a.second < b.second;
    };
    std::sort(found.begin(), found.end(), value_order);
    const std::string slash = dir.back() == '/' ? "" : "/";
    for (const auto& [number, name] : found)
        out->push_back(dir + slash + name);
    return "";
}

// A record's track number in front of a title: a side letter and a number,
// "A1" or "B12".
bool vinyl_number(const std::string& line, size_t* length)
{
    if (line.size() < 3 || line[0] < 'A' || line[0] > 'Z' || line[1] < '0' || line[1] > '9')
        return false;
    size_t i = 1;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9')
        ++i;
    if (i > 3 || i >= line.size() || line[i] != ' ')
        return false;
    *length = i;
    return true;
}

// The titles of a track list file, one a line (blank lines skipped). The
// record's numbering is taken only when every line starts with one, so a
// title like "U2 Live" in a plain list stays whole.
std::string read_track_list(const std::string& name, std::vector<export_track>* tracks)
{
    std::ifstream in(name, std::ios::binary);
    if (!in)
        return "cannot read the track list " + name + ": " + std::strerror(errno);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        line.erase(0, std::min(line.find_first_not_of(" \t"), line.size()));
        if (line.empty())
            continue;
        if (!valid_utf8(line))
            return "the track list " + name + " is not UTF-8 text (line " + std::to_string(lines.size() + 1) + ")";
        lines.push_back(line);
    }
    if (in.bad())
        return "cannot read the track list " + name;
    if (lines.size() != tracks->size())
        return "the track list " + name + " has " + std::to_string(lines.size()) + " titles for " +
               std::to_string(tracks->size()) + " tracks";
    size_t length = 0;
    const bool numbered = std::all_of(lines.begin(), lines.end(), [&](const std::string& l) { return vinyl_number(l, &length); });
    for (size_t i = 0; i < lines.size(); ++i) {
        export_track& t = (*tracks)[i];
        t.title = lines[i];
        if (numbered && vinyl_number(lines[i], &length)) {
            t.number = lines[i].substr(0, length);
            t.title = lines[i].substr(std::min(lines[i].find_first_not_of(' ', length), lines[i].size()));
        }
    }
    return "";
}

// "NN - Title.ext" in the track's folder, with the one character a file name
// cannot hold (and control characters) replaced.
std::string output_name(const std::string& track, const export_track& t, const char* extension)
{
    std::string name = t.number + (t.title.empty() ? "" : " - " + t.title);
    for (char& c : name)
        if (c == '/' || (unsigned char)c < 0x20)
            c = c == '/' ? '-' : ' ';
    const size_t slash = track.rfind('/');
    return (slash == std::string::npos ? "" : track.substr(0, slash + 1)) + name + "." + extension;
}

int export_tracks(int argc, char** argv)
{
    std::vector<std::string> inputs;
    std::string to, list, cleaned;
    export_tags tags;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* option, std::string* out) {
            const size_t n = std::strlen(option);
            if (a.compare(0, n, option) != 0)
                return false;
            *out = a.substr(n);
            return true;
        };
        if (value("--to=", &to) || value("--tracklist=", &list) || value("--artist=", &tags.artist) ||
            value("--album=", &tags.album) || value("--year=", &tags.year) || value("--cleaned=", &cleaned))
            continue;
        if (a.size() > 1 && a[0] == '-')
            return usage("unknown option " + a);
        inputs.push_back(a);
    }
    if (inputs.empty())
        return usage("needs a folder of track files or track files");
    if (to != "flac" && to != "mp3")
        return usage(to.empty() ? "needs --to=flac or --to=mp3" : "--to takes flac or mp3, not " + to);
    int clean_mode = 0;
    if (!cleaned.empty()) {
        clean_mode = cleaned == "d" ? MODE_DECLICK : cleaned == "n" ? MODE_DENOISE : cleaned == "f" ? MODE_FADE_IN : -1;
        if (clean_mode < 0)
            return usage("--cleaned takes a cleaning's letter: d, n or f");
    }
    for (const std::string* text : {&tags.artist, &tags.album, &tags.year})
        if (!valid_utf8(*text))
            return fail("a tag given on the command line is not UTF-8 text");

    // The tracks in order: a folder's track files, or the files as given.
    std::vector<std::string> track_files;
    for (const std::string& input : inputs) {
        struct stat st;
        if (stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::string problem = list_track_files(input, &track_files);
            if (!problem.empty())
                return fail(problem);
        } else {
            track_files.push_back(input);
        }
    }
    std::vector<export_track> tracks(track_files.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        tracks[i].number = number;
        tracks[i].title = "Track " + std::to_string(i + 1);
        tracks[i].source = track_files[i];
        // A cleaned file takes the track's place where there is one.
        char cleaned_name[4096];
        struct stat st;
        if (clean_mode && make_cleaned_name(track_files[i].c_str(), clean_mode, cleaned_name, sizeof cleaned_name) == 0 &&
            stat(cleaned_name, &st) == 0)
            tracks[i].source = cleaned_name;
    }
    if (!list.empty()) {
        std::string problem = read_track_list(list, &tracks);
        if (!problem.empty())
            return fail(problem);
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        export_track& t = tracks[i];
        pcm_input in;
        std::string problem = open_pcm_input(t.source.c_str(), &in);
        if (!problem.empty())
            return fail(problem);
        t.out_name = output_name(track_files[i], t, to.c_str());
        struct stat st;
        if (lstat(t.out_name.c_str(), &st) == 0)
            return fail(t.out_name + " exists; nothing was exported");
        for (size_t k = 0; k < i; ++k)
            if (tracks[k].out_name == t.out_name)
                return fail("two tracks would both be exported as " + t.out_name + "; nothing was exported");
    }

    for (size_t i = 0; i < tracks.size(); ++i) {
        const export_track& t = tracks[i];
        pcm_input in;
        std::string problem = open_pcm_input(t.source.c_str(), &in);
        if (!problem.empty())
            return fail(problem);
        const int fd = open(t.out_name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0)
            return fail("cannot create " + t.out_name + ": " + std::strerror(errno));
        close(fd);
        tags.title = t.title;
        tags.number = int(i + 1);
        export_result r = to == "flac" ? write_flac_file(&in, t.out_name.c_str(), tags)
                                       : write_mp3_file(&in, t.out_name.c_str(), tags);
        // Each file is on the disk, not only in the cache, before it is listed.
        if (r.failure.empty() && (plain_sync_name(t.out_name.c_str()) != 0 || plain_sync_folder_of(t.out_name.c_str()) != 0))
            r.failure = std::string("cannot be put on the disk: ") + std::strerror(errno);
        if (!r.failure.empty()) {
            std::remove(t.out_name.c_str());   // no half-made file is left behind
            return fail(t.out_name + ": " + r.failure + (i ? "; the files before it are whole" : "; nothing was exported"));
        }
        if (r.input_cut_short)
            std::fprintf(stderr, "trackmill-batch export: warning: %s ends before its data chunk does\n",
                         t.source.c_str());
        std::printf("%s: from %s, %llu frames\n", t.out_name.c_str(), t.source.c_str(), (unsigned long long)r.frames);
    }
    return BATCH_DONE;
}
} // namespace

BATCH_COMMAND("export", "export DIR|TRACK.wav... --to=flac|mp3 [--tracklist=FILE] [--artist=A] [--album=B] [--year=Y] [--cleaned=d|n|f]",
              "each track as a tagged FLAC or MP3 file, \"01 - Title.flac\", beside it", export_tracks);
