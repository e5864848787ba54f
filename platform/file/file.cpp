// Plain files for the capture writer, over POSIX descriptors. Errors are
// turned into the system's last-error codes that the failure reports show.
#include <new>
#include "platform/file/file.h"
#include "platform/system/system.h"
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct plain_file_object {
    int fd;
};

namespace {

// Bytes that may still reach the disk before writes fail; negative: no limit.
std::atomic<int64_t> write_budget{-1};

unsigned error_from_errno(int e)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EIO:
        return ERROR_WRITE_FAULT;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

// Opens without blocking (a FIFO with no reader would otherwise hang the
// open) and keeps only regular files: a capture file must be seekable for
// the size patch.
int open_regular(const char* name, int flags)
{
    int fd = open(name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

plain_file plain_open_or_create(const char* name, bool* existed)
{
    if (existed)
        *existed = false;
    if (!name || !*name) {
        set_last_error(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    bool was_there = false;
    int fd = open_regular(name, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0 && errno == EEXIST) {
        was_there = true;
        fd = open_regular(name, O_WRONLY);
    }
    if (fd < 0) {
        set_last_error(error_from_errno(errno));
        return nullptr;
    }
    auto* f = new (std::nothrow) plain_file_object{fd};
    if (!f) {
        close(fd);
        set_last_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (existed)
        *existed = was_there;
    set_last_error(was_there ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return f;
}

uint32_t plain_write(plain_file f, const void* data, uint32_t count)
{
    if (!f || (!data && count > 0)) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    uint32_t allowed = count;
    int64_t budget = write_budget.load();
    if (budget >= 0 && budget < int64_t(count))
        allowed = uint32_t(budget);
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < allowed) {
        ssize_t n = write(f->fd, p + done, allowed - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            set_last_error(n < 0 ? error_from_errno(errno) : ERROR_WRITE_FAULT);
            break;
        }
        done += uint32_t(n);
    }
    if (budget >= 0)
        write_budget.fetch_sub(done);
    if (done < count && done == allowed)
        set_last_error(ERROR_DISK_FULL);
    return done;
}

int64_t plain_seek(plain_file f, int64_t offset, int origin)
{
    if (!f || (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return -1;
    }
    off_t at = lseek(f->fd, off_t(offset), origin);
    if (at < 0) {
        set_last_error(error_from_errno(errno));
        return -1;
    }
    return int64_t(at);
}

int plain_truncate(plain_file f, int64_t length)
{
    if (!f || length < 0) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return -1;
    }
    while (ftruncate(f->fd, off_t(length)) != 0) {
        if (errno != EINTR) {
            set_last_error(error_from_errno(errno));
            return -1;
        }
    }
    return 0;
}

int plain_remove(const char* name)
{
    if (!name || unlink(name) != 0) {
        set_last_error(name ? error_from_errno(errno) : ERROR_INVALID_PARAMETER);
        return -1;
    }
    return 0;
}

bool plain_same_file(const char* a, const char* b)
{
    struct stat sa, sb;
    return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int plain_create_beside(const char* name, char* out, uint32_t out_bytes)
{
    const int n = name ? std::snprintf(out, out_bytes, "%s.XXXXXX", name) : -1;
    if (n < 0 || uint32_t(n) >= out_bytes) {
        set_last_error(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    const int fd = mkostemp(out, O_CLOEXEC);
    if (fd < 0) {
        set_last_error(error_from_errno(errno));
        return -1;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return 0;
}

int plain_sync(plain_file f)
{
    if (!f)
        return 0;
    if (fsync(f->fd) != 0) {
        set_last_error(error_from_errno(errno));
        return -1;
    }
    return 0;
}

int plain_sync_name(const char* name)
{
    const int fd = name ? open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    const bool done = fd >= 0 && fsync(fd) == 0;
    const int e = errno;
    if (fd >= 0)
        close(fd);
    if (!done) {
        set_last_error(name ? error_from_errno(e) : ERROR_INVALID_PARAMETER);
        return -1;
    }
    return 0;
}

int plain_sync_folder_of(const char* name)
{
    if (!name)
        return -1;
    const char* slash = std::strrchr(name, '/');
    const std::string folder = !slash ? std::string(".") : slash == name ? std::string("/") : std::string(name, slash);
    return plain_sync_name(folder.c_str());
}

int plain_rename(const char* from, const char* to)
{
    // The file's bytes reach the disk before its new name does, and the
    // name before the caller is told: a crash right after a finished run
    // leaves the whole new file or the earlier one, never an empty one.
    if (plain_sync_name(from) != 0)
        return -1;
    if (!to || rename(from, to) != 0) {
        set_last_error(to ? error_from_errno(errno) : ERROR_INVALID_PARAMETER);
        return -1;
    }
    plain_sync_folder_of(to);   // the rename has happened: a folder that cannot be synced does not undo it
    return 0;
}

int plain_close(plain_file f)
{
    if (!f)
        return 0;
    int r = close(f->fd);
    delete f;
    if (r != 0) {
        set_last_error(error_from_errno(errno));
        return -1;
    }
    return 0;
}

void plain_fail_writes_after(int64_t bytes)
{
    write_budget.store(bytes < 0 ? -1 : bytes);
}
