// Buffered RIFF file access: open, chunk descent and ascent, buffered read
// and write, and direct access to the I/O buffer for the cleaning passes.
//
// The I/O buffer is a window on the file aligned to multiples of its size
// (8,192 bytes unless told otherwise): after the 44-byte header of a capture
// track, the buffer state handed out runs from byte 44 to byte 8,192, and
// every advance moves the window to the next 8,192 bytes. A seek that stays
// inside the window only moves the position.
//
// Between riff_get_info and riff_set_info the state belongs to the caller:
// only riff_advance (given that state), riff_get_info and riff_close may be
// used then; the other calls fail with MMIOERR_INFOTAKEN (-1 for counts).
// Handles are checked: a closed handle gives MMIOERR_INVALIDPARAM, not a crash.
//
// Thread safety: a file belongs to one thread at a time.
#pragma once
#include <cstdint>

struct riff_file_object;
using riff_file = riff_file_object*;
using fourcc = uint32_t;

constexpr fourcc make_fourcc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) | (uint32_t(uint8_t(d)) << 24);
}
constexpr fourcc FOURCC_RIFF = make_fourcc('R', 'I', 'F', 'F');
constexpr fourcc FOURCC_LIST = make_fourcc('L', 'I', 'S', 'T');
constexpr fourcc FOURCC_WAVE = make_fourcc('W', 'A', 'V', 'E');
constexpr fourcc FOURCC_FMT = make_fourcc('f', 'm', 't', ' ');
constexpr fourcc FOURCC_DATA = make_fourcc('d', 'a', 't', 'a');

// Open flags.
enum : uint32_t {
    MMIO_READ = 0x0000,
    MMIO_WRITE = 0x0001,
    MMIO_READWRITE = 0x0002,
    MMIO_CREATE = 0x1000,
    MMIO_ALLOCBUF = 0x10000,
};
// Descend / ascend / create flags.
enum : uint32_t {
    MMIO_FINDCHUNK = 0x0010,
    MMIO_FINDRIFF = 0x0020,
    MMIO_FINDLIST = 0x0040,
    MMIO_CREATERIFF = 0x0020,
    MMIO_CREATELIST = 0x0040,
    MMIO_DIRTY = 0x10000000,   // in riff_info.flags: the buffer holds unwritten data
};
// Results. Open errors use the codes 257, 268 and 272 that the program's
// "File not found/protected" report expects.
enum : unsigned {
    MMIOERR_BASE = 256,
    MMIOERR_FILENOTFOUND = 257,
    MMIOERR_OUTOFMEMORY = 258,
    MMIOERR_CANNOTOPEN = 259,
    MMIOERR_CANNOTCLOSE = 260,
    MMIOERR_CANNOTREAD = 261,
    MMIOERR_CANNOTWRITE = 262,
    MMIOERR_CANNOTSEEK = 263,
    MMIOERR_CANNOTEXPAND = 264,
    MMIOERR_CHUNKNOTFOUND = 265,
    MMIOERR_UNBUFFERED = 266,
    MMIOERR_PATHNOTFOUND = 267,
    MMIOERR_ACCESSDENIED = 268,
    MMIOERR_SHARINGVIOLATION = 269,
    MMIOERR_NETWORKERROR = 270,
    MMIOERR_TOOMANYOPENFILES = 271,
    MMIOERR_INVALIDFILE = 272,
    MMIOERR_INVALIDPARAM = 273,   // null handle or record, bad flags, a buffer state not this file's
    MMIOERR_INFOTAKEN = 274,      // the buffer state is handed out (riff_get_info without riff_set_info)
};

// Buffer state. Between riff_get_info and riff_set_info the caller reads and
// writes samples directly between buffer and end_write, moving `next`.
struct riff_info {
    uint32_t flags;             // MMIO_DIRTY when the caller wrote into the buffer
    unsigned error;             // the open's error code when riff_open fails
    int32_t buffer_size;        // bytes in the I/O buffer (8192 by default)
    uint8_t* buffer;            // start of the I/O buffer
    uint8_t* next;              // current position
    uint8_t* end_read;          // end of the data read into the buffer
    uint8_t* end_write;         // end of the writable space
    int64_t buffer_disk_offset; // file offset of the buffer's first byte
    int64_t disk_offset;        // file offset just past what the buffer covers
};

