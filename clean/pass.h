// The interface every cleaning pass has: start, flow and drain over the
// track's input buffer and the cleaned file's output buffer, and the table.
//
// Adding a pass is one new file and one line: clean/<pass>.cpp defines a
// `const clean_pass <pass>_pass = {...}` (declared in its own header), and a
// line in the pass table (clean/pass.cpp) gives it its mode, the next free
// number. The driver opens both files, writes the format and data
// chunk headers, calls start, flow and drain, and closes the chunks.
//
// Threads: the dialog's thread only (a pass runs inside the command).
#pragma once
#include <cstdint>
#include "platform/file/riff.h"
#include "platform/window/window.h"

// What a pass step gives back. The numbers are the ones process_track
// reports to its callers.
enum pass_result : int {
    PASS_OK = 0,
    PASS_NO_WORK_AREA = -1,    // its memory cannot be had ("not enough memory")
    PASS_WRITE_FAILED = -6,    // the cleaned file cannot be written
    PASS_BAD_SETTING = -8,     // a setting does not suit the track (AC sinus Freq, FilterEx's rate)
};

// Where the wave view's points go: `count` points from `points` on, x
// filled in by the driver, y by the pass. The driver hands them to the view.
using view_sink = void (*)(int16_t count, const point* points);

// The buffers a pass works on. The unread samples of the input are from
// in->next up to input_data_end() (refill_input brings the next buffer);
// the output's free room is from out->next up to out->end_write
// (write_output_buffer writes the buffer out and starts the next one).
struct pass_io {
    riff_info* in;
    riff_info* out;
    view_sink show_points;
};

// A pass. start sets its state up (its memory, its histories) and may fail
// with PASS_NO_WORK_AREA, leaving nothing to undo; flow takes the track's
// samples from the input's position until its data ends, writing the
// cleaned samples to the output; drain is called after start succeeded,
// with the result so far: it writes out what the pass still holds when that
// result is PASS_OK, puts back what it borrowed, leaves its line in
// result_text on success, and returns the pass's result. `then`, when set,
// is a pass run after this one on what is left of the same output (its
// result counts only when this one succeeded).
struct clean_pass {
    char letter;                       // the cleaned file's name letter
    pass_result (*start)(pass_io* io);
    pass_result (*flow)(pass_io* io);
    pass_result (*drain)(pass_io* io, pass_result so_far);
    const clean_pass* then;
};

// The pass of cleaning mode `mode` (1, 2, ...), or null for no such mode.
const clean_pass* pass_for_mode(int mode);

// Runs `pass` (and its `then`) with `io`: start, flow, drain.
pass_result run_clean_pass(const clean_pass* pass, pass_io* io);
