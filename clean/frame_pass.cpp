// The frame-by-frame restoration passes over the track's I/O buffers: the
// walk shared by their kernels, and the three passes that use it.
#include "clean/frame_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include "core/app_state.h"
#include "clean/fade_ramp.h"
#include "clean/hum_remove.h"
#include "clean/mono_mix.h"
#include "clean/track_io.h"
#include "ui/displays.h"
#include "res/ui_text.h"

namespace {

constexpr int VIEW_EVERY = 6;   // a view point every 6th frame

// The view points taken since the last showing go to the wave view.
void show_taken_points(pass_io* io)
{
    if (app.view_points && app.view_cursor > 0)
        io->show_points(int16_t(app.view_cursor), app.view_points);
    app.view_cursor = 0;
}

// View points from the left channel of `frames` output frames, one every
// 6th frame of the output (`frame_index` is the first one's).
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

// `n` frames of the kernel's output, from the scratch into the output
// buffers, flushing each full one. False when one cannot be written.
bool put_frames(pass_io* io, const frame_kernel& k, uint32_t n)
{
    restore_state& run = app.restore_run;
    riff_info& out = *io->out;
    take_view_points(run.scratch.data(), k.out_channels, n, run.written);
    run.written += n;
    const uint8_t* from = run.scratch.data();
    size_t bytes = size_t(n) * size_t(2 * k.out_channels);
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
}

// The kernels, over the run's state.
uint32_t hum_flow(void* s, const uint8_t* in, uint32_t n, uint8_t* out)
{
    return hum_remove_flow(static_cast<hum_remove*>(s), in, n, out);
}
uint32_t hum_drain(void* s, uint8_t* out, uint32_t room)
{
    return hum_remove_drain(static_cast<hum_remove*>(s), out, room);
}
uint32_t mono_flow(void* s, const uint8_t* in, uint32_t n, uint8_t* out)
{
    mono_mix_flow(*static_cast<int*>(s), in, out, n);
    return n;
}
uint32_t fade_out_flow(void* s, const uint8_t* in, uint32_t n, uint8_t* out)
{
    fade_ramp_flow(static_cast<fade_ramp*>(s), in, out, n);
    return n;
}

frame_kernel hum_kernel()
{
    return {track_channels(), track_channels(), &app.restore_run.hum, hum_flow, hum_drain,
            app.restore_run.hum.delay_frames};
}
frame_kernel mono_kernel()
{
    return {app.restore_run.mono_channels, 2, &app.restore_run.mono_channels, mono_flow, nullptr, 0};
}
frame_kernel fade_out_kernel()
{
    return {track_channels(), track_channels(), &app.restore_run.ramp, fade_out_flow, nullptr, 0};
}

// --- AC Sinus Remove ---

pass_result hum_start(pass_io*)
{
    const int started = hum_remove_start(&app.restore_run.hum, track_channels(), track_wave_format().samples_per_sec,
                                         app.ac_sinus_freq, app.filter_threshold);
    if (started == HUM_NO_MEMORY)
        return PASS_NO_WORK_AREA;
    if (started != HUM_OK)
        return PASS_BAD_SETTING;
    const pass_result r = start_frame_kernel(hum_kernel());
    if (r != PASS_OK)
        hum_remove_stop(&app.restore_run.hum);
    return r;
}
pass_result hum_pass_flow(pass_io* io)
{
    return flow_frame_kernel(io, hum_kernel());
}
pass_result hum_pass_drain(pass_io* io, pass_result so_far)
{
    if (so_far == PASS_OK)
        so_far = drain_frame_kernel(io, hum_kernel());
    if (so_far == PASS_OK)
        std::snprintf(app.result_text, sizeof app.result_text,
                      ui_text("dehum process complete %d notches %.2f Hz wide"),
                      app.restore_run.hum.harmonics, app.restore_run.hum.width_hz);
    hum_remove_stop(&app.restore_run.hum);
    app.restore_run.scratch = {};
    return so_far;
}

// --- Mono >>Stereo ---

pass_result mono_start(pass_io*)
{
    app.restore_run.mono_channels = track_channels();
    return start_frame_kernel(mono_kernel());
}
pass_result mono_pass_flow(pass_io* io)
{
    return flow_frame_kernel(io, mono_kernel());
}
pass_result mono_pass_drain(pass_io* io, pass_result so_far)
{
    if (so_far == PASS_OK)
        so_far = drain_frame_kernel(io, mono_kernel());
    if (so_far == PASS_OK)
        std::snprintf(app.result_text, sizeof app.result_text, ui_text("mono process complete %s into both channels"),
                      app.restore_run.mono_channels == 2 ? ui_text("the mean") : ui_text("the channel"));
    app.restore_run.scratch = {};
    return so_far;
}

// --- Fade Out ---

pass_result fade_out_start(pass_io*)
{
    // The ramp counts back from the track's end: its length comes first.
    fade_ramp_start(&app.restore_run.ramp, FADE_OUT, track_channels(), track_wave_format().samples_per_sec,
                    app.intro_max_seconds, track_frames());
    return start_frame_kernel(fade_out_kernel());
}
pass_result fade_out_pass_flow(pass_io* io)
{
    return flow_frame_kernel(io, fade_out_kernel());
}
pass_result fade_out_pass_drain(pass_io* io, pass_result so_far)
{
    if (so_far == PASS_OK)
        so_far = drain_frame_kernel(io, fade_out_kernel());
    if (so_far == PASS_OK)
        std::snprintf(app.result_text, sizeof app.result_text, ui_text("fadeout process complete %.1f s"),
                      app.restore_run.ramp.span / std::max<double>(1, track_wave_format().samples_per_sec));
    app.restore_run.scratch = {};
    return so_far;
}

} // namespace

