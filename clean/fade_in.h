// The Fade In pass: a gain ramp from silence up to unity over the start of
// the track (intro_max_seconds), then the wide DeClicker over the rest.
#pragma once
#include "clean/pass.h"

extern const clean_pass fade_in_pass;
