// Buffered RIFF file access over POSIX descriptors: one window of the file
// in memory at a time, chunk descent and ascent, direct buffer access.
#include "platform/file/riff.h"
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/system/byte_order.h"

// The window invariant: `buffer` holds the file bytes [window, window + size)
// where window is a multiple of size. In files that can be read the buffer
// is an exact image of that stretch (file content, zeros past the end of
// the file) with our unwritten bytes in [dirty_lo, dirty_hi); in write-only
// files only the dirty stretch is known, so it is always one contiguous run.
struct riff_file_object {
    int fd;
    bool can_read;
    bool can_write;
    uint8_t* buffer;
    int32_t size;         // bytes in the buffer
    int64_t window;       // file offset of buffer[0]
    int32_t next;         // position within the window, 0..size
    int32_t loaded;       // bytes of the window read from the file
    int32_t dirty_lo;     // unwritten stretch; dirty_lo == dirty_hi when clean
    int32_t dirty_hi;
    int64_t file_size;    // including bytes still in the buffer
    int64_t disk_offset;  // just past the window's bytes read from or written to disk
    bool stale;           // the window's read failed: reload before any use
    bool handed_out;      // between riff_get_info and riff_set_info
    int32_t handout_next; // `next` when the state was last handed out
};

namespace {

constexpr int32_t DEFAULT_BUFFER_BYTES = 8192;
constexpr int32_t MAX_BUFFER_BYTES = 1 << 24;
// Positions beyond this are refused so that window arithmetic cannot overflow.
constexpr int64_t MAX_POSITION = int64_t(1) << 48;
constexpr uint32_t CHUNK_CREATED = 0x0001;   // riff_chunk.flags: size to be written on ascent

std::atomic<int64_t> write_budget{-1};
std::atomic<int64_t> read_budget{-1};

// Handles the caller may use; a closed or foreign pointer is refused rather
// than followed (a double close must not free twice).
std::mutex live_lock;
std::unordered_set<riff_file_object*> live_files;

bool is_live(riff_file f)
{
    if (!f)
        return false;
    std::lock_guard<std::mutex> hold(live_lock);
    return live_files.count(f) != 0;
}

int32_t valid_bytes(const riff_file_object* f)
{
    return std::max(f->loaded, f->dirty_hi);
}

int64_t position(const riff_file_object* f)
{
    return f->window + f->next;
}

// Full transfers or failure; a short count only at the end of the file.
int64_t disk_read(int fd, uint8_t* out, int32_t count, int64_t offset)
{
    int64_t budget = read_budget.load();
    if (budget >= 0 && budget < count) {
        errno = EIO;
        return -1;
    }
    int32_t done = 0;
    while (done < count) {
        ssize_t n = pread(fd, out + done, size_t(count - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += int32_t(n);
    }
    if (budget >= 0)
        read_budget.fetch_sub(done);
    return done;
}

bool disk_write(int fd, const uint8_t* data, int32_t count, int64_t offset)
{
    int32_t allowed = count;
    int64_t budget = write_budget.load();
    if (budget >= 0 && budget < count)
        allowed = int32_t(budget);
    int32_t done = 0;
    while (done < allowed) {
        ssize_t n = pwrite(fd, data + done, size_t(allowed - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += int32_t(n);
    }
    if (budget >= 0)
        write_budget.fetch_sub(done);
    return done == count;
}

// Writes the dirty stretch out; the buffer stays as it is.
unsigned flush(riff_file_object* f)
{
    if (f->dirty_lo == f->dirty_hi)
        return 0;
    if (!disk_write(f->fd, f->buffer + f->dirty_lo, f->dirty_hi - f->dirty_lo, f->window + f->dirty_lo))
        return MMIOERR_CANNOTWRITE;
    f->loaded = std::max(f->loaded, f->dirty_hi);
    f->disk_offset = std::max(f->disk_offset, f->window + f->dirty_hi);
    f->dirty_lo = f->dirty_hi = 0;
    return 0;
}

// Reads the current window from the file (files that can be read); the rest
// of the buffer is zeros, as the file reads past its end.
unsigned load(riff_file_object* f)
{
    f->loaded = 0;
    if (!f->can_read) {
        std::memset(f->buffer, 0, size_t(f->size));
        f->disk_offset = f->window;
        return 0;
    }
    int64_t n = disk_read(f->fd, f->buffer, f->size, f->window);
    if (n < 0) {
        std::memset(f->buffer, 0, size_t(f->size));
        f->disk_offset = f->window;
        f->stale = true;
        return MMIOERR_CANNOTREAD;
    }
    f->stale = false;
    std::memset(f->buffer + n, 0, size_t(f->size - n));
    f->loaded = int32_t(n);
    f->disk_offset = f->window + n;
    f->file_size = std::max(f->file_size, f->disk_offset);
    return 0;
}

// Moves the buffer to the window starting at `offset` (a multiple of size),
// writing the old one out first.
unsigned enter_window(riff_file_object* f, int64_t offset)
{
    if (unsigned err = flush(f))
        return err;
    f->window = offset;
    f->next = 0;
    return load(f);
}

// Records that [lo, hi) of the buffer holds new bytes. Where the new stretch
// does not join the old one and the bytes between are not known (write-only
// files), the old stretch is written out first.
unsigned mark_dirty(riff_file_object* f, int32_t lo, int32_t hi)
{
    if (lo >= hi)
        return 0;
    if (f->dirty_lo != f->dirty_hi && !f->can_read && (hi < f->dirty_lo || lo > f->dirty_hi)) {
        if (unsigned err = flush(f))
            return err;
    }
    if (f->dirty_lo == f->dirty_hi) {
        f->dirty_lo = lo;
        f->dirty_hi = hi;
    } else {
        f->dirty_lo = std::min(f->dirty_lo, lo);
        f->dirty_hi = std::max(f->dirty_hi, hi);
    }
    f->file_size = std::max(f->file_size, f->window + hi);
    return 0;
}

// A window whose read failed is read again before it is used.
unsigned fresh(riff_file_object* f)
{
    return f->stale ? load(f) : 0;
}

int32_t read_bytes(riff_file_object* f, uint8_t* out, int32_t count)
{
    if (fresh(f) != 0)
        return -1;
    int32_t done = 0;
    while (done < count) {
        if (f->next >= f->size) {
            if (enter_window(f, f->window + f->size) != 0)
                return -1;
        }
        int32_t avail = valid_bytes(f) - f->next;
        if (avail <= 0)
            break;
        int32_t n = std::min(avail, count - done);
        std::memcpy(out + done, f->buffer + f->next, size_t(n));
        f->next += n;
        done += n;
    }
    return done;
}

int32_t write_bytes(riff_file_object* f, const uint8_t* data, int32_t count)
{
    if (fresh(f) != 0)
        return -1;
    int32_t done = 0;
    while (done < count) {
        if (f->next >= f->size) {
            if (position(f) + f->size > MAX_POSITION || enter_window(f, f->window + f->size) != 0)
                return -1;
        }
        int32_t n = std::min(f->size - f->next, count - done);
        std::memcpy(f->buffer + f->next, data + done, size_t(n));
        if (mark_dirty(f, f->next, f->next + n) != 0)
            return -1;
        f->next += n;
        done += n;
    }
    return done;
}

// A seek that stays inside the window (its end included) only moves the
// position; any other goes to the window holding the target.
int64_t seek_to(riff_file_object* f, int64_t target)
{
    if (target < 0 || target > MAX_POSITION)
        return -1;
    if (!f->stale && target >= f->window && target <= f->window + f->size) {
        f->next = int32_t(target - f->window);
        return target;
    }
    int64_t start = target - target % f->size;
    if (enter_window(f, start) != 0)
        return -1;
    f->next = int32_t(target - start);
    return target;
}

void fill_info(const riff_file_object* f, riff_info* info)
{
    info->flags = 0;
    info->error = 0;
    info->buffer_size = f->size;
    info->buffer = f->buffer;
    info->next = f->buffer + f->next;
    info->end_read = f->buffer + valid_bytes(f);
    info->end_write = f->can_write ? f->buffer + f->size : f->buffer;
    info->buffer_disk_offset = f->window;
    info->disk_offset = f->disk_offset;
}

// Takes back a handed-out state: the caller's position, and with MMIO_DIRTY
// the bytes it wrote between the position it was given and its position now.
unsigned absorb(riff_file_object* f, const riff_info* info)
{
    if (info->buffer != f->buffer || info->next < f->buffer || info->next > f->buffer + f->size)
        return MMIOERR_INVALIDPARAM;
    int32_t next = int32_t(info->next - f->buffer);
    if (info->flags & MMIO_DIRTY) {
        if (!f->can_write)
            return MMIOERR_CANNOTWRITE;
        int32_t from = f->handed_out ? f->handout_next : f->next;
        if (unsigned err = mark_dirty(f, std::min(from, next), std::max(from, next)))
            return err;
    }
    f->next = next;
    return 0;
}

unsigned usable(riff_file f)
{
    if (!is_live(f))
        return MMIOERR_INVALIDPARAM;
    if (f->handed_out)
        return MMIOERR_INFOTAKEN;
    return 0;
}

} // namespace

unsigned riff_open_error(int e, bool creating)
{
    switch (e) {
    case ENOENT:
        return creating ? MMIOERR_PATHNOTFOUND : MMIOERR_FILENOTFOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return MMIOERR_ACCESSDENIED;
    case EMFILE:
    case ENFILE:
        return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM:
        return MMIOERR_OUTOFMEMORY;
    case ENXIO:
    case ENODEV:
        return MMIOERR_INVALIDFILE;
    default:
        return MMIOERR_CANNOTOPEN;
    }
}

riff_file riff_open(const char* name, riff_info* info, uint32_t flags)
{
    auto fail = [info](unsigned code) -> riff_file {
        if (info)
            info->error = code;
        return nullptr;
    };
    uint32_t access = flags & 0x3;
    bool creating = (flags & MMIO_CREATE) != 0;
    if (!name || access == 0x3 || (creating && access == MMIO_READ))
        return fail(MMIOERR_INVALIDPARAM);
    if (!*name)
        return fail(MMIOERR_FILENOTFOUND);
    int32_t size = DEFAULT_BUFFER_BYTES;
    if (info && info->buffer_size != 0) {
        if (info->buffer_size < 0 || info->buffer_size > MAX_BUFFER_BYTES)
            return fail(MMIOERR_INVALIDPARAM);
        size = info->buffer_size;
    }

    int oflags = access == MMIO_READ ? O_RDONLY : access == MMIO_WRITE ? O_WRONLY : O_RDWR;
    if (creating)
        oflags |= O_CREAT | O_TRUNC;
    // Without O_NONBLOCK a FIFO would hold the open until a writer comes.
    int fd = open(name, oflags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return fail(riff_open_error(errno, creating));
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        bool dir = S_ISDIR(st.st_mode);
        close(fd);
        return fail(dir ? MMIOERR_ACCESSDENIED : MMIOERR_INVALIDFILE);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    auto* f = new (std::nothrow) riff_file_object{};
    uint8_t* buffer = new (std::nothrow) uint8_t[size_t(size)];
    if (!f || !buffer) {
        delete f;
        delete[] buffer;
        close(fd);
        return fail(MMIOERR_OUTOFMEMORY);
    }
    f->fd = fd;
    f->can_read = access != MMIO_WRITE;
    f->can_write = access != MMIO_READ;
    f->buffer = buffer;
    f->size = size;
    f->file_size = st.st_size;
    if (unsigned err = load(f)) {
        close(fd);
        delete[] buffer;
        delete f;
        return fail(err);
    }
    {
        std::lock_guard<std::mutex> hold(live_lock);
        live_files.insert(f);
    }
    if (info)
        fill_info(f, info);
    return f;
}

unsigned riff_close(riff_file f)
{
    if (!f)
        return MMIOERR_INVALIDPARAM;
    {
        std::lock_guard<std::mutex> hold(live_lock);
        if (live_files.erase(f) == 0)
            return MMIOERR_INVALIDPARAM;
    }
    unsigned result = flush(f);
    if (close(f->fd) != 0 && result == 0)
        result = MMIOERR_CANNOTCLOSE;
    delete[] f->buffer;
    delete f;
    return result;
}

int riff_descriptor(riff_file f)
{
    return is_live(f) ? f->fd : -1;
}

int32_t riff_read(riff_file f, void* out, int32_t count)
{
    if (usable(f) != 0 || !f->can_read || count < 0 || (!out && count > 0))
        return -1;
    return read_bytes(f, static_cast<uint8_t*>(out), count);
}

int32_t riff_write(riff_file f, const void* data, int32_t count)
{
    if (usable(f) != 0 || !f->can_write || count < 0 || (!data && count > 0))
        return -1;
    return write_bytes(f, static_cast<const uint8_t*>(data), count);
}

int64_t riff_seek(riff_file f, int64_t offset, int origin)
{
    if (usable(f) != 0)
        return -1;
    int64_t base;
    switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = position(f); break;
    case SEEK_END: base = f->file_size; break;
    default: return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target))
        return -1;
    return seek_to(f, target);
}

unsigned riff_descend(riff_file f, riff_chunk* ck, const riff_chunk* parent, uint32_t flags)
{
    if (unsigned err = usable(f))
        return err;
    if (!ck)
        return MMIOERR_INVALIDPARAM;
    if (!f->can_read)
        return MMIOERR_CANNOTREAD;
    const uint32_t find = flags & (MMIO_FINDCHUNK | MMIO_FINDRIFF | MMIO_FINDLIST);
    if (find != 0 && find != MMIO_FINDCHUNK && find != MMIO_FINDRIFF && find != MMIO_FINDLIST)
        return MMIOERR_INVALIDPARAM;

    // A chunk may not reach past its parent; without a parent the file is
    // the limit, and a chunk that claims more than the file holds reads to
    // the file's end (a recording whose sizes were never patched).
    int64_t limit = MAX_POSITION;
    if (parent)
        limit = int64_t(parent->data_offset) + parent->size;
    int64_t pos = position(f);
    if (parent && pos < int64_t(parent->data_offset))
        return MMIOERR_CHUNKNOTFOUND;

    for (;;) {
        if (pos >= limit)
            return MMIOERR_CHUNKNOTFOUND;
        uint8_t head[12];
        int32_t got = read_bytes(f, head, 8);
        if (got < 0)
            return MMIOERR_CANNOTREAD;
        if (got == 0)
            return MMIOERR_CHUNKNOTFOUND;   // the clean end of the file
        if (got < 8 || pos + 8 > limit)
            return MMIOERR_INVALIDFILE;     // a header cut off by the file or its parent
        fourcc id = load_le32(head);
        uint32_t size = load_le32(head + 4);
        int64_t data = pos + 8;
        int64_t end = data + size;
        if (end > limit || data > int64_t(UINT32_MAX))
            return MMIOERR_INVALIDFILE;
        fourcc form = 0;
        bool list = id == FOURCC_RIFF || id == FOURCC_LIST;
        if (list) {
            if (size < 4)
                return MMIOERR_INVALIDFILE;
            got = read_bytes(f, head + 8, 4);
            if (got < 0)
                return MMIOERR_CANNOTREAD;
            if (got < 4)
                return MMIOERR_INVALIDFILE;
            form = load_le32(head + 8);
        }
        bool match = true;
        if (find == MMIO_FINDCHUNK)
            match = id == ck->id;
        else if (find == MMIO_FINDRIFF)
            match = id == FOURCC_RIFF && form == ck->form_type;
        else if (find == MMIO_FINDLIST)
            match = id == FOURCC_LIST && form == ck->form_type;
        if (match) {
            ck->id = id;
            ck->size = size;
            ck->form_type = form;
            ck->data_offset = uint32_t(data);
            ck->flags = 0;
            return seek_to(f, data + (list ? 4 : 0)) < 0 ? unsigned(MMIOERR_CANNOTSEEK) : 0u;
        }
        // Skip the chunk and its pad byte; every step moves on by at least
        // 8 bytes, so the search ends at the limit or at the file's end.
        pos = end + (size & 1);
        if (seek_to(f, pos) < 0)
            return MMIOERR_CANNOTSEEK;
    }
}

unsigned riff_ascend(riff_file f, riff_chunk* ck, uint32_t flags)
{
    if (unsigned err = usable(f))
        return err;
    if (!ck)
        return MMIOERR_INVALIDPARAM;
    if (!(ck->flags & CHUNK_CREATED)) {
        int64_t end = int64_t(ck->data_offset) + ck->size + (ck->size & 1);
        return seek_to(f, end) < 0 ? unsigned(MMIOERR_CANNOTSEEK) : 0u;
    }
    if (!f->can_write)
        return MMIOERR_CANNOTWRITE;
    int64_t end = position(f);
    if (end < int64_t(ck->data_offset) || ck->data_offset < 8)
        return MMIOERR_INVALIDPARAM;
    int64_t size = end - ck->data_offset;
    if (size > int64_t(UINT32_MAX))
        return MMIOERR_CANNOTEXPAND;
    if (size & 1) {
        const uint8_t pad = 0;
        if (write_bytes(f, &pad, 1) != 1)
            return MMIOERR_CANNOTWRITE;
    }
    int64_t after = position(f);
    uint8_t field[4];
    store_le32(field, uint32_t(size));
    if (seek_to(f, int64_t(ck->data_offset) - 4) < 0)
        return MMIOERR_CANNOTSEEK;
    if (write_bytes(f, field, 4) != 4)
        return MMIOERR_CANNOTWRITE;
    if (seek_to(f, after) < 0)
        return MMIOERR_CANNOTSEEK;
    ck->size = uint32_t(size);
    ck->flags &= ~CHUNK_CREATED;
    return 0;
}

unsigned riff_create_chunk(riff_file f, riff_chunk* ck, uint32_t flags)
{
    if (unsigned err = usable(f))
        return err;
    if (!ck)
        return MMIOERR_INVALIDPARAM;
    if (!f->can_write)
        return MMIOERR_CANNOTWRITE;
    bool list = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
    if (flags & MMIO_CREATERIFF)
        ck->id = FOURCC_RIFF;
    else if (flags & MMIO_CREATELIST)
        ck->id = FOURCC_LIST;
    int64_t pos = position(f);
    if (pos + 12 > int64_t(UINT32_MAX))
        return MMIOERR_CANNOTEXPAND;
    uint8_t head[12];
    store_le32(head, ck->id);
    store_le32(head + 4, ck->size);
    store_le32(head + 8, ck->form_type);
    int32_t len = list ? 12 : 8;
    if (write_bytes(f, head, len) != len)
        return MMIOERR_CANNOTWRITE;
    ck->data_offset = uint32_t(pos + 8);
    ck->flags = CHUNK_CREATED;
    return 0;
}

unsigned riff_get_info(riff_file f, riff_info* info)
{
    if (!is_live(f) || !info)
        return MMIOERR_INVALIDPARAM;
    if (unsigned err = fresh(f))
        return err;
    fill_info(f, info);
    f->handed_out = true;
    f->handout_next = f->next;
    return 0;
}

unsigned riff_set_info(riff_file f, const riff_info* info)
{
    if (!is_live(f) || !info)
        return MMIOERR_INVALIDPARAM;
    if (unsigned err = absorb(f, info))
        return err;
    f->handed_out = false;
    return 0;
}

unsigned riff_advance(riff_file f, riff_info* info, uint32_t flags)
{
    if (!is_live(f))
        return MMIOERR_INVALIDPARAM;
    if (f->handed_out && !info)
        return MMIOERR_INFOTAKEN;
    bool writing = (flags & MMIO_WRITE) != 0;
    if (writing ? !f->can_write : !f->can_read)
        return writing ? MMIOERR_CANNOTWRITE : MMIOERR_CANNOTREAD;
    // After a failed read the buffer held no file data: only the caller's
    // position is taken, and the retry delivers the window that failed.
    const bool retry = f->stale;
    if (info) {
        riff_info taken = *info;
        if (retry)
            taken.flags &= ~MMIO_DIRTY;
        if (unsigned err = absorb(f, &taken))
            return err;
    }
    unsigned err = fresh(f);
    if (err == 0)
        err = flush(f);
    if (err == 0 && !retry) {
        int32_t had = valid_bytes(f);
        if (f->next >= f->size || (!writing && had >= f->size)) {
            // The window is used up: the next aligned window, from its start.
            err = enter_window(f, f->window + f->size);
        } else if (!writing) {
            // The end of the file lies in this window: read again from where
            // the data ended, so a grown file shows its new bytes and an
            // unchanged one leaves the position at the end of the data.
            err = load(f);
            f->next = std::min(had, f->size);
        }
        // Writing inside the window: the bytes are out, the position stays.
    }
    if (info) {
        fill_info(f, info);
        f->handed_out = true;
        f->handout_next = f->next;
    }
    return err;
}

void riff_fail_writes_after(int64_t bytes)
{
    write_budget.store(bytes < 0 ? -1 : bytes);
}

void riff_fail_reads_after(int64_t bytes)
{
    read_budget.store(bytes < 0 ? -1 : bytes);
}
