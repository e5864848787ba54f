// Choosing the track to clean by its file: checked as the passes will read
// it, then named as Change... names tracks, with the counter on its number.
#include "app/track_choice.h"

#include <cerrno>
#include <cstring>
#include "core/app_state.h"
#include "core/ids.h"
#include "app/text.h"
#include "platform/file/wav_reader.h"
#include "res/ui_text.h"
#include "platform/system/system.h"

namespace {

constexpr int PATH_BYTES = 4096;
constexpr int MESSAGE_BYTES = PATH_BYTES + 160;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Where the number in the file-name part begins: the first digit of its
// last run of digits before the extension; -1 when it has none.
int number_position(const char* name)
{
    const char* slash = std::strrchr(name, '/');
    const char* part = slash ? slash + 1 : name;
    const char* dot = std::strrchr(part, '.');
    const char* end = dot ? dot : part + std::strlen(part);
    const char* p = end;
    while (p > part && !is_digit(p[-1]))
        --p;
    if (p == part)
        return -1;
    while (p > part && is_digit(p[-1]))
        --p;
    return int(p - name);
}

// Why `full` cannot be cleaned, into why; false when it can.
bool unreadable(const char* full, char* why, int size)
{
    const int fd = wav_open(full);
    if (fd == WAV_CANNOT_OPEN) {
        format_text(why, size, ui_text("%s cannot be opened: %s."), full, std::strerror(errno));
        return true;
    }
    if (fd < 0) {
        format_text(why, size, "%s %s.", full, ui_text(wav_error_text(fd)));
        return true;
    }
    wav_layout layout;
    const int r = wav_read_layout(fd, &layout);
    wav_close(fd);
    if (r != WAV_OK) {
        format_text(why, size, "%s %s.", full, ui_text(wav_error_text(r)));
        return true;
    }
    if (!wav_is_pcm16(layout)) {
        format_text(why, size,
                    ui_text("%s is not a track that can be cleaned: only 16-bit PCM tracks with one or two "
                            "channels can be."),
                    full);
        return true;
    }
    return false;
}

} // namespace

int choose_track(window dialog, const char* path)
{
    char why[MESSAGE_BYTES] = "";
    char full[PATH_BYTES] = "";
    if (app.recording || app.signal_waiting)
        copy_text(why, sizeof why, ui_text("Recording - stop it before choosing a track to clean."));
    else if (app.track_open)
        copy_text(why, sizeof why, ui_text("A cleaned track is open - close it before choosing another track."));
    else if (!path || !*path || full_path_name(path, full, sizeof full) == 0)
        format_text(why, sizeof why, ui_text("%s cannot be found."), path ? path : "");
    else if (std::strlen(full) >= sizeof app.track_name)
        format_text(why, sizeof why, ui_text("%s: Filename too long."), full);
    else
        unreadable(full, why, sizeof why);
    if (why[0]) {
        copy_text(why + std::strlen(why), int(sizeof why - std::strlen(why)), ui_text("\nThe track to clean stays as it was."));
        message_box(nullptr, why, APP_CAPTION, MB_OK | MB_ICONWARNING);
        return -1;
    }
    copy_text(app.track_name, sizeof app.track_name, full);
    app.track_digit_pos = number_position(app.track_name);
    app.track_chosen = 1;
    format_text(app.status_text, sizeof app.status_text, ui_text("Track to clean: %s"), app.track_name);
    set_item_text(dialog, IDC_STATUS, app.status_text);
    return 0;
}
