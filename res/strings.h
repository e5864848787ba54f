// The string table: texts by identifier, in English and Polish.
#pragma once

enum : unsigned {
    IDS_SECOND_INSTANCE = 515,
};
// Copies the text of `id` in the interface language into out (size bytes,
// terminator included, cut safely). Returns its length, 0 when there is none.
int load_string(unsigned id, char* out, int size);
