// trackmill-batch split beside sox's silence split on the same sides: time
// and peak memory on an hour-long side, and which songs each gets right.
//
// Usage: bench_split [MINUTES] (60 unless told). Needs /usr/bin/time; the
// sox columns are left out when sox is not installed.
#include <sys/stat.h>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "split/split.h"
#include "tests/split/side_maker.h"

namespace {

std::string scratch;

void put16(std::FILE* f, uint32_t v)
{
    std::fputc(int(v & 0xFF), f);
    std::fputc(int((v >> 8) & 0xFF), f);
}
void put32(std::FILE* f, uint32_t v)
{
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

bool write_wav(const std::string& path, const side_maker::side_plan& plan, const side_maker::made_side& side)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t align = uint32_t(plan.channels) * 2, bytes = uint32_t(side.samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);
    put16(f, uint32_t(plan.channels));
    put32(f, plan.rate);
    put32(f, plan.rate * align);
    put16(f, align);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, bytes);
    std::vector<uint8_t> chunk;
    for (size_t at = 0; at < side.samples.size(); at += 1 << 20) {
        const size_t n = std::min<size_t>(1 << 20, side.samples.size() - at);
        chunk.resize(n * 2);
        for (size_t i = 0; i < n; ++i) {
            chunk[2 * i] = uint8_t(uint16_t(side.samples[at + i]));
            chunk[2 * i + 1] = uint8_t(uint16_t(side.samples[at + i]) >> 8);
        }
        std::fwrite(chunk.data(), 1, chunk.size(), f);
    }
    return std::fclose(f) == 0;
}

struct run {
    int status = -1;
    double seconds = 0;       // wall time
    double cpu_seconds = 0;   // user and system time: what a loaded machine does not stretch
    long peak_kb = 0;
};

// Runs a shell command under /usr/bin/time: its exit status, wall and CPU
// time and peak memory.
run timed(const std::string& command)
{
    const std::string times = scratch + "/time.txt";
    run r;
    const auto t0 = std::chrono::steady_clock::now();
    const int status =
        std::system(("/usr/bin/time -f '%U %S %M' -o '" + times + "' sh -c '" + command + "' >/dev/null 2>&1").c_str());
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(times);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    double user = 0, system = 0;
    if (std::sscanf(last.c_str(), "%lf %lf %ld", &user, &system, &r.peak_kb) == 3)
        r.cpu_seconds = user + system;
    return r;
}

std::vector<std::pair<double, double>> read_labels(const std::string& path)
{
    std::vector<std::pair<double, double>> cuts;
    std::ifstream in(path);
    double a, b;
    std::string name;
    while (in >> a >> b >> name)
        cuts.push_back({a, b});
    return cuts;
}

// Every song inside exactly one track, starting at most 0.6 s before it and
// ending at most 1.5 s after it, and no track without a song.
bool all_songs_right(const std::vector<std::pair<double, double>>& cuts, const side_maker::made_side& side, uint32_t rate)
{
    if (cuts.size() != side.songs.size())
        return false;
    for (size_t k = 0; k < cuts.size(); ++k) {
        const double first = double(side.songs[k].first) / rate, end = double(side.songs[k].end) / rate;
        if (cuts[k].first > first + 0.005 || cuts[k].first < first - 0.6 || cuts[k].second < end - 0.005 ||
            cuts[k].second > end + 1.5)
            return false;
    }
    return true;
}

// sox's files: how many, and how many hold less than a second (empty pieces).
std::pair<int, int> sox_files(const std::string& dir)
{
    int files = 0, empty = 0;
    for (int k = 1; k < 1000; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/out%03d.wav", k);
        struct stat st;
        if (stat((dir + name).c_str(), &st) != 0)
            break;
        ++files;
        if (st.st_size < 44 + 8000 * 2)
            ++empty;
    }
    return {files, empty};
}

const char* SOX_SPLIT = "silence 1 0.1 1% 1 2.0 1% : newfile : restart";

