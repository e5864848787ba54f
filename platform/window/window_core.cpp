// The window core: dialogs and controls as a model, the posted-message
// queue, subclassing, fonts, pens, brushes and device contexts. Every
// window.h routine lands here and reaches the back end only through its hooks.
#include "platform/window/window_backend.h"
#include "platform/window/headless.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_set>

namespace {

struct posted_message {
    window w;
    unsigned message;
    wparam wp;
    lparam lp;
};

std::mutex queue_mutex;
std::condition_variable queue_signal;
std::deque<posted_message> posted;
// Every dialog and control that exists, guarded by queue_mutex: a device or
// the playback timer may post to a dialog that has just gone, and such a
// message must be refused rather than kept to be handed to freed memory.
std::unordered_set<window> live_windows;

const window_backend* backend = nullptr;
std::vector<window> open_dialogs;
window focused = nullptr;
cursor_shape asked_cursor = CURSOR_ARROW;   // set while WM_SETCURSOR is handled

std::mutex draw_mutex;          // the playback timer draws from its own thread
bool draw_log_on = true;
std::vector<draw_call> draw_log;
constexpr size_t DRAW_LOG_LIMIT = 200000;

const window_backend* current_backend()
{
    if (!backend)
        backend = headless_backend();
    return backend;
}

// The plain procedure of a control: what is left when no subclass handles
// a message.
msg_result default_control_proc(window w, unsigned message, wparam wp, lparam lp)
{
    switch (message) {
    case WM_SETFONT:
        w->font_ = reinterpret_cast<font>(wp);
        if (lp)
            current_backend()->control_changed(w);
        return 0;
    case WM_ERASEBKGND:
        return 0;
    case WM_SETCURSOR:
        set_cursor(CURSOR_ARROW);
        return 0;
    default:
        return 0;
    }
}

bool notifying_static(window w)
{
    return w && !w->is_dialog && (w->kind == CTL_LTEXT || w->kind == CTL_CTEXT) && (w->style & SS_NOTIFY);
}

window dialog_of(window w)
{
    while (w && !w->is_dialog)
        w = w->parent;
    return w;
}

void destroy_tree(window dialog)
{
    for (window c : dialog->children)
        delete c;
    delete dialog->font_;
    delete dialog;
}

void emit(draw_call& call)
{
    {
        std::lock_guard<std::mutex> lock(draw_mutex);
        if (draw_log_on && draw_log.size() < DRAW_LOG_LIMIT)
            draw_log.push_back(call);
    }
    // Outside the lock: a back end may repaint at once, and the repaint
    // makes drawing calls of its own (a subclassed button erasing itself).
    current_backend()->draw(call);
}

void fill_pen(draw_call& call, dc d)
{
    gdi pen = d->pen ? d->pen : stock_object(BLACK_PEN);
    call.pen_width = pen->width;
    call.pen_color = pen->color;
    call.pen_null = pen->null_object;
}

void fill_brush(draw_call& call, gdi brush)
{
    if (!brush)
        brush = stock_object(WHITE_BRUSH);
    call.brush_color = brush->color;
    call.brush_null = brush->null_object;
}

} // namespace

// --- back end choice ---------------------------------------------------------

void window_set_backend(const window_backend* b)
{
    backend = b;
}

bool window_is_headless()
{
    return current_backend() == headless_backend();
}

const window_backend* window_core_backend()
{
    return current_backend();
}

void window_core_set_draw_log(bool on)
{
    std::lock_guard<std::mutex> lock(draw_mutex);
    draw_log_on = on;
}

// --- dialogs -------------------------------------------------------------------

