// The frame-by-frame restoration passes over the track's I/O buffers: the
// walk shared by their kernels, and the three passes that use it.
#include "clean/frame_pass.h"

#include <algorithm>
#include <new>
#include <vector>
#include <cstdio>
#include <cstring>
#include "app/app_state.h"
#include "clean/fade_ramp.h"
#include "clean/hum_remove.h"
#include "clean/mono_mix.h"
#include "clean/track_io.h"
#include "playback/displays.h"

namespace {

constexpr int VIEW_EVERY = 6;   // a view point every 6th frame

// The view points taken since the last drawing go to the wave view.
void draw_taken_points()
{
    if (app.view_points && app.view_cursor > 0)
        draw_wave_view(int16_t(app.view_cursor), app.view_points, nullptr);
    app.view_cursor = 0;
}

// View points from the left channel of `frames` output frames, one every
// 6th frame of the track (`frame_index` is the first one's).
void take_view_points(const uint8_t* out, int channels, uint32_t frames, uint64_t frame_index)
{
    if (!app.view_points)
        return;
    uint32_t f = uint32_t((VIEW_EVERY - frame_index % VIEW_EVERY) % VIEW_EVERY);
    for (; f < frames && app.view_cursor < app.view_points_count; f += VIEW_EVERY) {
        const int16_t s = load_sample(out + size_t(f) * 2 * size_t(channels));
        app.view_points[app.view_cursor++].y = int32_t(level_to_view_row(&s, 1));
    }
}

} // namespace

