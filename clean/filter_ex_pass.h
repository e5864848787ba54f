// FilterEx: clicks and crackle repaired and hiss reduced in one pass, over
// the open track into the cleaned file.
//
// Threads: the dialog's thread only (the pass runs inside the command).
#pragma once

// 0 with its result line in result_text, -1 when the pass cannot run, or
// -6 when the cleaned file cannot be written.
int filter_ex_track();
