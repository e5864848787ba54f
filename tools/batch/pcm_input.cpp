// The batch commands' reader of 16-bit PCM WAV files: the format check on
// the shared WAV layout, and the samples read by offset.
#include "tools/batch/pcm_input.h"
#include <cerrno>
#include <unistd.h>
#include "platform/file/wav_reader.h"

pcm_input::~pcm_input()
{
    if (fd >= 0)
        wav_close(fd);
}

std::string open_pcm_input(const char* name, pcm_input* in)
{
    in->fd = wav_open(name);
    if (in->fd == WAV_CANNOT_OPEN)
        return std::string("cannot open ") + name +
               (errno == ENOENT ? ": no such file" : errno == EACCES ? ": access denied" : "");
    if (in->fd < 0)
        return std::string(name) + " " + wav_error_text(in->fd);
    wav_layout l;
    const int r = wav_read_layout(in->fd, &l);
    if (r != WAV_OK)
        return std::string(name) + " " + wav_error_text(r);
    const wave_format& f = l.format.fmt;
    if (!wav_is_pcm16(l))
        return std::string(name) + " is not 16-bit PCM, mono or stereo (format tag " +
               std::to_string(l.stored_tag) + ", " + std::to_string(f.bits_per_sample) + " bits, " +
               std::to_string(f.channels) + " channels)";
    in->format = l.format;
    in->format.fmt.cb_size = 0;
    in->at = l.data_offset;
    in->data_left = l.data_size;
    in->data_held = l.data_bytes;
    return "";
}

uint32_t read_pcm_input(pcm_input* in, uint8_t* out, uint32_t n)
{
    uint32_t got = 0;
    while (got < n) {
        const ssize_t r = pread(in->fd, out + got, n - got, off_t(in->at + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += uint32_t(r);
    }
    in->at += got;
    return got;
}
