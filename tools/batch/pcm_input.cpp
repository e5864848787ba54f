// The batch commands' reader of 16-bit PCM WAV files: the format check and
// the descent into the data chunk, with a reason for every refusal.
#include "tools/batch/pcm_input.h"

std::string open_pcm_input(const char* name, pcm_input* in)
{
    riff_info info = {};
    in->file = riff_open(name, &info, MMIO_READ);
    if (!in->file) {
        return std::string("cannot open ") + name +
               (info.error == MMIOERR_FILENOTFOUND ? ": no such file" : info.error == MMIOERR_ACCESSDENIED ? ": access denied" : "");
    }
    riff_chunk riff = {}, fmt = {}, data = {};
    riff.form_type = FOURCC_WAVE;
    if (riff_descend(in->file, &riff, nullptr, MMIO_FINDRIFF) != 0)
        return std::string(name) + " is not a WAV file";
    fmt.id = FOURCC_FMT;
    if (riff_descend(in->file, &fmt, &riff, MMIO_FINDCHUNK) != 0 || fmt.size < 16)
        return std::string(name) + " has no format chunk";
    uint32_t take = fmt.size < FORMAT_AREA_BYTES ? fmt.size : FORMAT_AREA_BYTES;
    if (riff_read(in->file, in->format.bytes, int32_t(take)) != int32_t(take))
        return std::string(name) + " ends inside its format chunk";
    if (riff_ascend(in->file, &fmt, 0) != 0)
        return std::string(name) + " ends inside its format chunk";
    const wave_format& f = in->format.fmt;
    if (f.format_tag != WAVE_FORMAT_PCM || f.bits_per_sample != 16 || f.channels < 1 || f.channels > 2 ||
        f.block_align != 2 * f.channels || f.samples_per_sec == 0)
        return std::string(name) + " is not 16-bit PCM, mono or stereo (format tag " +
               std::to_string(f.format_tag) + ", " + std::to_string(f.bits_per_sample) + " bits, " +
               std::to_string(f.channels) + " channels)";
    in->format.fmt.cb_size = 0;
    data.id = FOURCC_DATA;
    if (riff_descend(in->file, &data, &riff, MMIO_FINDCHUNK) != 0)
        return std::string(name) + " has no data chunk";
    in->data_left = data.size;
    return "";
}
