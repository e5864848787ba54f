// The dialog's share of a preview playback: each playback buffer of 128
// blocks (about six seconds of CD sound) filled from the cleaned file with
// its view rows, over a 10-minute 44.1 kHz stereo track. Prints the time per
// buffer against the sound it holds; the goal is a small fraction of it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>
#include "core/app_state.h"
#include "clean/process_track.h"
#include "playback/playback.h"
#include "platform/sound/sound.h"
#include "platform/system/timer.h"

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A 16-bit stereo WAV file of `frames` frames of a slowly swept tone.
bool write_track(const std::string& name, uint32_t frames)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return false;
    std::vector<uint8_t> head;
    const uint32_t data = frames * 4;
    head.insert(head.end(), {'R', 'I', 'F', 'F'});
    put32(head, 36 + data);
    head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(head, 16);
    put16(head, 1);
    put16(head, 2);
    put32(head, 44100);
    put32(head, 176400);
    put16(head, 4);
    put16(head, 16);
    head.insert(head.end(), {'d', 'a', 't', 'a'});
    put32(head, data);
    std::fwrite(head.data(), 1, head.size(), f);
    std::vector<uint8_t> chunk;
    for (uint32_t i = 0; i < frames; ++i) {
        const int16_t v = int16_t(9000 * std::sin(double(i) * (0.01 + double(i % 44100) * 1e-6)));
        put16(chunk, uint16_t(v));
        put16(chunk, uint16_t(-v));
        if (chunk.size() >= 1 << 20 || i + 1 == frames) {
            std::fwrite(chunk.data(), 1, chunk.size(), f);
            chunk.clear();
        }
    }
    return std::fclose(f) == 0;
}

void quiet(void*, unsigned, uintptr_t, uintptr_t, uintptr_t) {}

} // namespace

int main()
{
    char dir_pattern[] = "/tmp/trackmill-bench-XXXXXX";
    if (!mkdtemp(dir_pattern))
        return 1;
    const std::string dir = dir_pattern;
    const std::string name = dir + "/tracd0.wav";
    const uint32_t frames = 44100 * 600;
    if (!write_track(name, frames))
        return 1;

    // The state a cleaning run leaves: the view's geometry, the record, the
    // preview open and a device on the virtual card in fast mode.
    app.wave_view_rect = {6, 112, 420, 229};
    app.view_height = 117;
    app.view_width = 414;
    app.view_scale = uint16_t(65535 / app.view_height);
    PlaybackRecord& record = app.playback_record;
    record.sample_rate = 44100;
    record.bits_per_sample = 16;
    record.channels = 2;
    record.active = 1;
    record.source_format.fmt = wave_format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    std::snprintf(app.cleaned_file_name, sizeof app.cleaned_file_name, "%s", name.c_str());
    timer_use_manual(true);
    sound_use_virtual("demo");
    sound_pace_fast();
    if (reopen_preview(name.c_str()) != 0 || open_wave_out(&record, quiet) != 0)
        return 1;
    record.input_buffer_bytes = app.track_in_info.buffer_size;
    app.track_open = 1;

    const auto start = std::chrono::steady_clock::now();
    int32_t first = start_playback();
    if (first < 0)
        return 1;
    int buffers = 1;
    double worst = 0;
    // Then every refill, as the buffer-done events would ask for them.
    for (;;) {
        const auto t0 = std::chrono::steady_clock::now();
        app.blocks_queued = int16_t(app.blocks_queued + app.play_buffer_blocks);
        app.header_parity ^= 1;
        app.rows_cursor = app.view_rows + app.header_parity * app.play_buffer_blocks * app.rows_per_block;
        wave_header* h = &app.play_headers[app.header_parity];
        const int16_t next = fill_playback_buffer(app.blocks_filled, app.play_buffers[app.header_parity], h);
        worst = std::max(worst, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (next < 0 || h->buffer_length == 0)
            break;
        app.blocks_filled = next;
        ++buffers;
        wave_out_unprepare_header(app.play_device, h, sizeof *h);
    }
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double sound_per_buffer = 128.0 * 2048 / 44100;
    std::printf("preview fill: %d buffers of 128 blocks (10 min of 44.1 kHz stereo) in %.3f s\n", buffers, total);
    std::printf("per buffer: %.2f ms mean, %.2f ms worst, for %.2f s of sound (%.0fx real time)\n",
                1000 * total / buffers, 1000 * worst, sound_per_buffer, sound_per_buffer * buffers / total);

    kill_play_timer();
    riff_close(app.track_in);
    wave_out_close(app.play_device);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
