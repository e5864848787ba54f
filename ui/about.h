// The About box with its link, and the mixer launch.
#pragma once
#include "platform/window/window.h"

void show_about_box();
void launch_mixer();