window window_core_create_dialog(const dialog_template* t, window owner, dialog_proc proc)
{
    const window_backend* b = current_backend();
    int bx = 6, by = 13;
    b->base_units(t, &bx, &by);

    window dialog = new window_object;
    dialog->is_dialog = true;
    dialog->parent = owner;
    dialog->text = t->title ? t->title : "";
    dialog->dlg_proc = proc;
    dialog->tmpl = t;
    dialog->client = {0, 0, t->cx * bx / 4, t->cy * by / 8};
    auto* f = new font_object;
    f->face = t->font_face ? t->font_face : "";
    f->points = t->font_points;
    dialog->font_ = f;

    for (int i = 0; i < t->control_count; ++i) {
        const control_template& ct = t->controls[i];
        window c = new window_object;
        c->id = ct.id;
        c->kind = ct.kind;
        c->parent = dialog;
        c->text = ct.caption ? ct.caption : "";
        c->proc = default_control_proc;
        c->font_ = f;
        c->client = {ct.x * bx / 4, ct.y * by / 8, (ct.x + ct.cx) * bx / 4, (ct.y + ct.cy) * by / 8};
        dialog->children.push_back(c);
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        live_windows.insert(dialog);
        for (window c : dialog->children)
            live_windows.insert(c);
    }
    open_dialogs.push_back(dialog);
    b->create_dialog(dialog);
    return dialog;
}

void window_core_destroy_dialog(window dialog)
{
    current_backend()->destroy_dialog(dialog);
    open_dialogs.erase(std::remove(open_dialogs.begin(), open_dialogs.end(), dialog), open_dialogs.end());
    if (focused && dialog_of(focused) == dialog)
        focused = nullptr;
    // Messages still queued for the dialog go with it.
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        live_windows.erase(dialog);
        for (window c : dialog->children)
            live_windows.erase(c);
        posted.erase(std::remove_if(posted.begin(), posted.end(),
                                    [&](const posted_message& m) { return dialog_of(m.w) == dialog; }),
                     posted.end());
    }
    destroy_tree(dialog);
}

intptr_t dialog_box(const dialog_template* t, window owner, dialog_proc proc, lparam init)
{
    window dialog = window_core_create_dialog(t, owner, proc);
    proc(dialog, WM_INITDIALOG, 0, init);
    if (!dialog->ended)
        current_backend()->run_modal(dialog);
    intptr_t result = dialog->end_result;
    window_core_destroy_dialog(dialog);
    return result;
}

void end_dialog(window dialog, intptr_t result)
{
    dialog = dialog_of(dialog);
    if (!dialog)
        return;
    dialog->ended = true;
    dialog->end_result = result;
    current_backend()->wake();
}

window window_core_top_dialog()
{
    return open_dialogs.empty() ? nullptr : open_dialogs.back();
}

// --- controls --------------------------------------------------------------------

window dialog_item(window dialog, int id)
{
    dialog = dialog_of(dialog);
    if (!dialog)
        return nullptr;
    for (window c : dialog->children)
        if (c->id == id)
            return c;
    return nullptr;
}

int control_id(window control)
{
    return control ? control->id : 0;
}

void set_window_text(window w, const char* text)
{
    if (!w)
        return;
    w->text = text ? text : "";
    current_backend()->control_changed(w);
}

int get_window_text(window w, char* out, int size)
{
    if (!out || size <= 0)
        return 0;
    out[0] = '\0';
    if (!w)
        return 0;
    size_t n = std::min(w->text.size(), size_t(size - 1));
    while (n > 0 && n < w->text.size() && (uint8_t(w->text[n]) & 0xC0) == 0x80)
        --n;   // never cut a UTF-8 character in half
    std::memcpy(out, w->text.data(), n);
    out[n] = '\0';
    return int(n);
}

void set_item_text(window dialog, int id, const char* text)
{
    set_window_text(dialog_item(dialog, id), text);
}

int get_item_text(window dialog, int id, char* out, int size)
{
    return get_window_text(dialog_item(dialog, id), out, size);
}

void enable_item(window dialog, int id, bool enabled)
{
    window c = dialog_item(dialog, id);
    if (!c || c->enabled == enabled)
        return;
    c->enabled = enabled;
    current_backend()->control_changed(c);
}

bool item_enabled(window dialog, int id)
{
    window c = dialog_item(dialog, id);
    return c && c->enabled;
}

void set_focus(window w)
{
    window old = focused;
    focused = w;
    if (old)
        current_backend()->control_changed(old);
    if (w)
        current_backend()->control_changed(w);
}

window get_focus()
{
    return focused;
}

void set_button_state(window button, bool highlighted)
{
    if (!button)
        return;
    button->button_state = highlighted ? (button->button_state | BST_PUSHED) : (button->button_state & ~unsigned(BST_PUSHED));
    current_backend()->control_changed(button);
}

