// FilterEx: clicks and crackle repaired and hiss reduced in one pass, over
// the open track into the cleaned file.
//
// Threads: the dialog's thread only (the pass runs inside the command).
#pragma once
#include "clean/pass.h"

extern const clean_pass filter_ex_pass;   // "x"
