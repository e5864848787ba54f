// System services over POSIX: monotonic and virtual clocks, statvfs,
// path normalisation, an flock-held instance lock and per-thread last errors.
#include "platform/system/system.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {
std::atomic<bool> virtual_on{false};
std::atomic<uint32_t> virtual_ms{0};
std::atomic<unsigned> free_fail{0};
thread_local unsigned last_error = 0;
int lock_fd = -1;
int language = -1;

unsigned errno_to_error(int e)
{
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EIO: return ERROR_WRITE_FAULT;
    default: return ERROR_INVALID_PARAMETER;
    }
}

// The real clock: wall milliseconds, scaled by the rate since the rate was
// last set, so the count never jumps when the rate changes.
std::mutex rate_lock;
double clock_rate = 1.0;
double rate_anchor_wall = 0;   // wall ms when the rate was set
double rate_anchor_tick = 0;   // tick count at that moment

double wall_ms()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count()) / 1000.0;
}

uint32_t scaled_ticks(double wall)
{
    double ticks = rate_anchor_tick + (wall - rate_anchor_wall) * clock_rate;
    return uint32_t(uint64_t(ticks));
}
} // namespace

uint32_t get_tick_count()
{
    if (virtual_on.load())
        return virtual_ms.load();
    std::lock_guard<std::mutex> lock(rate_lock);
    return scaled_ticks(wall_ms());
}

void clock_set_rate(double rate)
{
    if (!(rate > 0))
        rate = 1.0;
    std::lock_guard<std::mutex> lock(rate_lock);
    double now = wall_ms();
    if (rate_anchor_wall == 0 && rate_anchor_tick == 0)
        rate_anchor_tick = now;   // first change: continue from the wall count
    else
        rate_anchor_tick = rate_anchor_tick + (now - rate_anchor_wall) * clock_rate;
    rate_anchor_wall = now;
    clock_rate = rate;
}

void clock_use_virtual(bool on)
{
    virtual_on = on;
}

bool clock_is_virtual()
{
    return virtual_on.load();
}

void clock_advance(uint32_t ms)
{
    virtual_ms.fetch_add(ms);
}

void clock_set(uint32_t ms)
{
    virtual_ms = ms;
}

int disk_free_bytes(const char* dir, uint64_t* free_bytes)
{
    unsigned fail = free_fail.load();
    if (fail) {
        set_last_error(fail);
        return 0;
    }
    struct statvfs st;
    if (statvfs(dir && *dir ? dir : ".", &st) != 0) {
        set_last_error(errno_to_error(errno));
        return 0;
    }
    if (free_bytes)
        *free_bytes = uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
    return 1;
}

void disk_free_fail(unsigned code)
{
    free_fail = code;
}

int full_path_name(const char* name, char* out, int size)
{
    if (!name || !out || size <= 0) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path;
    if (name[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) {
            set_last_error(errno_to_error(errno));
            return 0;
        }
        path = std::string(cwd) + "/" + name;
    } else {
        path = name;
    }
    // Fold "." and ".." and repeated separators; a trailing separator stays,
    // so a directory name keeps its meaning.
    bool trailing = !path.empty() && path.back() == '/';
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string result;
    for (const std::string& p : parts)
        result += "/" + p;
    if (result.empty() || trailing)
        result += "/";
    if (result.size() + 1 > size_t(size)) {
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, result.c_str(), result.size() + 1);
    return int(result.size());
}

unsigned instance_lock_acquire(const char* name)
{
    const char* dir = getenv("XDG_RUNTIME_DIR");
    std::string path;
    if (dir && *dir && access(dir, W_OK) == 0)
        path = std::string(dir) + "/trackmill-" + name + ".lock";
    else
        path = "/tmp/trackmill-" + std::to_string(getuid()) + "-" + name + ".lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno_to_error(errno);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        close(fd);
        return e == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : errno_to_error(e);
    }
    if (lock_fd >= 0)
        close(lock_fd);
    lock_fd = fd;   // held until the process ends; the kernel drops it then
    return 0;
}

void instance_lock_release()
{
    if (lock_fd >= 0) {
        close(lock_fd);
        lock_fd = -1;
    }
}

unsigned get_last_error()
{
    return last_error;
}

void set_last_error(unsigned code)
{
    last_error = code;
}

ui_lang ui_language()
{
    if (language >= 0)
        return ui_lang(language);
    const char* vars[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* v : vars) {
        const char* value = getenv(v);
        if (value && *value)
            return (std::strncmp(value, "pl", 2) == 0) ? LANG_POLISH : LANG_ENGLISH;
    }
    return LANG_ENGLISH;
}

void set_ui_language(ui_lang lang)
{
    language = int(lang);
}

namespace {
std::string doc_dir_override;   // set by tests; empty: beside the program
}

void installed_doc_dir_use(const char* dir)
{
    doc_dir_override = dir ? dir : "";
}

int installed_doc_file(const char* name, char* out, int size)
{
    std::string dir = doc_dir_override;
    if (dir.empty()) {
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0)
            return 0;
        exe[n] = '\0';
        const std::string bin(exe);
        const size_t slash = bin.rfind('/');
        if (slash == std::string::npos)
            return 0;
        dir = bin.substr(0, slash) + "/../share/doc/trackmill";
    }
    const std::string path = dir + "/" + name;
    if (access(path.c_str(), R_OK) != 0)
        return 0;
    return full_path_name(path.c_str(), out, size);
}
