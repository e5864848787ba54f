// The texts the program writes into its window at run time (status lines,
// captions that change, message boxes), in the interface language.
#pragma once

// The text to show for `english` (a literal of the program, or a format
// before it is filled in): its Polish text when the interface is Polish and
// the table holds one, otherwise `english` itself. The result lives as long
// as the program; it may be called from any thread.
const char* ui_text(const char* english) __attribute__((format_arg(1)));

// The table itself, for checks over every pair.
struct ui_text_pair {
    const char* english;
    const char* polish;
};
const ui_text_pair* ui_text_table(int* count);
