// trackmill-batch record and split: the main dialog's Record button and its
// SignalRecord auto-track, run headless through the dialog's own procedure
// on the virtual card (fast by default) or the sound card. The batch tool
// only clicks, types and answers as a user would, and watches the dialog.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <algorithm>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include "core/app_state.h"
#include "core/ids.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "capture/capture_control.h"
#include "capture/capture_watch.h"
#include "platform/acm/acm.h"
#include "platform/file/riff.h"
#include "platform/file/wav_reader.h"
#include "platform/sound/demo_record.h"
#include "platform/sound/sound.h"
#include "platform/system/system.h"
#include "platform/window/headless.h"
#include "res/dialogs.h"
#include "tools/batch/batch.h"

namespace {

constexpr const char* DEFAULT_FORMAT = "pcm,44100,2,16";
constexpr int IDLE_GIVE_UP_MS = 3000;   // nothing posted for this long: nothing runs any more

// The card's pace against the wall clock (--speed; 1 for the sound card).
double pace = 1;

// How long a silent device is waited for: the dialog's own watch over a
// recording gives the time (twice a buffer's, with the allowance for a
// device's start), in real time at the card's pace, and never less than the
// idle allowance; so the dialog ends a stalled recording itself, with its
// message, before the tool gives up (the watch cannot see a stall in fast
// mode, where the clock moves only with the buffers).
int64_t idle_limit_ms()
{
    if (!app.capture_ring.device || !(pace > 0))
        return IDLE_GIVE_UP_MS;
    const double watch_ms = capture_stall_limit_ms(false) / pace;
    return std::max<int64_t>(IDLE_GIVE_UP_MS, int64_t(std::min(watch_ms, 1e12)) + 500);
}

// --- the dialog, watched ---------------------------------------------------------

std::function<void()> after_message;   // runs after every message the dialog handles

msg_result watched_proc(window w, unsigned message, wparam wp, lparam lp)
{
    msg_result r = main_dialog_proc(w, message, wp, lp);
    if (after_message)
        after_message();
    return r;
}

// --- SIGINT, SIGTERM, SIGHUP: a Stop, not a lost file ----------------------------

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt_signal(int)
{
    interrupted = 1;
}

// From here on an interrupt only sets a flag: the running command stops as
// its Stop button would, so the file gets its true sizes.
void catch_interrupts()
{
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

std::function<void()> stop_on_interrupt;   // the command's Stop, run once on an interrupt

// Handles posted messages until `done` holds, or until nothing has been
// posted for idle_limit_ms() of real time (false then).
bool run_until(const std::function<bool()>& done)
{
    auto last = std::chrono::steady_clock::now();
    while (!done()) {
        if (interrupted && stop_on_interrupt) {
            auto stop = std::move(stop_on_interrupt);
            stop_on_interrupt = nullptr;
            stop();
            last = std::chrono::steady_clock::now();
            continue;
        }
        if (window_core_wait_posted(50)) {
            window_core_dispatch_posted();
            last = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(idle_limit_ms())) {
            return false;
        }
    }
    return true;
}

// --- the running line, on a terminal only ------------------------------------------

// A line kept up to date in place on a terminal (\r), drawn at most a few
// times a second; nothing at all when the output goes to a file or a pipe,
// where only the results belong.
struct progress_line {
    bool on = isatty(STDOUT_FILENO) == 1;
    bool shown = false;
    std::chrono::steady_clock::time_point last{};

    template <typename... Args>
    void show(const char* format, Args... args)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!on || now - last < std::chrono::milliseconds(200))
            return;
        last = now;
        std::printf("\r\033[K");
        std::printf(format, args...);
        std::fflush(stdout);
        shown = true;
    }
    void clear()
    {
        if (!shown)
            return;
        std::printf("\r\033[K");
        std::fflush(stdout);
        shown = false;
    }
} progress;

// --- options shared by both commands ---------------------------------------------

struct options {
    const char* command = "";
    const char* target = nullptr;   // OUT.wav or DIR
    const char* format = DEFAULT_FORMAT;
    const char* source = nullptr;   // the virtual card's source; null: the demo record
    bool card = false;
    bool overwrite = false;
    bool bias = false;
    bool paced = false;             // --speed given: the virtual card keeps to the clock
    double seconds = -1;
    const char* intro = nullptr;
    const char* buffer_size = nullptr;
    const char* buffer_count = nullptr;
};

