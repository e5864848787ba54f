// The headless back end: no display, answers from a script, a fixed font
// of 6 x 13 base units, and the dialog's client area at (18, 36) on the
// screen, where a dialog at (10, 10) dialog units with a frame and caption
// puts it.
#include "platform/window/headless.h"

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>

namespace {

enum action_kind { ACT_CLICK, ACT_TYPE, ACT_WAIT };
struct action {
    action_kind kind;
    int id;
    std::string text;
    int ms;
};

std::mutex script_mutex;
std::deque<action> actions;
std::deque<int> box_answers;
std::deque<std::optional<std::string>> save_answers;
std::deque<std::optional<std::string>> chooser_answers;
std::vector<message_box_record> boxes;
std::function<void(const message_box_record&)> box_hook;
int save_shown = 0;
int chooser_shown = 0;
int idle_close_ms = 300;
std::vector<std::string> urls_opened;
std::vector<std::string> programs_asked;
std::vector<std::string> programs_installed;

void base_units(const dialog_template*, int* bx, int* by)
{
    *bx = 6;
    *by = 13;
}

void client_origin(window, point* p)
{
    p->x = 18;
    p->y = 36;
}

void create_dialog(window) {}
void destroy_dialog(window) {}
void wake() {}
void control_changed(window) {}
void draw(const draw_call&) {}

bool next_action(action* a)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    if (actions.empty())
        return false;
    *a = actions.front();
    actions.pop_front();
    return true;
}

void run_modal(window dialog)
{
    using clock = std::chrono::steady_clock;
    while (!dialog->ended) {
        // One round of what waits, then the script's next action, as a user
        // gets a turn between rounds in a window: a device that posts again
        // as soon as its buffer is handled must not hold the script back.
        window_core_dispatch_posted();
        if (dialog->ended)
            break;
        action a;
        if (next_action(&a)) {
            switch (a.kind) {
            case ACT_CLICK: window_core_click(dialog_item(dialog, a.id)); break;
            case ACT_TYPE: window_core_typed(dialog_item(dialog, a.id), a.text.c_str()); break;
            case ACT_WAIT: {
                auto until = clock::now() + std::chrono::milliseconds(a.ms);
                while (!dialog->ended && clock::now() < until) {
                    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - clock::now()).count());
                    if (window_core_wait_posted(left > 0 ? left : 0))
                        window_core_dispatch_posted();
                }
                break;
            }
            }
            continue;
        }
        if (!window_core_wait_posted(idle_close_ms)) {
            window_core_close(dialog);
            // A box that the close box does not close (the About box) is
            // left with its default button, as a user would.
            if (!dialog->ended)
                for (window c : dialog->children)
                    if (c->kind == CTL_DEFPUSHBUTTON) {
                        window_core_click(c);
                        break;
                    }
        }
    }
}

int message_box(window owner, const char* text, const char* caption, unsigned flags)
{
    int answer = (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
    std::function<void(const message_box_record&)> hook;
    message_box_record rec;
    {
        std::lock_guard<std::mutex> lock(script_mutex);
        if (!box_answers.empty()) {
            answer = box_answers.front();
            box_answers.pop_front();
        }
        rec = {owner, text, caption, flags, answer};
        boxes.push_back(rec);
        hook = box_hook;
    }
    if (hook)
        hook(rec);
    return answer;
}

int save_file(window, const char*, const char*, char* name, int size, bool)
{
    std::optional<std::string> answer;
    {
        std::lock_guard<std::mutex> lock(script_mutex);
        ++save_shown;
        if (!save_answers.empty()) {
            answer = save_answers.front();
            save_answers.pop_front();
        }
    }
    if (!answer || !name || size <= 0)
        return 0;
    if (answer->size() + 1 > size_t(size))
        return 0;   // the dialog cannot hand back a name longer than its buffer
    std::memcpy(name, answer->c_str(), answer->size() + 1);
    return 1;
}

int format_chooser(window, const format_choice* choices, int count)
{
    std::optional<std::string> answer;
    {
        std::lock_guard<std::mutex> lock(script_mutex);
        ++chooser_shown;
        if (!chooser_answers.empty()) {
            answer = chooser_answers.front();
            chooser_answers.pop_front();
        }
    }
    if (!answer)
        return -1;
    for (int i = 0; i < count; ++i)
        if (choices[i].spelling && *answer == choices[i].spelling)
            return i;
    return -1;
}

int open_url(const char* url)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    urls_opened.push_back(url);
    return 0;
}

