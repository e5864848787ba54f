// Runs sox, the independent reader and writer of WAV files that the file
// tests check against. Tests skip with a message when it is not installed.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

inline bool sox_available()
{
    return std::system("sox --version >/dev/null 2>&1") == 0;
}

// Runs a shell command; returns its exit status and its stdout and stderr
// together in *output.
inline int run_command(const std::string& command, std::string* output)
{
    std::string text;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0)
        text.append(chunk, n);
    int status = pclose(p);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define SKIP_WITHOUT_SOX()                                                        \
    do {                                                                          \
        if (!sox_available())                                                     \
            GTEST_SKIP() << "sox is not installed (scripts/install-deps installs it)"; \
    } while (0)