std::vector<side_maker::song_plan> songs(const std::vector<double>& seconds)
{
    std::vector<side_maker::song_plan> list;
    for (double s : seconds) {
        side_maker::song_plan song;
        song.seconds = s;
        list.push_back(song);
    }
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
    char pattern[] = "/tmp/trackmill-bench-split-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    scratch = pattern;
    const bool sox = std::system("sox --version >/dev/null 2>&1") == 0;
    const std::string batch = TM_BATCH_PROGRAM;
    int status = 0;

    // --- which songs each gets right, on sides made like records ---------------
    struct named_side {
        const char* name;
        side_maker::side_plan plan;
    };
    std::vector<named_side> sides;
    side_maker::side_plan clean;
    clean.songs = songs({34, 41, 27, 38});
    clean.gaps = {3.5};
    sides.push_back({"clean", clean});
    side_maker::side_plan s = clean;
    s.clicks_per_second = 25;
    s.hiss = 40;
    sides.push_back({"crackle", s});
    s = clean;
    s.hum = 180;
    sides.push_back({"hum", s});
    s = clean;
    s.hiss = 120;
    s.hiss_end = 400;
    s.rumble = 500;
    s.clicks_per_second = 8;
    sides.push_back({"rumble, loud hiss", s});
    s = clean;
    s.songs = songs({31, 36, 29, 40, 33});
    s.gaps = {2.0, 2.6, 3.0, 2.2};
    sides.push_back({"LP gaps 2-3 s", s});
    s = clean;
    s.songs[0].fade_out = 6;
    s.songs[1].fade_out = 9;
    s.songs[2].fade_out = 4;
    s.gaps = {2.5};
    sides.push_back({"fade-outs", s});
    s = clean;
    s.songs[1].pianissimo_at = 18;
    s.songs[2].pianissimo_at = 11;
    s.songs[2].pianissimo_gain = 0.015;
    s.gaps = {2.0};
    sides.push_back({"3 s pianissimo", s});
    s = clean;
    s.songs[2].gain = 0.12;
    sides.push_back({"quiet song", s});
    s = clean;
    s.songs = songs({28, 33, 25, 31, 36, 27, 30, 24, 35, 29, 32, 26});
    s.gaps = {4, 3, 5, 2.5};
    s.hiss = 70;
    sides.push_back({"12-song tape", s});

    std::printf("%-20s %6s %22s %22s %22s\n", "side", "songs", "split", "split --tracks=N", sox ? "sox silence" : "(no sox)");
    int right = 0, right_counted = 0, sox_right = 0;
    for (size_t k = 0; k < sides.size(); ++k) {
        const side_maker::made_side made = side_maker::make_side(sides[k].plan);
        const std::string side = scratch + "/side.wav";
        write_wav(side, sides[k].plan, made);
        const std::string out = scratch + "/t" + std::to_string(k), counted = scratch + "/c" + std::to_string(k);
        timed(batch + " split " + side + " " + out);
        timed(batch + " split " + side + " " + counted + " --tracks=" + std::to_string(made.songs.size()));
        const auto cuts = read_labels(out + "/labels.txt"), cuts_counted = read_labels(counted + "/labels.txt");
        const bool ok = all_songs_right(cuts, made, sides[k].plan.rate);
        const bool ok_counted = all_songs_right(cuts_counted, made, sides[k].plan.rate);
        right += ok;
        right_counted += ok_counted;
        std::string sox_text = "-";
        if (sox) {
            const std::string sox_dir = scratch + "/s" + std::to_string(k);
            mkdir(sox_dir.c_str(), 0777);
            timed("sox " + side + " " + sox_dir + "/out.wav " + SOX_SPLIT);
            const auto [files, empty] = sox_files(sox_dir);
            const bool sox_ok = files - empty == int(made.songs.size());
            sox_right += sox_ok;
            sox_text = std::to_string(files) + " files, " + std::to_string(empty) + " empty" + (sox_ok ? "" : " x");
        }
        std::printf("%-20s %6zu %22s %22s %22s\n", sides[k].name, made.songs.size(),
                    (std::to_string(cuts.size()) + " tracks" + (ok ? "" : " x")).c_str(),
                    (std::to_string(cuts_counted.size()) + " tracks" + (ok_counted ? "" : " x")).c_str(), sox_text.c_str());
    }
    std::printf("sides right: split %d/%zu, split --tracks=N %d/%zu", right, sides.size(), right_counted, sides.size());
    if (sox)
        std::printf(", sox %d/%zu (file count only)", sox_right, sides.size());
    std::printf("\n");
    if (right != int(sides.size()) || right_counted != int(sides.size()))
        status = 1;
    std::system(("rm -rf " + scratch + "/side.wav " + scratch + "/t* " + scratch + "/c* " + scratch + "/s*").c_str());

    // --- time and memory on a long side at 44.1 kHz stereo ----------------------
    const std::vector<double> long_sides = {minutes / 6, minutes};
    long previous_kb = 0;
    for (double length : long_sides) {
        side_maker::side_plan plan;
        plan.rate = 44100;
        plan.channels = 2;
        plan.hiss = 60;
        plan.gaps = {2.0, 3.0, 2.5};
        plan.run_out = 10;
        std::vector<double> seconds;
        for (double at = plan.lead_in + plan.run_out; at < length * 60 - 100;) {
            seconds.push_back(std::min(200 + double(seconds.size() % 5) * 13, length * 60 - at));
            at += seconds.back() + 2.5;
        }
        plan.songs = songs(seconds);
        if (plan.songs.empty())
            continue;
        const side_maker::made_side made = side_maker::make_side(plan);
        const std::string side = scratch + "/long.wav";
        if (!write_wav(side, plan, made)) {
            std::fprintf(stderr, "bench_split: cannot write %s\n", side.c_str());
            return 1;
        }
        const double side_seconds = double(made.samples.size() / 2) / plan.rate;
        timed("cat " + side + " >/dev/null");   // both read from the page cache
        // The analysis alone, in this process: reading the side and finding its tracks.
        const std::clock_t c0 = std::clock();
        side_levels levels;
        std::vector<split_track> found;
        std::string why;
        const bool analysed = read_side_levels(side.c_str(), &levels, &why, nullptr) == SPLIT_OK &&
                              find_tracks(levels, split_settings{}, &found, nullptr, &why) == SPLIT_OK;
        const double analysis_cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
        if (!analysed)
            std::fprintf(stderr, "bench_split: %s\n", why.c_str());
        const run ours = timed(batch + " split " + side + " " + scratch + "/long-t");
        const bool ok = all_songs_right(read_labels(scratch + "/long-t/labels.txt"), made, plan.rate);
        std::printf("%.0f-minute side (%zu songs, 44.1 kHz stereo, %.0f MB): split %.2f s CPU (%.0fx real time), "
                    "%.2f s wall, peak %ld kB, %s\n",
                    side_seconds / 60, made.songs.size(), made.samples.size() * 2 / 1e6, ours.cpu_seconds,
                    side_seconds / ours.cpu_seconds, ours.seconds, ours.peak_kb, ok ? "every song right" : "songs wrong");
        std::printf("%30s of which finding the tracks %.2f s CPU (%.0fx real time), the rest writing them\n", "",
                    analysis_cpu, side_seconds / analysis_cpu);
        if (ours.status != 0 || !ok)
            status = 1;
        if (sox) {
            mkdir((scratch + "/long-s").c_str(), 0777);
            const run theirs = timed("sox " + side + " " + scratch + "/long-s/out.wav " + SOX_SPLIT);
            const auto [files, empty] = sox_files(scratch + "/long-s");
            std::printf("%30s sox %.2f s CPU, %.2f s wall, peak %ld kB, %d files (%d empty); split/sox CPU time %.3f, "
                        "memory %.2f\n",
                        "", theirs.cpu_seconds, theirs.seconds, theirs.peak_kb, files, empty,
                        ours.cpu_seconds / theirs.cpu_seconds, double(ours.peak_kb) / double(theirs.peak_kb));
        }
        if (previous_kb)
            std::printf("split's peak memory, %.0f-minute side against the %.0f-minute one: %.2f\n", length,
                        long_sides[0], double(ours.peak_kb) / double(previous_kb));
        previous_kb = ours.peak_kb;
        std::system(("rm -rf " + side + " " + scratch + "/long-t " + scratch + "/long-s").c_str());
    }
    std::system(("rm -rf " + scratch).c_str());
    return status;
}