int run_frame_kernel(const frame_kernel& k)
{
    riff_info& in = app.track_in_info;
    riff_info& out = app.track_out_info;
    const int in_bytes = 2 * k.in_channels, out_bytes = 2 * k.out_channels;
    // The kernel writes here, and the frames go on into the output buffers
    // from here: one allocation a run, none a buffer.
    const uint32_t scratch_frames = FRAME_KERNEL_RUN + k.extra;
    std::vector<uint8_t> scratch;
    try {
        scratch.resize(size_t(scratch_frames) * size_t(out_bytes));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    app.view_cursor = 0;
    uint64_t written = 0;
    // The kernel's output into the output buffers, flushing each full one.
    auto put = [&](uint32_t n) {
        take_view_points(scratch.data(), k.out_channels, n, written);
        written += n;
        const uint8_t* from = scratch.data();
        size_t bytes = size_t(n) * size_t(out_bytes);
        while (bytes > 0) {
            if (out.end_write == out.next && write_output_buffer() != 0)
                return false;
            const size_t part = std::min(bytes, size_t(out.end_write - out.next));
            std::memcpy(out.next, from, part);
            out.next += part;
            from += part;
            bytes -= part;
        }
        return true;
    };

    uint32_t frames = track_frames();
    while (frames > 0) {
        // Frames lying whole in the input buffer go to the kernel from there.
        const uint32_t whole = uint32_t((input_data_end() - in.next) / in_bytes);
        const uint32_t run = std::min({frames, whole, FRAME_KERNEL_RUN});
        if (run > 0) {
            const uint32_t n = k.flow(k.state, in.next, run, scratch.data());
            in.next += size_t(run) * size_t(in_bytes);
            frames -= run;
            if (!put(n))
                return -6;
            continue;
        }
        // A frame cut by the input buffer's end: gathered sample by sample
        // across the refill.
        uint8_t frame[4];
        for (int c = 0; c < k.in_channels; ++c) {
            if (input_data_end() - in.next < 2) {
                draw_taken_points();
                if (refill_input() != 0) {
                    frames = 0;   // the data ends early: what came is cleaned
                    break;
                }
            }
            std::memcpy(frame + 2 * c, in.next, 2);
            in.next += 2;
        }
        if (frames == 0)
            break;
        --frames;
        if (!put(k.flow(k.state, frame, 1, scratch.data())))
            return -6;
    }
    if (k.drain) {
        while (const uint32_t n = k.drain(k.state, scratch.data(), scratch_frames))
            if (!put(n))
                return -6;
    }
    draw_taken_points();
    return 0;
}

int scan_track_frames(const char* name, void (*take)(void* state, const int16_t* frames, uint32_t count),
                      void* state)
{
    riff_info info{};
    riff_file f = riff_open(name, &info, MMIO_READ | MMIO_ALLOCBUF);
    if (!f)
        return -1;
    riff_chunk riff{}, fmt{}, data{};
    fmt.id = FOURCC_FMT;
    data.id = FOURCC_DATA;
    wave_format format{};
    bool ok = riff_descend(f, &riff, nullptr, 0) == 0 && riff.id == FOURCC_RIFF && riff.form_type == FOURCC_WAVE &&
              riff_descend(f, &fmt, &riff, MMIO_FINDCHUNK) == 0 && fmt.size >= 16 &&
              riff_read(f, &format, 16) == 16 && riff_ascend(f, &fmt, 0) == 0 &&
              riff_descend(f, &data, &riff, MMIO_FINDCHUNK) == 0 && format.format_tag == WAVE_FORMAT_PCM &&
              format.bits_per_sample == 16 && (format.channels == 1 || format.channels == 2);
    if (ok) {
        int16_t run[FRAME_KERNEL_RUN * 2];   // one run of frames (16 KB)
        const uint32_t frame_bytes = 2u * format.channels;
        uint32_t left = data.size / frame_bytes;
        while (ok && left > 0) {
            const uint32_t n = std::min(left, FRAME_KERNEL_RUN);
            ok = riff_read(f, run, int32_t(n * frame_bytes)) == int32_t(n * frame_bytes);
            if (ok)
                take(state, run, n);
            left -= n;
        }
    }
    riff_close(f);
    return ok ? 0 : -1;
}

int hum_remove_track()
{
    wave_format f{};
    std::memcpy(&f, app.track_format, sizeof f);
    hum_remove hum;
    const int started =
        hum_remove_start(&hum, track_channels(), f.samples_per_sec, app.ac_sinus_freq, app.filter_threshold);
    if (started == HUM_NO_MEMORY)
        return -1;
    if (started != HUM_OK)
        return -8;
    const frame_kernel k = {track_channels(), track_channels(), &hum,
                            [](void* s, const uint8_t* i, uint32_t n, uint8_t* o) {
                                return hum_remove_flow(static_cast<hum_remove*>(s), i, n, o);
                            },
                            [](void* s, uint8_t* o, uint32_t room) {
                                return hum_remove_drain(static_cast<hum_remove*>(s), o, room);
                            },
                            hum.delay_frames};
    const int result = run_frame_kernel(k);
    if (result == 0)
        std::snprintf(app.result_text, sizeof app.result_text, "dehum process complete %d notches %.2f Hz wide",
                      hum.harmonics, hum.width_hz);
    hum_remove_stop(&hum);
    return result;
}

int mono_stereo_track()
{
    int channels = track_channels();
    const frame_kernel k = {channels, 2, &channels,
                            [](void* s, const uint8_t* i, uint32_t n, uint8_t* o) {
                                mono_mix_flow(*static_cast<int*>(s), i, o, n);
                                return n;
                            },
                            nullptr, 0};
    const int result = run_frame_kernel(k);
    if (result == 0)
        std::snprintf(app.result_text, sizeof app.result_text, "mono process complete %s into both channels",
                      channels == 2 ? "the mean" : "the channel");
    return result;
}

int fade_out_track()
{
    wave_format f{};
    std::memcpy(&f, app.track_format, sizeof f);
    fade_ramp ramp;
    fade_start(&ramp, FADE_OUT, track_channels(), f.samples_per_sec, app.intro_max_seconds, track_frames());
    const frame_kernel k = {track_channels(), track_channels(), &ramp,
                            [](void* s, const uint8_t* i, uint32_t n, uint8_t* o) {
                                fade_flow(static_cast<fade_ramp*>(s), i, o, n);
                                return n;
                            },
                            nullptr, 0};
    const int result = run_frame_kernel(k);
    if (result == 0)
        std::snprintf(app.result_text, sizeof app.result_text, "fadeout process complete %.1f s",
                      ramp.span / std::max<double>(1, f.samples_per_sec));
    return result;
}
