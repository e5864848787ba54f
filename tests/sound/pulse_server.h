// A private PulseAudio server with one null sink, for the tests of the real
// sound path: what is played into the sink can be recorded from its monitor
// sample for sample. Each server lives in its own runtime directory, so
// tests running side by side do not meet.
#pragma once
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include "tests/sound/sound_test_util.h"

extern char** environ;

namespace sound_test {

// Runs `command` under /bin/sh in the background; returns its pid or -1.
inline pid_t spawn_shell(const std::string& command)
{
    pid_t pid = -1;
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    return pid;
}

// Waits up to `ms` for the process to end; its exit status, or -1 if it
// did not end (it is then killed).
inline int wait_process(pid_t pid, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline void end_process(pid_t pid)
{
    kill(pid, SIGTERM);
    wait_process(pid, 2000);
}

class pulse_server {
public:
    // Starts the server; false with the reason in *why when it cannot.
    bool start(std::string* why)
    {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        old_runtime_ = old ? old : "";
        had_runtime_ = old != nullptr;
        runtime_ = dir_.path;
        chmod(runtime_.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        std::string log = dir_.file("pulseaudio.log");
        std::string command = "pulseaudio -D -n --exit-idle-time=-1 --log-target=stderr "
                              "-L module-native-protocol-unix "
                              "-L 'module-null-sink sink_name=vsink rate=44100 channels=2' 2>'" + log + "'";
        int status = std::system(command.c_str());
        if (status != 0) {
            std::vector<uint8_t> text = read_file(log);
            *why = "pulseaudio would not start (" + command + "): " + std::string(text.begin(), text.end());
            return false;
        }
        started_ = true;
        for (int i = 0; i < 200; ++i) {
            if (std::system("pactl info >/dev/null 2>&1") == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        *why = "pulseaudio started but does not answer pactl";
        return false;
    }
    ~pulse_server()
    {
        if (started_) {
            if (std::system("pulseaudio --kill 2>/dev/null") != 0)
                std::fprintf(stderr, "pulseaudio --kill failed in %s\n", runtime_.c_str());
            // The server removes its files on the way out: let it finish
            // before the directory goes.
            std::string pid_file = runtime_ + "/pulse/pid";
            for (int i = 0; i < 200 && access(pid_file.c_str(), F_OK) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (had_runtime_)
            setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    std::string file(const char* name) const { return dir_.file(name); }

private:
    scratch_dir dir_;
    std::string runtime_;
    std::string old_runtime_;
    bool had_runtime_ = false;
    bool started_ = false;
};

}  // namespace sound_test
