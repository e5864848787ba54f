// Throughput of the file paths a recording and a cleaning run take: the
// capture append of 8,192-byte buffers, and a track walked window by window
// through the RIFF layer's buffer state while a cleaned copy is written.
// Prints MB/s; the goal is far above real time (176 kB/s of CD audio).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>
#include "core/app_state.h"
#include "capture/wav_writer.h"
#include "platform/file/file.h"
#include "platform/file/riff.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    char dir_pattern[] = "/tmp/trackmill-bench-XXXXXX";
    if (!mkdtemp(dir_pattern))
        return 1;
    std::string dir = dir_pattern;
    std::string track = dir + "/track0.wav";
    std::string cleaned = dir + "/tracd0.wav";
    const uint32_t buffers = 8192;   // 64 MiB of audio
    const double mib = buffers * 8192.0 / (1 << 20);

    // Capture: header, appends, patch.
    std::vector<uint8_t> block(8192);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    app.conversion_output = block.data();
    format_area& fmt = app.capture_ring.chosen_format;
    fmt.fmt = wave_format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    auto start = std::chrono::steady_clock::now();
    app.capture_file_handle = plain_open_or_create(track.c_str(), nullptr);
    write_wav_header(app.capture_file_handle, &fmt);
    app.data_bytes_written = 0;
    for (uint32_t i = 0; i < buffers; ++i)
        append_capture_data(app.conversion_output, 8192);
    patch_wav_sizes(app.capture_file_handle, &fmt, app.data_bytes_written);
    plain_close(app.capture_file_handle);
    double capture_s = seconds_since(start);
    std::printf("capture append: %.0f MiB in %.3f s = %.0f MiB/s\n", mib, capture_s, mib / capture_s);

    // Cleaning shape: read the track window by window, write each sample to
    // the cleaned file's buffer in place.
    start = std::chrono::steady_clock::now();
    riff_info in = {}, out = {};
    riff_file fin = riff_open(track.c_str(), &in, MMIO_READ | MMIO_ALLOCBUF);
    riff_file fout = riff_open(cleaned.c_str(), &out, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
    riff_chunk riff = {}, data = {}, oriff = {}, odata = {};
    riff_descend(fin, &riff, nullptr, 0);
    data.id = FOURCC_DATA;
    riff_descend(fin, &data, &riff, MMIO_FINDCHUNK);
    oriff.form_type = FOURCC_WAVE;
    riff_create_chunk(fout, &oriff, MMIO_CREATERIFF);
    odata.id = FOURCC_DATA;
    riff_create_chunk(fout, &odata, 0);
    riff_get_info(fin, &in);
    riff_get_info(fout, &out);
    uint64_t copied = 0;
    for (;;) {
        if (in.next >= in.end_read) {
            riff_advance(fin, &in, MMIO_READ);
            if (in.next >= in.end_read)
                break;
        }
        if (out.next >= out.end_write) {
            out.flags |= MMIO_DIRTY;
            riff_advance(fout, &out, MMIO_WRITE);
        }
        size_t n = std::min(in.end_read - in.next, out.end_write - out.next);
        std::memcpy(out.next, in.next, n);
        in.next += n;
        out.next += n;
        copied += n;
    }
    out.flags |= MMIO_DIRTY;
    riff_set_info(fout, &out);
    riff_ascend(fout, &odata, 0);
    riff_ascend(fout, &oriff, 0);
    riff_close(fout);
    riff_close(fin);
    double clean_s = seconds_since(start);
    std::printf("riff window copy: %.0f MiB in %.3f s = %.0f MiB/s (%llu bytes)\n", mib, clean_s,
                mib / clean_s, static_cast<unsigned long long>(copied));

    std::system(("rm -rf '" + dir + "'").c_str());
    return copied == uint64_t(buffers) * 8192 ? 0 : 1;
}
