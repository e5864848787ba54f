// Texts built into the fixed buffers of AppState (status line, result line,
// failure lines): always terminated, cut to fit, never in the middle of a
// UTF-8 character.
#pragma once

// Copies text into out (size bytes, terminator included). Returns the length.
int copy_text(char* out, int size, const char* text);
// printf into out (size bytes), cut as copy_text cuts. Returns the length.
int format_text(char* out, int size, const char* format, ...) __attribute__((format(printf, 3, 4)));