const char* option_value(const char* arg, const char* name)
{
    const size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

int usage(const options& o, const std::string& why)
{
    return batch_usage(o.command, why.c_str());
}

// A box's number typed on the command line: anything else is a typing error.
bool box_number(const options& o, const char* name, const char* value)
{
    uint64_t v;
    if (batch_number(value, &v))
        return true;
    usage(o, std::string(name) + " takes a number, not \"" + value + "\"");
    return false;
}

int fail(const options& o, const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch %s: %s\n", o.command, why.c_str());
    return BATCH_FAILED;
}

bool parse_seconds(const char* text, double* out)
{
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > 0 && v <= 24 * 3600))
        return false;
    *out = v;
    return true;
}

// Reads the arguments; `takes` lists the options the command knows. -1 on
// a usage error (already told), else 0.
int parse(int argc, char** argv, const std::vector<std::string>& takes, options* o)
{
    o->command = argv[0];
    auto knows = [&](const char* name) {
        for (const std::string& t : takes)
            if (t == name)
                return true;
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* v;
        if ((v = option_value(arg, "--format"))) {
            o->format = v;
        } else if ((v = option_value(arg, "--source"))) {
            o->source = v;
        } else if ((v = option_value(arg, "--seconds")) && knows("--seconds")) {
            if (!parse_seconds(v, &o->seconds))
                return usage(*o, "--seconds wants a number of seconds above 0, at most a day"), -1;
        } else if ((v = option_value(arg, "--intro")) && knows("--intro")) {
            if (!box_number(*o, "--intro", v))
                return -1;
            o->intro = v;
        } else if ((v = option_value(arg, "--buffer-size")) && knows("--buffer-size")) {
            if (!box_number(*o, "--buffer-size", v))
                return -1;
            o->buffer_size = v;
        } else if ((v = option_value(arg, "--buffers")) && knows("--buffers")) {
            if (!box_number(*o, "--buffers", v))
                return -1;
            o->buffer_count = v;
        } else if (!std::strcmp(arg, "--card")) {
            o->card = true;
        } else if (!std::strcmp(arg, "--overwrite") && knows("--overwrite")) {
            o->overwrite = true;
        } else if (!std::strcmp(arg, "--bias") && knows("--bias")) {
            o->bias = true;
        } else if (!std::strncmp(arg, "--speed=", 8)) {
            if (sound_parse_option(arg) != 1)
                return usage(*o, std::string(arg) + ": " + sound_source_error()), -1;
            o->paced = true;
            pace = std::strtod(arg + 8, nullptr);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return usage(*o, std::string("unknown option ") + arg), -1;
        } else if (!o->target) {
            o->target = arg;
        } else {
            return usage(*o, std::string("one target only, not also ") + arg), -1;
        }
    }
    if (!o->target || !o->target[0])
        return usage(*o, o->command == std::string("record") ? "which file?" : "which directory?"), -1;
    if (o->card && o->source)
        return usage(*o, "--card and --source exclude each other"), -1;
    format_area spelt;
    char why[200];
    if (acm_parse_spelling(o->format, &spelt, why, sizeof why) != 0)
        return usage(*o, std::string(why) + " (trackmill-batch formats lists the spellings)"), -1;
    return 0;
}

// The sound card, or the virtual card playing the source. "" or the reason.
// The demo record plays its side once or, with `repeat`, again and again.
std::string choose_sound(const options& o, bool repeat = true)
{
    if (o.card) {
        pace = 1;   // the sound card keeps the wall clock whatever --speed says
        return sound_use_portaudio() == 0 ? "" : "the sound card cannot be used (PortAudio did not start)";
    }
    if (sound_use_virtual(o.source ? o.source : "demo", repeat) != 0)
        return sound_source_error();   // it names the source
    if (!o.paced)
        sound_pace_fast();
    return "";
}

// Seconds of audio in a WAV file's data chunk; 0 when it cannot be read.
double wav_seconds(const char* path)
{
    const int fd = wav_open(path);
    if (fd < 0)
        return 0;
    wav_layout l;
    double seconds = 0;
    if (wav_read_layout(fd, &l) == WAV_OK && l.format.fmt.avg_bytes_per_sec > 0)
        seconds = double(l.data_bytes) / l.format.fmt.avg_bytes_per_sec;
    close(fd);
    return seconds;
}

