// Plain files for the capture writer: open-or-create, write, seek, close.
//
// Threads: a file belongs to one thread at a time.
#pragma once
#include <cstdint>

struct plain_file_object;
using plain_file = plain_file_object*;
