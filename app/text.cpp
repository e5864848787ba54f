// Texts built into fixed buffers, cut safely.
#include "app/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
// The longest prefix of text[0..n) that fits `room` bytes and ends on a
// character boundary.
size_t fitting_length(const char* text, size_t n, size_t room)
{
    if (n <= room)
        return n;
    n = room;
    while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}
} // namespace

int copy_text(char* out, int size, const char* text)
{
    if (!out || size <= 0)
        return 0;
    if (!text)
        text = "";
    size_t n = fitting_length(text, std::strlen(text), size_t(size - 1));
    std::memmove(out, text, n);
    out[n] = '\0';
    return int(n);
}

int format_text(char* out, int size, const char* format, ...)
{
    if (!out || size <= 0)
        return 0;
    // Long enough for every line the program builds (a name of 255 bytes
    // and its words); anything longer is cut here before it is cut to size.
    char wide[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(wide, sizeof wide, format, args);
    va_end(args);
    if (n < 0)
        wide[0] = '\0';
    else if (n >= int(sizeof wide))
        wide[fitting_length(wide, sizeof wide - 1, sizeof wide - 2)] = '\0';
    return copy_text(out, size, wide);
}