const clean_pass hum_remove_pass = {'a', hum_start, hum_pass_flow, hum_pass_drain, nullptr};
const clean_pass mono_stereo_pass = {'m', mono_start, mono_pass_flow, mono_pass_drain, nullptr};
const clean_pass fade_out_pass = {'o', fade_out_start, fade_out_pass_flow, fade_out_pass_drain, nullptr};

pass_result start_frame_kernel(const frame_kernel& k)
{
    restore_state& run = app.restore_run;
    run.written = 0;
    try {
        run.scratch.assign(size_t(FRAME_KERNEL_RUN + k.extra) * size_t(2 * k.out_channels), 0);
    } catch (const std::bad_alloc&) {
        return PASS_NO_WORK_AREA;
    }
    return PASS_OK;
}

pass_result flow_frame_kernel(pass_io* io, const frame_kernel& k)
{
    riff_info& in = *io->in;
    restore_state& run = app.restore_run;
    const int in_bytes = 2 * k.in_channels;
    app.view_cursor = 0;
    uint32_t frames = track_frames();
    while (frames > 0) {
        // Frames lying whole in the input buffer go to the kernel from there.
        const uint32_t whole = uint32_t((input_data_end() - in.next) / in_bytes);
        const uint32_t n = std::min({frames, whole, FRAME_KERNEL_RUN});
        if (n > 0) {
            const uint32_t made = k.flow(k.state, in.next, n, run.scratch.data());
            in.next += size_t(n) * size_t(in_bytes);
            frames -= n;
            if (!put_frames(io, k, made))
                return PASS_WRITE_FAILED;
            continue;
        }
        // A frame cut by the input buffer's end: gathered sample by sample
        // across the refill.
        uint8_t frame[4];
        for (int c = 0; c < k.in_channels; ++c) {
            if (input_data_end() - in.next < 2) {
                show_taken_points(io);
                if (refill_input() != 0)
                    return PASS_OK;   // the data ends early: what came is cleaned
            }
            std::memcpy(frame + 2 * c, in.next, 2);
            in.next += 2;
        }
        --frames;
        if (!put_frames(io, k, k.flow(k.state, frame, 1, run.scratch.data())))
            return PASS_WRITE_FAILED;
    }
    return PASS_OK;
}

pass_result drain_frame_kernel(pass_io* io, const frame_kernel& k)
{
    restore_state& run = app.restore_run;
    if (k.drain) {
        const uint32_t room = uint32_t(run.scratch.size() / size_t(2 * k.out_channels));
        while (const uint32_t n = k.drain(k.state, run.scratch.data(), room))
            if (!put_frames(io, k, n))
                return PASS_WRITE_FAILED;
    }
    show_taken_points(io);
    return PASS_OK;
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