// Seconds the virtual card's source plays before its silence; 0 when unknown.
double source_seconds(const options& o)
{
    if (o.card)
        return 0;
    if (!o.source || !std::strcmp(o.source, "demo"))
        return demo_total_frames() / double(DEMO_RATE);
    return wav_seconds(o.source);
}

// The dialog, open and set up as the user would: format chosen, boxes typed.
struct session {
    const options& o;
    window dialog = nullptr;
    std::string boxes;   // texts of the message boxes shown, one a line

    explicit session(const options& opts) : o(opts) {}
    ~session() { close(); }

    std::string open()
    {
        window_set_backend(headless_backend());
        headless_reset();
        headless_on_message_box([this](const message_box_record& box) {
            std::string line = box.caption + ": " + box.text;
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
            boxes += line + "\n";
            std::fprintf(stderr, "trackmill-batch %s: %s\n", o.command, line.c_str());
        });
        dialog = headless_open_dialog(main_dialog_template(), watched_proc, 0);
        if (!dialog)
            return "the main dialog did not open";
        headless_answer_chooser(o.format);
        headless_click(dialog, CMD_SELECT);
        if (!app.format_chosen)
            return std::string("no recording format is spelt ") + o.format + " (trackmill-batch formats lists them)";
        if (o.buffer_size)
            headless_type(dialog, IDC_BUFFER_SIZE, o.buffer_size);
        if (o.buffer_count)
            headless_type(dialog, IDC_BUFFER_COUNT, o.buffer_count);
        if (o.intro)
            headless_type(dialog, IDC_INTRO_MAX, o.intro);
        return "";
    }
    std::string text(int id)
    {
        char t[512];
        get_item_text(dialog, id, t, sizeof t);
        return t;
    }
    // Exit, as the user leaves: a capture still running is finished.
    void close()
    {
        after_message = nullptr;
        if (!dialog)
            return;
        headless_click(dialog, CMD_EXIT);
        if (app.capture_ring.device) {
            stop_sampling(&app.capture_ring);
            close_wave_in(&app.capture_ring);
        }
        window_core_clear_posted();
        headless_close_dialog(dialog);
        dialog = nullptr;
        release_resources();
        headless_on_message_box(nullptr);
    }
};

