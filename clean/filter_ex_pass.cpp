// FilterEx over the track's I/O buffers: a first look at the whole track for
// its noise profile, then the frames through the restoration kernel.
#include "clean/filter_ex_pass.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include "core/app_state.h"
#include "clean/filterex.h"
#include "clean/frame_pass.h"
#include "clean/track_io.h"
#include "res/ui_text.h"

namespace {

uint32_t fx_flow(void* s, const uint8_t* in, uint32_t n, uint8_t* out)
{
    // The kernel takes aligned 16-bit frames: the input buffer promises no
    // alignment, so a run comes through the pass's own line; the scratch (a
    // vector's memory) is aligned already.
    std::vector<int16_t>& line = app.restore_run.filterex_in;
    std::memcpy(line.data(), in, size_t(n) * size_t(2 * track_channels()));
    int made = 0;
    if (filterex_flow(static_cast<filterex_state*>(s), line.data(), int(n), reinterpret_cast<int16_t*>(out),
                      &made) != FX_OK)
        return 0;
    return uint32_t(made);
}
uint32_t fx_drain(void* s, uint8_t* out, uint32_t)
{
    // The scratch holds latency frames and more: the kernel's rest comes in
    // one call, and the next call says all are out.
    restore_state& run = app.restore_run;
    if (run.filterex_drained)
        return 0;
    run.filterex_drained = true;
    int made = 0;
    if (filterex_drain(static_cast<filterex_state*>(s), reinterpret_cast<int16_t*>(out), &made) != FX_OK)
        return 0;
    return uint32_t(made);
}

frame_kernel fx_kernel()
{
    restore_state& run = app.restore_run;
    return {track_channels(), track_channels(), run.filterex, fx_flow, fx_drain,
            uint32_t(filterex_latency(run.filterex))};
}

void profile_take(void* s, const int16_t* frames, uint32_t count)
{
    filterex_profile_feed(static_cast<filterex_state*>(s), frames, int(count));
}

void stop_kernel()
{
    filterex_free(app.restore_run.filterex);
    app.restore_run.filterex = nullptr;
    app.restore_run.scratch = {};
    app.restore_run.filterex_in = {};
}

pass_result filter_ex_start(pass_io*)
{
    restore_state& run = app.restore_run;
    run.filterex = nullptr;
    run.filterex_drained = false;
    // The Threshold box keeps its value within 1..45; a value set from
    // elsewhere is held to the same range rather than refused.
    const int threshold = std::clamp<int>(app.filter_threshold, FX_THRESHOLD_MIN, FX_THRESHOLD_MAX);
    const int started =
        filterex_start(&run.filterex, track_channels(), int(track_wave_format().samples_per_sec), threshold);
    if (started == FX_NO_MEMORY)
        return PASS_NO_WORK_AREA;
    if (started != FX_OK)
        return PASS_BAD_SETTING;   // a rate the kernel cannot work at
    // The noise profile needs the whole track before the first frame is
    // cleaned. A track whose data ends early is profiled from what is there,
    // as the run cleans what is there.
    scan_track_frames(app.capture_file_name, profile_take, run.filterex);
    filterex_profile_end(run.filterex);
    pass_result r = start_frame_kernel(fx_kernel());
    try {
        run.filterex_in.assign(size_t(FRAME_KERNEL_RUN) * size_t(track_channels()), 0);
    } catch (const std::bad_alloc&) {
        r = PASS_NO_WORK_AREA;
    }
    if (r != PASS_OK)
        stop_kernel();
    return r;
}
pass_result filter_ex_flow(pass_io* io)
{
    return flow_frame_kernel(io, fx_kernel());
}
pass_result filter_ex_drain(pass_io* io, pass_result so_far)
{
    if (so_far == PASS_OK)
        so_far = drain_frame_kernel(io, fx_kernel());
    if (so_far == PASS_OK) {
        const filterex_counts counts = filterex_report(app.restore_run.filterex);
        std::snprintf(app.result_text, sizeof app.result_text,
                      ui_text("restore complete %" PRId64 " clicks repaired%s"),
                      counts.repaired_gaps, counts.denoising ? ui_text(", hiss reduced") : "");
    }
    stop_kernel();
    return so_far;
}

} // namespace

const clean_pass filter_ex_pass = {'x', filter_ex_start, filter_ex_flow, filter_ex_drain, nullptr};