int start_program(const char* path)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    programs_asked.push_back(path);
    for (const std::string& p : programs_installed)
        if (p == path)
            return 0;
    return -1;
}

const window_backend headless = {
    "headless", base_units, client_origin, create_dialog, destroy_dialog, run_modal,
    wake, control_changed, message_box, save_file, format_chooser, draw,
    open_url, start_program,
};

} // namespace

const window_backend* headless_backend()
{
    return &headless;
}

window headless_open_dialog(const dialog_template* t, dialog_proc proc, lparam init)
{
    window dialog = window_core_create_dialog(t, nullptr, proc);
    proc(dialog, WM_INITDIALOG, 0, init);
    return dialog;
}

void headless_close_dialog(window dialog)
{
    if (dialog)
        window_core_destroy_dialog(dialog);
}

void headless_click(window dialog, int id)
{
    window c = dialog_item(dialog, id);
    if (c)
        window_core_click(c);
    else
        send_message(dialog, WM_COMMAND, make_wparam(unsigned(id), 0), 0);
}

void headless_drop_file(window dialog, const char* path)
{
    window_core_drop_file(dialog, path);
}

void headless_type(window dialog, int id, const char* text)
{
    window_core_typed(dialog_item(dialog, id), text);
}

int headless_pump()
{
    int total = 0;
    for (int round = 0; round < 100000; ++round) {
        int n = window_core_dispatch_posted();
        if (n == 0)
            break;
        total += n;
    }
    return total;
}

int headless_pump_for(int ms)
{
    using clock = std::chrono::steady_clock;
    auto until = clock::now() + std::chrono::milliseconds(ms);
    int total = headless_pump();
    while (clock::now() < until) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - clock::now()).count());
        if (window_core_wait_posted(left > 0 ? left : 0))
            total += headless_pump();
    }
    return total;
}

void headless_script_click(int id)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    actions.push_back({ACT_CLICK, id, "", 0});
}

void headless_script_type(int id, const char* text)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    actions.push_back({ACT_TYPE, id, text ? text : "", 0});
}

void headless_script_wait(int ms)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    actions.push_back({ACT_WAIT, 0, "", ms});
}

void headless_set_idle_close_ms(int ms)
{
    idle_close_ms = ms;
}

void headless_answer_box(int answer)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    box_answers.push_back(answer);
}

void headless_answer_save(const char* name)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    save_answers.push_back(name ? std::optional<std::string>(name) : std::nullopt);
}

void headless_answer_chooser(const char* spelling)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    chooser_answers.push_back(spelling ? std::optional<std::string>(spelling) : std::nullopt);
}

std::vector<message_box_record> headless_message_boxes()
{
    std::lock_guard<std::mutex> lock(script_mutex);
    return boxes;
}

void headless_clear_message_boxes()
{
    std::lock_guard<std::mutex> lock(script_mutex);
    boxes.clear();
}

void headless_on_message_box(std::function<void(const message_box_record&)> hook)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    box_hook = std::move(hook);
}

int headless_save_dialogs_shown()
{
    std::lock_guard<std::mutex> lock(script_mutex);
    return save_shown;
}

int headless_choosers_shown()
{
    std::lock_guard<std::mutex> lock(script_mutex);
    return chooser_shown;
}

std::vector<std::string> headless_opened_urls()
{
    std::lock_guard<std::mutex> lock(script_mutex);
    return urls_opened;
}

std::vector<std::string> headless_started_programs()
{
    std::lock_guard<std::mutex> lock(script_mutex);
    return programs_asked;
}

void headless_install_program(const char* path)
{
    std::lock_guard<std::mutex> lock(script_mutex);
    programs_installed.push_back(path ? path : "");
}

void headless_reset()
{
    {
        std::lock_guard<std::mutex> lock(script_mutex);
        urls_opened.clear();
        programs_asked.clear();
        programs_installed.clear();
        actions.clear();
        box_answers.clear();
        save_answers.clear();
        chooser_answers.clear();
        boxes.clear();
        save_shown = 0;
        chooser_shown = 0;
        idle_close_ms = 300;
    }
    window_core_clear_posted();
    headless_clear_draw_calls();
}