struct riff_chunk {
    fourcc id;                  // chunk id
    uint32_t size;              // size of the chunk's data (without id and size)
    fourcc form_type;           // form type of a RIFF or LIST chunk
    uint32_t data_offset;       // file offset of the chunk's data
    uint32_t flags;             // internal: created here / size must be written
};

// Opens `name` with MMIO_* flags; info may be null. On failure returns null
// and stores the error code in info->error. A non-zero info->buffer_size
// sets the buffer's size. MMIO_CREATE empties an existing file. On success
// *info holds the buffer state (not handed out).
// A file is always buffered; MMIO_ALLOCBUF is accepted and changes nothing.
riff_file riff_open(const char* name, riff_info* info, uint32_t flags);
// Writes the buffer out and closes; the handle is gone whatever the result.
// Bytes written through a handed-out state count only once handed back
// (riff_set_info or riff_advance with MMIO_DIRTY).
unsigned riff_close(riff_file f);

// The descriptor under an open handle, for a reader that walks the file with
// pread (which leaves the window and the position alone); -1 for a closed one.
int riff_descriptor(riff_file f);

// Buffered read and write; return the byte count done, -1 on error.
int32_t riff_read(riff_file f, void* out, int32_t count);
int32_t riff_write(riff_file f, const void* data, int32_t count);
// SEEK_SET, SEEK_CUR or SEEK_END; returns the new position or -1.
int64_t riff_seek(riff_file f, int64_t offset, int origin);

// Enters the chunk at the current position (flags 0), or searches the parent
// from the current position for ck->id (MMIO_FINDCHUNK) or for a RIFF/LIST
// chunk of ck->form_type (MMIO_FINDRIFF, MMIO_FINDLIST). Leaves the position
// at the chunk's data (after the form type of RIFF and LIST; data_offset then
// points at the form type). 0 or MMIOERR_CHUNKNOTFOUND (the end of the parent
// or of the file) / MMIOERR_CANNOTREAD / MMIOERR_INVALIDFILE (a size running
// past its parent, a header cut off). A chunk that claims more than the file
// holds is entered, and reading it ends cleanly at the end of the file.
unsigned riff_descend(riff_file f, riff_chunk* ck, const riff_chunk* parent, uint32_t flags);
// Leaves a chunk: for a created chunk writes its true size (and a pad byte
// after an odd size); for a read chunk moves past its end and pad byte.
unsigned riff_ascend(riff_file f, riff_chunk* ck, uint32_t flags);
// Writes a chunk header at the current position (MMIO_CREATERIFF: "RIFF",
// size and ck->form_type) and remembers it for the ascent.
unsigned riff_create_chunk(riff_file f, riff_chunk* ck, uint32_t flags);

// Direct buffer access.
unsigned riff_get_info(riff_file f, riff_info* info);
unsigned riff_set_info(riff_file f, const riff_info* info);
// Reading (MMIO_READ): refill the buffer with the next bytes of the file; at
// the end of the file next == end_read afterwards. Writing (MMIO_WRITE): write
// out a dirty buffer and start an empty one. Updates *info.
// With info, the caller's position and MMIO_DIRTY are taken first (as by
// riff_set_info) and the new state is handed out again. A used-up window
// (next at its end; for reading, a full window) gives the next aligned
// window; otherwise the window stays: a write keeps its position, a read
// moves to the end of the data read (bytes it had not taken are skipped).
unsigned riff_advance(riff_file f, riff_info* info, uint32_t flags);

// Test hook: make writes fail once `bytes` more bytes have reached the disk
// (a full disk); a negative value turns it off.
void riff_fail_writes_after(int64_t bytes);
// Test hook: make reads from the disk fail once `bytes` more bytes have been
// read (a failing medium); a negative value turns it off.
void riff_fail_reads_after(int64_t bytes);
// The open error for a system errno value (for the open and its tests).
unsigned riff_open_error(int errno_value, bool creating);
