// trackmill-batch tour [DIR]: the recorder's main job in one go, for a first
// look without a display: the demo side, auto-tracked, each take declicked.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "tools/batch/batch.h"

namespace {

// Runs this program again with `args` (a fresh process: each step starts
// from the recorder's start-up state, as from the shell). Its standard
// output is kept in `out`, its messages go to ours. The exit status, or -1.
int run_step(const std::vector<std::string>& args, std::string* out)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return -1;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        return -1;
    }
    if (child == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv;
        static char program[] = "trackmill-batch";
        argv.push_back(program);
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        if (n > 0)
            out->append(buffer, size_t(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(pipe_fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

struct take {
    std::string file;
    double start = 0, end = 0;
    std::string cleaned;
    int corrections = -1;
};

// "DIR/track0.wav 3.10 34.77": the take's file, start and end in seconds.
// The file's name may hold spaces, so the two numbers are read from the end.
bool parse_take(const std::string& line, take* t)
{
    const size_t second = line.rfind(' ');
    if (second == std::string::npos || second == 0)
        return false;
    const size_t first = line.rfind(' ', second - 1);
    if (first == std::string::npos || first == 0)
        return false;
    char* end = nullptr;
    t->start = std::strtod(line.c_str() + first + 1, &end);
    if (end != line.c_str() + second)
        return false;
    t->end = std::strtod(line.c_str() + second + 1, &end);
    if (*end != '\0')
        return false;
    t->file = line.substr(0, first);
    return true;
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch tour: %s\n", why.c_str());
    return BATCH_FAILED;
}

int tour_command(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && (!argv[1][0] || argv[1][0] == '-'))) {
        if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
            std::printf("usage: trackmill-batch tour [DIR]\n"
                        "Writes the demo side into DIR (a new folder; without DIR, a fresh one in the\n"
                        "temporary folder), auto-tracks it into DIR/takes/, declicks each take and\n"
                        "prints a table of the takes and where the files are.\n");
            return BATCH_DONE;
        }
        std::fprintf(stderr, "usage: trackmill-batch tour [DIR]\n");
        return BATCH_USAGE;
    }
    std::string dir;
    if (argc == 2) {
        dir = argv[1];
        // A new folder only: the tour never writes among files it did not make.
        if (mkdir(dir.c_str(), 0777) != 0)
            return fail(dir + ": " + (errno == EEXIST ? std::string("exists; name a folder that does not exist yet")
                                                      : std::string(std::strerror(errno))));
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/trackmill-tour-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return fail(pattern + ": " + std::strerror(errno));
        dir = pattern;
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const std::string side = dir + "/side.wav", takes_dir = dir + "/takes";

    std::string out;
    std::printf("Writing the demo side to %s...\n", side.c_str());
    if (run_step({"demo-side", side}, &out) != BATCH_DONE)
        return fail("the demo side could not be written");
    if (mkdir(takes_dir.c_str(), 0777) != 0)
        return fail(takes_dir + ": " + std::strerror(errno));

    // The live auto-track: the dialog's SignalRecord on the virtual card,
    // playing the side as fast as it can be read.
    const char* autotrack = batch_find("autotrack") ? "autotrack" : "split";
    std::printf("Auto-tracking it into %s/...\n", takes_dir.c_str());
    std::fflush(stdout);
    out.clear();
    if (run_step({autotrack, takes_dir, "--source=" + side}, &out) != BATCH_DONE)
        return fail("auto-track failed; the files so far are in " + dir);
    std::vector<take> takes;
    for (const std::string& line : lines_of(out)) {
        take t;
        if (parse_take(line, &t))
            takes.push_back(t);
    }
    if (takes.empty())
        return fail("auto-track found no take in the demo side");

    std::printf("Cleaning each take with the DeClicker...\n\n");
    std::fflush(stdout);
    for (take& t : takes) {
        out.clear();
        if (run_step({"declick", t.file}, &out) != BATCH_DONE)
            return fail(t.file + " could not be cleaned; the files so far are in " + dir);
        const std::vector<std::string> lines = lines_of(out);
        if (lines.size() >= 2) {
            t.cleaned = lines[0];
            std::sscanf(lines[1].c_str(), "declick process complete %d corrections", &t.corrections);
        }
    }

    const auto base_name = [](const std::string& path) {
        const size_t slash = path.rfind('/');
        return path.substr(slash == std::string::npos ? 0 : slash + 1);
    };
    std::printf("%-12s %9s %9s %10s %12s  %s\n", "take", "start (s)", "end (s)", "length (s)", "corrections",
                "cleaned into");
    for (const take& t : takes)
        std::printf("%-12s %9.2f %9.2f %10.2f %12d  %s\n", base_name(t.file).c_str(), t.start, t.end,
                    t.end - t.start, t.corrections, base_name(t.cleaned).c_str());
    std::printf("\nThe side:          %s\n"
                "Takes and cleaned: %s/ (trackN.wav as recorded, tracdN.wav declicked)\n",
                side.c_str(), takes_dir.c_str());
    return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
}

} // namespace

BATCH_COMMAND("tour", "tour [DIR]",
              "the main job in one go: write the demo side, auto-track it into DIR/takes/, declick each take, "
              "print a table",
              tour_command);