bool is_directory(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// --- record ------------------------------------------------------------------------

int record_command(int argc, char** argv)
{
    options o;
    if (parse(argc, argv, {"--seconds", "--overwrite", "--buffer-size", "--buffers"}, &o) != 0)
        return BATCH_USAGE;
    if (o.seconds <= 0)
        return usage(o, "how long? --seconds=S");
    if (is_directory(o.target))
        return fail(o, std::string(o.target) + " is a directory");
    if (exists(o.target) && !o.overwrite)
        return fail(o, std::string(o.target) +
                           " exists; --overwrite records over it as the dialog does (the old file is replaced)");
    std::string problem = choose_sound(o);
    if (!problem.empty())
        return fail(o, problem);

    session s(o);
    problem = s.open();
    if (!problem.empty())
        return fail(o, problem);
    headless_type(s.dialog, IDC_FILE_BOX, o.target);
    headless_answer_box(o.overwrite ? IDYES : IDNO);

    const wave_format& chosen = app.capture_ring.chosen_format.fmt;
    const double target_bytes = std::ceil(o.seconds * chosen.avg_bytes_per_sec);
    bool stopped_by_us = false;
    // The Stop click comes right after the buffer that completes the time asked for.
    after_message = [&] {
        if (app.recording && !stopped_by_us && double(app.data_bytes_written) >= target_bytes) {
            stopped_by_us = true;
            headless_click(s.dialog, CMD_RECORD);
        }
        if (app.recording && progress.on)
            progress.show("%s", s.text(IDC_STATUS).c_str());
    };
    catch_interrupts();
    headless_click(s.dialog, CMD_RECORD);
    if (!app.recording)
        return fail(o, "the recording did not start");
    stop_on_interrupt = [&] {
        if (app.recording)
            headless_click(s.dialog, CMD_RECORD);
    };
    const bool ran = run_until([] { return !app.recording; });
    after_message = nullptr;
    progress.clear();
    stop_on_interrupt = nullptr;
    if (!ran) {
        s.close();
        return fail(o, "the sound device stopped delivering; the file holds what came before");
    }
    const uint32_t data_bytes = app.data_bytes_written;
    const std::string tag = s.text(IDC_FORMAT_TAG), description = s.text(IDC_FORMAT_NAME);
    s.close();
    const double seconds = chosen.avg_bytes_per_sec ? data_bytes / double(chosen.avg_bytes_per_sec) : 0;
    std::printf("%s: %s %s; %.2f s, %u bytes of data\n", o.target, tag.c_str(), description.c_str(), seconds,
                unsigned(data_bytes));
    if (!sound_is_virtual())
        std::printf("input overflows: %u\n", unsigned(sound_input_overflows()));
    if (interrupted && !stopped_by_us)
        return fail(o, "interrupted; the file holds what came before");
    if (!stopped_by_us)
        return fail(o, "the recording ended early, as the message above says; the file holds what came before");
    return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
}

// --- split -------------------------------------------------------------------------

struct take_seen {
    std::string file;
    uint32_t start_ms;
    dev_t device;   // the file the take began, so a file put in its place is not listed as it
    ino_t inode;
};

// A track file left in DIR by an earlier run: "track" and a number, ".wav".
std::string earlier_track_file(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return "";
    std::string found;
    while (const dirent* e = readdir(d)) {
        const char* n = e->d_name;
        if (std::strncmp(n, "track", 5) != 0)
            continue;
        size_t digits = std::strspn(n + 5, "0123456789");
        if (digits > 0 && !std::strcmp(n + 5 + digits, ".wav")) {
            found = dir + n;
            break;
        }
    }
    closedir(d);
    return found;
}

// Why a take as listed is not what is on disk; "" when it is.
std::string take_not_on_disk(const take_seen& t)
{
    struct stat st;
    if (stat(t.file.c_str(), &st) != 0)
        return t.file + " is gone";
    if (st.st_dev != t.device || st.st_ino != t.inode)
        return t.file + " is no longer the file this run recorded";
    return "";
}

int split_command(int argc, char** argv)
{
    options o;
    if (parse(argc, argv, {"--seconds", "--intro", "--bias"}, &o) != 0)
        return BATCH_USAGE;
    // A missing DIR is made, as the takes need somewhere to go; its parent
    // is not: a mistyped path should not grow a tree of folders.
    if (!exists(o.target) && mkdir(o.target, 0777) != 0)
        return fail(o, std::string(o.target) + ": " + std::strerror(errno));
    if (!is_directory(o.target))
        return fail(o, std::string(o.target) + " is not a directory");
    const std::string base = std::string(o.target) + (o.target[std::strlen(o.target) - 1] == '/' ? "" : "/");
    // An earlier track file there is never written over: the tool answers
    // No to every overwrite question, so each take's file is one this run
    // created. A file that appears while the run goes on (another run in the
    // same directory) ends the run at that take.
    const std::string earlier = earlier_track_file(base);
    if (!earlier.empty())
        return fail(o, earlier + " exists: split into a directory without track files");
    if (o.card && o.seconds <= 0)
        return usage(o, "from the sound card, say for how long: --seconds=S");
    // One side of the demo record is split, not its next pass.
    std::string problem = choose_sound(o, false);
    if (!problem.empty())
        return fail(o, problem);
    const double play_seconds = o.seconds > 0 ? o.seconds : source_seconds(o);

    session s(o);
    problem = s.open();
    if (!problem.empty())
        return fail(o, problem);
    // The track files are named from DIR/track.wav, as Change... names them.
    headless_answer_save((base + "track.wav").c_str());
    headless_click(s.dialog, CMD_CHANGE);
    if (app.track_name != base + "track0.wav")
        return fail(o, "the track files cannot be named in " + base + " (the path is too long)");

    // Times are told from here: on the virtual card in fast mode, that is
    // the source's first frame, the bias measurement included.
    const uint32_t t0 = get_tick_count();
    if (o.bias) {
        headless_click(s.dialog, CMD_BIAS_ADJUST);
        if (!run_until([] { return !app.bias_adjusting && !app.monitoring && app.capture_ring.device == nullptr; }))
            return fail(o, "the bias measurement did not finish");
        std::printf("bias: left %u right %u\n", unsigned(app.bias_level[0]), unsigned(app.bias_level[1]));
    }

    // After the source: the intro allowance and a take's countdown more.
    const uint32_t end_ms = uint32_t((play_seconds + (o.seconds > 0 ? 0 : app.intro_max_seconds + 10)) * 1000);
    headless_answer_box(IDNO);
    std::vector<take_seen> takes;
    size_t told = 0;   // takes whose line is out
    std::string missing;   // the first take that is not on disk as it was begun
    // Each take's line goes out as soon as its file is finished, so a
    // script or a person reading along sees the takes arrive. A take whose
    // file is gone or was replaced is not listed.
    auto tell_finished = [&](bool all) {
        const size_t done = all || !app.recording ? takes.size() : takes.size() - 1;
        for (; told < done; ++told) {
            const take_seen& t = takes[told];
            const std::string why = take_not_on_disk(t);
            if (!why.empty()) {
                if (missing.empty())
                    missing = why;
                continue;
            }
            const double start = t.start_ms / 1000.0;
            progress.clear();
            std::printf("%s %.2f %.2f\n", t.file.c_str(), start, start + wav_seconds(t.file.c_str()));
            std::fflush(stdout);
        }
    };
    int was_recording = 0;
    bool over = false;
    std::string taken;   // a take's file that another run created first
    after_message = [&] {
        if (app.recording && !was_recording) {
            struct stat st = {};
            stat(app.capture_file_name, &st);
            takes.push_back({app.capture_file_name, app.record_start_tick - t0, st.st_dev, st.st_ino});
        }
        if (!app.recording && was_recording)
            tell_finished(false);
        was_recording = app.recording;
        if (taken.empty() && !app.recording && s.boxes.find("Overwrite current file ?!") != std::string::npos)
            taken = app.capture_file_name;
        progress.show("%.0f s of the side, %zu take%s", (get_tick_count() - t0) / 1000.0, takes.size(),
                      takes.size() == 1 ? "" : "s");
        if (over || get_tick_count() - t0 < end_ms)
            return;
        // Time is up: a take still running ends, waiting stops.
        if (app.recording || app.signal_waiting) {
            over = true;
            headless_click(s.dialog, CMD_SIGNAL_RECORD);
        }
    };
    catch_interrupts();
    headless_click(s.dialog, CMD_SIGNAL_RECORD);
    if (!app.signal_waiting)
        return fail(o, "SignalRecord did not arm");
    // An interrupt ends a running take and the waiting, as the button does.
    stop_on_interrupt = [&] {
        over = true;
        if (app.recording || app.signal_waiting)
            headless_click(s.dialog, CMD_SIGNAL_RECORD);
    };
    // Auto-track stops by itself only when something went wrong (a full
    // disk, a failing device, a take's file already there): then nothing
    // more is posted and the wait ends.
    const bool ran =
        run_until([&] { return (over || !taken.empty()) && !app.recording && !app.signal_waiting; });
    after_message = nullptr;
    stop_on_interrupt = nullptr;
    const bool stopped_early = !over && !app.recording && !app.signal_waiting;
    s.close();
    tell_finished(true);
    progress.clear();
    if (!sound_is_virtual())
        std::printf("input overflows: %u\n", unsigned(sound_input_overflows()));
    if (!taken.empty())
        return fail(o, taken + " was created by someone else (another run in " + base +
                           "?); it is left as it is and this run ends; the takes above are kept");
    if (!missing.empty())
        return fail(o, missing + "; the takes above are kept");
    if (interrupted)
        return fail(o, "interrupted; the takes above are kept");
    if (!ran)
        return fail(o, stopped_early ? "auto-track stopped before the side ended; the takes above are kept"
                                     : "the sound device stopped delivering; the takes above are kept");
    if (takes.empty())
        return fail(o, "no take: the input never reached the thresholds (left " + std::to_string(app.signal_threshold[0]) +
                           ", right " + std::to_string(app.signal_threshold[1]) + ")");
    return std::fflush(stdout) == 0 ? BATCH_DONE : BATCH_FAILED;
}

} // namespace

BATCH_COMMAND("record",
              "record OUT.wav --seconds=S [--format=F] [--source=IN.wav|demo | --card] [--speed=N] "
              "[--overwrite] [--buffer-size=B] [--buffers=N]",
              "record through the dialog's Record button (fast virtual card unless --card or --speed); "
              "prints the file's format and length",
              record_command);
BATCH_COMMAND("autotrack",
              "autotrack DIR [--source=IN.wav|demo | --card --seconds=S] [--format=F] [--intro=S] [--bias] [--speed=N]",
              "auto-track a side into DIR/track0.wav, track1.wav...; prints each take's file, start and end (s)",
              split_command);