unsigned get_button_state(window button)
{
    if (!button)
        return 0;
    return button->button_state | (button == focused ? unsigned(BST_FOCUS) : 0u);
}

void get_window_rect(window w, rect* r)
{
    if (!w || !r)
        return;
    window dialog = dialog_of(w);
    point o = {0, 0};
    current_backend()->client_origin(dialog, &o);
    *r = {w->client.left + o.x, w->client.top + o.y, w->client.right + o.x, w->client.bottom + o.y};
    if (w->is_dialog) {
        // A dialog's own window rectangle includes its frame and caption.
        r->left = o.x - 3;
        r->top = o.y - 22;
        r->right = o.x + (w->client.right - w->client.left) + 3;
        r->bottom = o.y + (w->client.bottom - w->client.top) + 3;
    }
}

void get_client_rect(window w, rect* r)
{
    if (!w || !r)
        return;
    *r = {0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
}

void screen_to_client(window w, point* p)
{
    window dialog = dialog_of(w);
    if (!dialog || !p)
        return;
    point o = {0, 0};
    current_backend()->client_origin(dialog, &o);
    p->x -= o.x;
    p->y -= o.y;
    if (!w->is_dialog) {
        p->x -= w->client.left;
        p->y -= w->client.top;
    }
}

// --- messages ----------------------------------------------------------------------

bool post_message(window w, unsigned message, wparam wp, lparam lp)
{
    if (!w)
        return false;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (!live_windows.count(w))
            return false;
        posted.push_back({w, message, wp, lp});
    }
    queue_signal.notify_all();
    current_backend()->wake();
    return true;
}

msg_result send_message(window w, unsigned message, wparam wp, lparam lp)
{
    if (!w)
        return 0;
    if (w->is_dialog) {
        if (message == WM_CLOSE) {
            // The close box acts as the cancel command, as a dialog's default handling does.
            if (!w->dlg_proc(w, WM_CLOSE, wp, lp))
                return w->dlg_proc(w, WM_COMMAND, make_wparam(IDCANCEL, 0), 0);
            return 1;
        }
        return w->dlg_proc(w, message, wp, lp);
    }
    return w->proc ? w->proc(w, message, wp, lp) : 0;
}

int window_core_dispatch_posted()
{
    // Only what waits now: messages posted meanwhile (a fast device keeps
    // posting) wait for the next call, so user input is never starved.
    size_t waiting;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        waiting = posted.size();
    }
    int handled = 0;
    for (; waiting > 0; --waiting) {
        posted_message m;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            if (posted.empty())
                break;
            m = posted.front();
            posted.pop_front();
        }
        bool live = std::find(open_dialogs.begin(), open_dialogs.end(), dialog_of(m.w)) != open_dialogs.end();
        if (live)
            send_message(m.w, m.message, m.wp, m.lp);
        ++handled;
    }
    return handled;
}

void window_core_clear_posted()
{
    std::lock_guard<std::mutex> lock(queue_mutex);
    posted.clear();
}

bool window_core_wait_posted(int timeout_ms)
{
    std::unique_lock<std::mutex> lock(queue_mutex);
    return queue_signal.wait_for(lock, std::chrono::milliseconds(timeout_ms), [] { return !posted.empty(); });
}

window_proc subclass_window(window w, window_proc proc)
{
    if (!w)
        return nullptr;
    window_proc old = w->proc;
    w->proc = proc;
    return old;
}

msg_result call_window_proc(window_proc proc, window w, unsigned message, wparam wp, lparam lp)
{
    return proc ? proc(w, message, wp, lp) : 0;
}

unsigned get_window_style(window w)
{
    return w ? w->style : 0;
}

void set_window_style(window w, unsigned style)
{
    if (!w || w->style == style)
        return;
    w->style = style;
    current_backend()->control_changed(w);
}

// --- the mouse over statics ----------------------------------------------------------

void set_cursor(cursor_shape shape)
{
    asked_cursor = shape;
}

cursor_shape window_core_cursor_over(window control)
{
    if (!notifying_static(control))
        return CURSOR_ARROW;
    asked_cursor = CURSOR_ARROW;
    // wparam: the window under the pointer; lparam: in its client area, mouse move.
    send_message(control, WM_SETCURSOR, wparam(control), lparam(1 | (0x0200 << 16)));
    return asked_cursor;
}

