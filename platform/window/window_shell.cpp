// The desktop's shell as the window layer offers it: web addresses handed
// to the browser and programs started on their own, through the back end.
#include "platform/window/window_backend.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstdio>
#include <string>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

bool window_core_is_web_address(const char* url)
{
    if (!url)
        return false;
    size_t scheme = 0;
    if (strncasecmp(url, "https://", 8) == 0)
        scheme = 8;
    else if (strncasecmp(url, "http://", 7) == 0)
        scheme = 7;
    else
        return false;
    if (url[scheme] == '\0' || url[scheme] == '/')
        return false;   // no host
    for (const char* c = url; *c; ++c)
        if (uint8_t(*c) <= 0x20 || *c == 0x7F)
            return false;   // blanks and control characters are never part of an address
    return true;
}

int window_core_spawn_program(const char* path)
{
    if (!path || !*path)
        return -1;

    posix_spawn_file_actions_t files;
    if (posix_spawn_file_actions_init(&files) != 0)
        return -1;
    // Nothing we hold open (the instance lock, a capture file, the sound
    // card) may live on in a program that outlasts us; its input is empty.
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&files, 3);

    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&files);
        return -1;
    }
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // A session of its own: a Ctrl+C in our terminal does not reach it.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid = 0;
    int rc = std::strchr(path, '/') ? posix_spawn(&pid, path, &files, &attr, argv, environ)
                                    : posix_spawnp(&pid, path, &files, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0)
        return -1;

    // No one waits for the program, but its exit is collected so that it
    // does not linger as a zombie while we run.
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the program still runs; only its exit status waits.
    }
    return 0;
}

int open_url(const char* url)
{
    if (!window_core_is_web_address(url))
        return -1;
    const window_backend* b = window_core_backend();
    return b->open_url ? b->open_url(url) : -1;
}

int open_document(const char* path)
{
    // Only a plain file named by its full path: never a device, a folder
    // or a program, which a file address would hand to whatever opens it.
    struct stat st;
    if (!path || path[0] != '/' || stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    std::string url = "file://";
    for (const char* c = path; *c; ++c) {
        const uint8_t b = uint8_t(*c);
        if (b <= 0x20 || b == 0x7F || b == '%' || b == '#' || b == '?') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", b);
            url += escaped;
        } else {
            url += *c;
        }
    }
    const window_backend* b = window_core_backend();
    return b->open_url ? b->open_url(url.c_str()) : -1;
}

int start_program(const char* path)
{
    if (!path || !*path)
        return -1;
    const window_backend* b = window_core_backend();
    return b->start_program ? b->start_program(path) : window_core_spawn_program(path);
}
