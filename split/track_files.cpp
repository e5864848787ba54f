// Writing what a split found: each track as a new WAV file copied from the
// side, and the cue sheet and label file that record the cuts.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "platform/file/file.h"
#include "platform/file/riff.h"
#include "platform/system/byte_order.h"
#include "split/split.h"

namespace {

constexpr int32_t RIFF_BUFFER_BYTES = 1 << 20;
constexpr uint32_t WAV_HEADER_BYTES = 44;

int fail(std::string* why, int code, const std::string& text)
{
    if (why)
        *why = text;
    return code;
}

// A new file, never an existing one: a file that is there is closed again
// untouched (opening it does not change it).
int create_new(const char* name, plain_file* out, std::string* why)
{
    bool existed = false;
    plain_file f = plain_open_or_create(name, &existed);
    if (!f)
        return fail(why, SPLIT_CANNOT_WRITE, std::string(name) + ": cannot be created");
    if (existed) {
        plain_close(f);
        return fail(why, SPLIT_EXISTS, std::string(name) + " exists; nothing was written over");
    }
    *out = f;
    return SPLIT_OK;
}

// Writes `text` into the new file `name`; a file left half-written is removed.
int write_new_text(const std::string& name, const std::string& text, std::string* why)
{
    plain_file f = nullptr;
    if (int r = create_new(name.c_str(), &f, why))
        return r;
    const bool whole = plain_write(f, text.data(), uint32_t(text.size())) == text.size();
    if (plain_close(f) != 0 || !whole) {
        std::remove(name.c_str());
        return fail(why, SPLIT_CANNOT_WRITE, name + ": cannot be written (is the disk full?)");
    }
    return SPLIT_OK;
}

std::string file_part(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// Whole-number counting: after track9.wav comes track10.wav, never track0.wav again.
std::string split_track_name(const std::string& dir, int index)
{
    return dir + "track" + std::to_string(index) + ".wav";
}

int write_track_file(const char* side_path, const side_levels& side, const split_track& track, const char* name,
                     std::string* why)
{
    const uint64_t data_bytes = (track.end - track.first) * uint64_t(side.frame_bytes);
    if (track.end <= track.first || track.end > side.frames || data_bytes > 0xFFFFFFFFull - WAV_HEADER_BYTES)
        return fail(why, SPLIT_CANNOT_WRITE, std::string(name) + ": no such stretch of the side");
    riff_info info = {};
    info.buffer_size = RIFF_BUFFER_BYTES;
    riff_file in = riff_open(side_path, &info, MMIO_READ);
    if (!in)
        return fail(why, SPLIT_CANNOT_READ, std::string(side_path) + ": cannot be opened again");
    const int64_t from = side.data_offset + int64_t(track.first) * side.frame_bytes;
    if (riff_seek(in, from, SEEK_SET) != from) {
        riff_close(in);
        return fail(why, SPLIT_CANNOT_READ, std::string(side_path) + ": cannot be read");
    }
    plain_file out = nullptr;
    if (int r = create_new(name, &out, why)) {
        riff_close(in);
        return r;
    }

    // A canonical header in the side's own format.
    uint8_t head[WAV_HEADER_BYTES];
    std::memcpy(head, "RIFF", 4);
    store_le32(head + 4, uint32_t(36 + data_bytes));
    std::memcpy(head + 8, "WAVEfmt ", 8);
    store_le32(head + 16, 16);
    store_le16(head + 20, 1);
    store_le16(head + 22, uint16_t(side.channels));
    store_le32(head + 24, side.rate);
    store_le32(head + 28, side.rate * uint32_t(side.frame_bytes));
    store_le16(head + 32, uint16_t(side.frame_bytes));
    store_le16(head + 34, 16);
    std::memcpy(head + 36, "data", 4);
    store_le32(head + 40, uint32_t(data_bytes));

    std::string problem;
    int code = SPLIT_OK;
    if (plain_write(out, head, WAV_HEADER_BYTES) != WAV_HEADER_BYTES) {
        code = SPLIT_CANNOT_WRITE;
        problem = std::string(name) + ": cannot be written (is the disk full?)";
    }
    // The samples go from the side's read buffer straight to the track.
    riff_info st = {};
    if (code == SPLIT_OK && riff_get_info(in, &st) != 0) {
        code = SPLIT_CANNOT_READ;
        problem = std::string(side_path) + ": cannot be read";
    }
    for (uint64_t left = data_bytes; code == SPLIT_OK && left > 0;) {
        if (st.next >= st.end_read && (riff_advance(in, &st, MMIO_READ) != 0 || st.next >= st.end_read)) {
            code = SPLIT_CANNOT_READ;
            problem = std::string(side_path) + ": cannot be read to the end of " + name;
            break;
        }
        const uint32_t n = uint32_t(std::min<uint64_t>(left, uint64_t(st.end_read - st.next)));
        if (plain_write(out, st.next, n) != n) {
            code = SPLIT_CANNOT_WRITE;
            problem = std::string(name) + ": cannot be written (is the disk full?)";
        }
        st.next += n;
        left -= n;
    }
    riff_close(in);
    if (plain_close(out) != 0 && code == SPLIT_OK) {
        code = SPLIT_CANNOT_WRITE;
        problem = std::string(name) + ": cannot be written (is the disk full?)";
    }
    if (code != SPLIT_OK) {
        // Half a track is no track: it goes, the side still holds it all.
        std::remove(name);
        return fail(why, code, problem + "; it was removed");
    }
    return SPLIT_OK;
}

// One FILE per track, each with its one TRACK starting at 00:00:00: the
// sheet stays true when the folder is moved, and players and burners take
// a sheet of several files as well as one of a single image.
int write_cue_sheet(const std::string& dir, const std::vector<split_track>& tracks, std::string* why)
{
    std::string text = "REM COMMENT \"split by trackmill-batch\"\n";
    char line[160];
    // A sheet numbers its tracks 01 to 99: later ones are named in a remark.
    for (size_t k = 0; k < tracks.size(); ++k) {
        const std::string file = file_part(split_track_name("", int(k)));
        if (k >= 99) {
            text += "REM MORE \"" + file + "\"\n";
            continue;
        }
        std::snprintf(line, sizeof line,
                      "FILE \"%s\" WAVE\n  TRACK %02d AUDIO\n    TITLE \"Track %d\"\n    INDEX 01 00:00:00\n",
                      file.c_str(), int(k + 1), int(k + 1));
        text += line;
    }
    return write_new_text(dir + "side.cue", text, why);
}

// Start, end and name of every track in seconds of the side, tab-separated:
// audio editors import it as labels over the side.
int write_label_file(const std::string& dir, const side_levels& side, const std::vector<split_track>& tracks,
                     std::string* why)
{
    std::string text;
    char line[160];
    for (size_t k = 0; k < tracks.size(); ++k) {
        std::snprintf(line, sizeof line, "%.6f\t%.6f\ttrack%d\n", double(tracks[k].first) / side.rate,
                      double(tracks[k].end) / side.rate, int(k));
        text += line;
    }
    return write_new_text(dir + "labels.txt", text, why);
}