void window_core_mouse_button(window control, unsigned message, int x, int y)
{
    if (!notifying_static(control) || !control->enabled)
        return;
    if (message != WM_LBUTTONDOWN && message != WM_LBUTTONUP)
        return;
    const wparam MK_LBUTTON = 1;
    send_message(control, message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0,
                 lparam((x & 0xFFFF) | ((y & 0xFFFF) << 16)));
}

void window_core_click(window control)
{
    window dialog = dialog_of(control);
    if (!dialog || !control->enabled)
        return;
    send_message(dialog, WM_COMMAND, make_wparam(unsigned(control->id), 0), lparam(control));
}

void window_core_typed(window control, const char* text)
{
    if (control)
        control->text = text ? text : "";
}

void window_core_close(window dialog)
{
    send_message(dialog, WM_CLOSE, 0, 0);
}

void window_core_drop_file(window dialog, const char* path)
{
    if (dialog && dialog->is_dialog && !dialog->ended && path)
        send_message(dialog, WM_DROPFILES, 0, lparam(path));
}

bool window_core_button_colors(window button, colorref* text, colorref* background, colorref* brush_color)
{
    window dialog = dialog_of(button);
    if (!dialog)
        return false;
    dc_object d;
    d.w = button;
    d.text_color = *text;
    d.bk_color = *background;
    msg_result r = dialog->dlg_proc(dialog, WM_CTLCOLORBTN, wparam(&d), lparam(button));
    if (!r)
        return false;
    gdi brush = reinterpret_cast<gdi>(r);
    *text = d.text_color;
    *background = d.bk_color;
    *brush_color = brush->color;
    return true;
}

bool window_core_static_colors(window control, static_colors* out)
{
    window dialog = dialog_of(control);
    if (!dialog || control == dialog || !out)
        return false;
    dc_object d;
    d.w = control;
    d.text_color = rgb(0, 0, 0);
    d.bk_color = button_face_color();
    d.mode = OPAQUE_BK;
    msg_result r = dialog->dlg_proc(dialog, WM_CTLCOLORSTATIC, wparam(&d), lparam(control));
    if (!r)
        return false;
    gdi brush = reinterpret_cast<gdi>(r);
    out->text = d.text_color;
    out->background = d.bk_color;
    out->mode = d.mode;
    out->brush_null = brush->null_object;
    out->brush = brush->color;
    return true;
}

// --- fonts ---------------------------------------------------------------------------

font get_window_font(window w)
{
    return w ? w->font_ : nullptr;
}

font create_underlined_font(font base)
{
    if (!base)
        return nullptr;
    auto* f = new font_object(*base);
    f->underline = true;
    f->owned = true;
    return f;
}

void set_window_font(window w, font f, bool redraw)
{
    if (w)
        send_message(w, WM_SETFONT, wparam(f), redraw ? 1 : 0);
}

void delete_font(font f)
{
    if (f && f->owned)
        delete f;
}

bool font_is_underlined(font f)
{
    return f && f->underline;
}

// --- modal questions -----------------------------------------------------------------

int message_box(window owner, const char* text, const char* caption, unsigned flags)
{
    return current_backend()->message_box(owner, text ? text : "", caption ? caption : "", flags);
}

int save_file_dialog(window owner, const char* filter_name, const char* pattern, char* name, int size, bool overwrite_prompt)
{
    return current_backend()->save_file(owner, filter_name, pattern, name, size, overwrite_prompt);
}

int format_chooser_dialog(window owner, const format_choice* choices, int count)
{
    return current_backend()->format_chooser(owner, choices, count);
}

// --- pens, brushes, device contexts ------------------------------------------------

colorref button_face_color()
{
    return rgb(240, 240, 240);
}

