// Track names: "side.wav" becomes "side0.wav" with the counter on the "0";
// a name ending in "_" counts on the character before it.
#include "app/track_naming.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include "core/app_state.h"

namespace {
char* counter_char()
{
    int pos = app.track_digit_pos;
    if (pos < 0 || pos >= int(sizeof app.track_name) - 1 || app.track_name[pos] == '\0')
        return nullptr;
    return &app.track_name[pos];
}
} // namespace

int derive_track_name()
{
    const long L = long(strnlen(app.capture_file_name, sizeof app.capture_file_name));
    char t[sizeof app.capture_file_name + 8];
    std::memcpy(t, app.capture_file_name, size_t(L));
    t[L] = '\0';

    // An extension is a "." among the last four characters. A "." in a
    // directory's name is none: the scan stops at the last separator.
    long dot = -1;
    for (long i = L - 1; i >= 0 && i >= L - 4; --i) {
        if (t[i] == '/')
            break;
        if (t[i] == '.') {
            dot = i;
            break;
        }
    }
    long underscore = -1;
    long len = L;
    if (L > 0 && t[L - 1] == '_') {
        underscore = L - 1;
        t[underscore] = '\0';
        len = underscore;
    }

    char ext[8];
    long pos;
    if (dot >= 0) {
        // The extension as it stands after the "_" was cut (at most 4 characters).
        std::memcpy(ext, t + dot, size_t(len - dot));
        ext[len - dot] = '\0';
        if (underscore < 0) {
            t[dot] = '0';
            t[dot + 1] = '\0';
            len = dot + 1;
            pos = dot;
        } else {
            pos = underscore - 1;   // the extension stays in the name as well
        }
    } else {
        std::strcpy(ext, ".wav");
        if (underscore >= 0 && (underscore == 0 || t[underscore - 1] != '/')) {
            pos = underscore - 1;
        } else if (underscore > 0) {
            // "dir/_": counting on the separator would send the next takes
            // into other folders; the counter takes the "_"'s place instead.
            t[underscore] = '0';
            t[underscore + 1] = '\0';
            len = underscore + 1;
            pos = underscore;
        } else {
            t[L] = '0';
            t[L + 1] = '\0';
            len = L + 1;
            pos = L;
        }
    }
    long ext_len = long(std::strlen(ext));
    if (pos < 0 || len + ext_len > long(sizeof app.track_name) - 1)
        return -1;
    std::memcpy(t + len, ext, size_t(ext_len) + 1);
    std::memcpy(app.track_name, t, size_t(len + ext_len) + 1);
    app.track_digit_pos = int32_t(pos);
    return 0;
}

namespace {
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The counter as a whole number: the digits from track_digit_pos on are
// replaced by `value`, the rest of the name moving along, so take ten
// follows take nine instead of writing over take zero. A name that would
// no longer fit keeps its number.
void put_track_number(char* c, uint64_t value)
{
    size_t digits = 0;
    while (is_digit(c[digits]))
        ++digits;
    char number[24];
    const int n = std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(value));
    const size_t tail = std::strlen(c + digits);
    const size_t used = size_t(c - app.track_name);
    if (n <= 0 || used + size_t(n) + tail + 1 > sizeof app.track_name)
        return;
    std::memmove(c + n, c + digits, tail + 1);
    std::memcpy(c, number, size_t(n));
}

// The whole number that starts at the counter; at most 18 digits are read,
// so it never overflows.
uint64_t track_number(const char* c)
{
    uint64_t v = 0;
    for (int i = 0; i < 18 && is_digit(c[i]); ++i)
        v = v * 10 + uint64_t(c[i] - '0');
    return v;
}
} // namespace

void advance_track_counter()
{
    char* c = counter_char();
    if (!c)
        return;
    if (is_digit(*c)) {
        put_track_number(c, track_number(c) + 1);
        return;
    }
    // Any other character: letters count as past "9" and start at "0",
    // codes of 128 and above (below "0" as signed bytes) move up by one.
    int8_t v = int8_t(*c);
    v = v >= '9' ? int8_t('0') : int8_t(v + 1);
    // 0xFF + 1 would end the name at the counter; it starts again at "0".
    if (v == 0)
        v = '0';
    *c = char(v);
}

void step_back_track_counter()
{
    char* c = counter_char();
    if (!c)
        return;
    if (is_digit(*c)) {
        const uint64_t v = track_number(c);
        if (v > 0)
            put_track_number(c, v - 1);
        return;
    }
    int8_t v = int8_t(*c);
    if (v > '0')
        *c = char(v - 1);
}
