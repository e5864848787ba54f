// The table of cleaning passes by mode, and the run of one pass through its
// start, flow and drain.
#include "clean/pass.h"

#include <iterator>
#include "clean/declicker.h"
#include "clean/denoiser.h"
#include "clean/fade_in.h"

namespace {

// Mode n is entry n - 1.
const clean_pass* const pass_table[] = {
    &declicker_pass,   // 1 DeClicker
    &denoiser_pass,    // 2 DeNoiser
    &fade_in_pass,     // 3 Fade In, then the wide DeClicker
};

} // namespace

const clean_pass* pass_for_mode(int mode)
{
    if (mode < 1 || mode > int(std::size(pass_table)))
        return nullptr;
    return pass_table[mode - 1];
}

pass_result run_clean_pass(const clean_pass* pass, pass_io* io)
{
    pass_result result = pass->start(io);
    if (result == PASS_OK)
        result = pass->drain(io, pass->flow(io));
    if (pass->then) {
        // The follow-on pass runs whatever this one gave; the first failure
        // stays the result, so a half-written file never passes for done.
        const pass_result next = run_clean_pass(pass->then, io);
        if (result == PASS_OK)
            result = next;
    }
    return result;
}