gdi stock_object(stock_id id)
{
    static gdi_object objects[] = {
        {GDI_BRUSH, 0, rgb(255, 255, 255), false, true},   // WHITE_BRUSH
        {GDI_BRUSH, 0, rgb(192, 192, 192), false, true},   // LTGRAY_BRUSH
        {GDI_BRUSH, 0, rgb(0, 0, 0), false, true},         // BLACK_BRUSH
        {GDI_BRUSH, 0, 0, true, true},                     // NULL_BRUSH
        {GDI_PEN, 1, rgb(255, 255, 255), false, true},     // WHITE_PEN
        {GDI_PEN, 1, rgb(0, 0, 0), false, true},           // BLACK_PEN
        {GDI_PEN, 1, 0, true, true},                       // NULL_PEN
    };
    return &objects[id];
}

gdi create_pen(int width, colorref color)
{
    auto* p = new gdi_object;
    p->kind = GDI_PEN;
    p->width = width < 1 ? 1 : width;
    p->color = color;
    return p;
}

gdi create_solid_brush(colorref color)
{
    auto* b = new gdi_object;
    b->kind = GDI_BRUSH;
    b->color = color;
    return b;
}

void delete_object(gdi object)
{
    if (object && !object->stock)
        delete object;
}

dc get_dc(window w)
{
    if (!w)
        return nullptr;
    auto* d = new dc_object;
    d->w = w;
    d->pen = stock_object(BLACK_PEN);
    d->brush = stock_object(WHITE_BRUSH);
    return d;
}

void release_dc(window, dc d)
{
    delete d;
}

gdi select_object(dc d, gdi object)
{
    if (!d || !object)
        return nullptr;
    gdi old;
    if (object->kind == GDI_PEN) {
        old = d->pen;
        d->pen = object;
    } else {
        old = d->brush;
        d->brush = object;
    }
    return old;
}

void set_text_color(dc d, colorref c)
{
    if (d)
        d->text_color = c;
}

void set_bk_color(dc d, colorref c)
{
    if (d)
        d->bk_color = c;
}

void set_bk_mode(dc d, bk_mode mode)
{
    if (d)
        d->mode = mode;
}

void move_to(dc d, int x, int y)
{
    if (d)
        d->cursor = {x, y};
}

void line_to(dc d, int x, int y)
{
    if (!d)
        return;
    draw_call call{DRAW_LINE, d->w};
    fill_pen(call, d);
    call.v[0] = d->cursor.x;
    call.v[1] = d->cursor.y;
    call.v[2] = x;
    call.v[3] = y;
    d->cursor = {x, y};
    emit(call);
}

void polyline(dc d, const point* pts, int count)
{
    if (!d || !pts || count < 2)
        return;
    draw_call call{DRAW_POLYLINE, d->w};
    fill_pen(call, d);
    call.points.assign(pts, pts + count);
    emit(call);
}

void pie(dc d, int l, int t, int r, int b, int x1, int y1, int x2, int y2)
{
    if (!d)
        return;
    draw_call call{DRAW_PIE, d->w};
    fill_pen(call, d);
    fill_brush(call, d->brush);
    int v[8] = {l, t, r, b, x1, y1, x2, y2};
    std::memcpy(call.v, v, sizeof v);
    emit(call);
}

void ellipse(dc d, int l, int t, int r, int b)
{
    if (!d)
        return;
    draw_call call{DRAW_ELLIPSE, d->w};
    fill_pen(call, d);
    fill_brush(call, d->brush);
    call.v[0] = l;
    call.v[1] = t;
    call.v[2] = r;
    call.v[3] = b;
    emit(call);
}

void fill_rect(dc d, const rect* r, gdi brush)
{
    if (!d || !r)
        return;
    draw_call call{DRAW_FILL_RECT, d->w};
    fill_brush(call, brush);
    call.v[0] = r->left;
    call.v[1] = r->top;
    call.v[2] = r->right;
    call.v[3] = r->bottom;
    emit(call);
}

void invert_rect(dc d, const rect* r)
{
    if (!d || !r)
        return;
    draw_call call{DRAW_INVERT_RECT, d->w};
    call.v[0] = r->left;
    call.v[1] = r->top;
    call.v[2] = r->right;
    call.v[3] = r->bottom;
    emit(call);
}

// --- draw log (headless.h) -------------------------------------------------------------

std::vector<draw_call> headless_draw_calls()
{
    std::lock_guard<std::mutex> lock(draw_mutex);
    return draw_log;
}

void headless_clear_draw_calls()
{
    std::lock_guard<std::mutex> lock(draw_mutex);
    draw_log.clear();
}
