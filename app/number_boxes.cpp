// The number boxes. Every number is read wide and only then limited, so no
// entry can wrap past a limit into a value the filters cannot use (a
// Threshold of 256 is 45, never 0).
#include "app/number_boxes.h"

#include "core/app_state.h"
#include "core/ids.h"

namespace {

// A box whose text fills this buffer is longer than any number a setting
// can take and is read as no valid number.
constexpr int BOX_TEXT_BYTES = 512;

// 1 with the box's number, 0 when it holds no valid number.
int read_box(window dialog, int id, uint64_t* value)
{
    char text[BOX_TEXT_BYTES];
    int n = get_item_text(dialog, id, text, sizeof text);
    if (n >= BOX_TEXT_BYTES - 1)
        return 0;
    return parse_box_number(text, value);
}

uint64_t limited(uint64_t value, uint64_t low, uint64_t high)
{
    return value < low ? low : value > high ? high : value;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

int parse_box_number(const char* text, uint64_t* value)
{
    if (!text)
        return 0;
    while (is_blank(*text))
        ++text;
    uint64_t v = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        unsigned d = unsigned(*text - '0');
        v = v > (UINT64_MAX - d) / 10 ? UINT64_MAX : v * 10 + d;
    }
    while (is_blank(*text))
        ++text;
    if (digits == 0 || *text != '\0')
        return 0;
    if (value)
        *value = v;
    return 1;
}

int16_t read_threshold_box(window dialog)
{
    uint64_t v;
    app.filter_threshold = read_box(dialog, IDC_THRESHOLD, &v) ? int16_t(limited(v, 1, 45)) : int16_t(11);
    return app.filter_threshold;
}

int16_t read_ac_freq_box(window dialog)
{
    uint64_t v;
    app.ac_sinus_freq = read_box(dialog, IDC_AC_FREQ, &v) ? int16_t(limited(v, 0, 2048)) : int16_t(50);
    return app.ac_sinus_freq;
}

int32_t read_intro_max_box(window dialog)
{
    uint64_t v;
    app.intro_max_seconds = read_box(dialog, IDC_INTRO_MAX, &v) ? int32_t(limited(v, 0, 55)) : 9;
    return app.intro_max_seconds;
}

// The two buffer boxes take the number as typed. A number that does not fit
// the setting's 32 bits cannot be taken as typed and counts as no number.
uint32_t read_buffer_size_box(window dialog)
{
    uint64_t v;
    app.record_buffer_bytes = read_box(dialog, IDC_BUFFER_SIZE, &v) && v <= UINT32_MAX ? uint32_t(v) : 65536u;
    return app.record_buffer_bytes;
}

int32_t read_buffer_count_box(window dialog)
{
    uint64_t v;
    app.num_buffers = read_box(dialog, IDC_BUFFER_COUNT, &v) && v <= INT32_MAX ? int32_t(v) : 5;
    return app.num_buffers;
}
