// The window core's model and the contract a back end (Qt, headless)
// fulfils. The core owns every window, text, state, font, pen and brush and
// the posted-message queue; a back end only shows the model, feeds user
// input into it, paints drawing calls and answers modal questions.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "platform/window/window.h"

struct font_object {
    std::string face;
    int points = 8;
    bool underline = false;
    bool owned = false;          // created by create_underlined_font
};

struct window_object {
    int id = -1;
    control_kind kind = CTL_LTEXT;
    bool is_dialog = false;
    window parent = nullptr;
    std::string text;
    bool enabled = true;
    unsigned style = 0;          // SS_NOTIFY
    unsigned button_state = 0;   // BST_PUSHED while highlighted
    rect client = {0, 0, 0, 0};  // in the dialog's client area, pixels
    window_proc proc = nullptr;  // current procedure (controls)
    dialog_proc dlg_proc = nullptr;
    font font_ = nullptr;
    std::vector<window> children;
    const dialog_template* tmpl = nullptr;
    bool ended = false;
    intptr_t end_result = 0;
    void* view = nullptr;        // the back end's widget
};

enum gdi_kind { GDI_PEN, GDI_BRUSH };

struct gdi_object {
    gdi_kind kind = GDI_PEN;
    int width = 1;
    colorref color = 0;
    bool null_object = false;    // NULL_PEN / NULL_BRUSH
    bool stock = false;
};

struct dc_object {
    window w = nullptr;
    gdi pen = nullptr;
    gdi brush = nullptr;
    colorref text_color = 0;
    colorref bk_color = 0xFFFFFF;
    bk_mode mode = OPAQUE_BK;
    point cursor = {0, 0};
};

// One drawing call as it reaches the surface. Pen and brush are resolved to
// their attributes so that the record stays meaningful after they change.
enum draw_op { DRAW_LINE, DRAW_POLYLINE, DRAW_PIE, DRAW_ELLIPSE, DRAW_FILL_RECT, DRAW_INVERT_RECT };

struct draw_call {
    draw_op op;
    window target;               // the window drawn on (the dialog, or a button)
    int pen_width = 0;
    colorref pen_color = 0;
    bool pen_null = false;
    colorref brush_color = 0;
    bool brush_null = false;
    int v[8] = {};               // LINE x1 y1 x2 y2; PIE l t r b x1 y1 x2 y2; ELLIPSE/FILL/INVERT l t r b
    std::vector<point> points;   // POLYLINE
};

struct window_backend {
    const char* name;
    // Pixels per 4 horizontal and per 8 vertical dialog units for this font.
    void (*base_units)(const dialog_template* t, int* base_x, int* base_y);
    // The screen position of a dialog's client origin.
    void (*client_origin)(window dialog, point* p);
    void (*create_dialog)(window dialog);          // build widgets for the model
    void (*destroy_dialog)(window dialog);
    // Runs until dialog->ended, calling window_core_dispatch_posted whenever
    // messages wait (after wake) and delivering user input to the core.
    void (*run_modal)(window dialog);
    void (*wake)();                                // a message was posted, any thread
    void (*control_changed)(window w);             // text, enabled, font, state or focus changed
    int (*message_box)(window owner, const char* text, const char* caption, unsigned flags);
    int (*save_file)(window owner, const char* filter_name, const char* pattern, char* name, int size, bool overwrite_prompt);
    int (*format_chooser)(window owner, const format_choice* choices, int count);
    void (*draw)(const draw_call& call);           // any thread; paint onto the surface
    int (*open_url)(const char* url);              // 0 when handed to the desktop
    int (*start_program)(const char* path);        // 0 when it started
};

// --- core services for back ends -------------------------------------------
// Handles every message posted so far, in arrival order; returns how many.
int window_core_dispatch_posted();
// Waits until a message is posted or timeout_ms passes; true if one waits.
bool window_core_wait_posted(int timeout_ms);
// User input from the back end.
void window_core_click(window control);            // a button was pressed
void window_core_typed(window control, const char* text);  // an edit box changed
void window_core_close(window dialog);             // the close box
void window_core_drop_file(window dialog, const char* path);  // a file dropped on it
// Asks the dialog procedure for a button's colours (WM_CTLCOLORBTN). Returns
// false when the procedure leaves the button to the default look.
bool window_core_button_colors(window button, colorref* text, colorref* background, colorref* brush_color);
// Asks the dialog procedure for a static text's colours (WM_CTLCOLORSTATIC).
// Returns false when the procedure leaves it to the default look.
struct static_colors {
    colorref text;
    colorref background;         // behind the text when mode is OPAQUE_BK
    bk_mode mode;
    bool brush_null;             // true: the control's area is not filled
    colorref brush;
};
bool window_core_static_colors(window control, static_colors* out);
// The pointer over a control: a static with SS_NOTIFY is sent WM_SETCURSOR
// and the shape its procedure set comes back; every other control gets
// the arrow.
cursor_shape window_core_cursor_over(window control);
// The left button pressed (WM_LBUTTONDOWN) or released (WM_LBUTTONUP) over
// a control at (x, y), control pixels; only a static with SS_NOTIFY hears it.
void window_core_mouse_button(window control, unsigned message, int x, int y);
// Starts a program without a window back end's help: posix_spawn with
// none of our files, a session of its own and the child reaped on exit.
int window_core_spawn_program(const char* path);
// Refuses what is not an http or https address (the shell would run or
// open anything else).
bool window_core_is_web_address(const char* url);
// Every live dialog (for back ends that paint).
window window_core_top_dialog();
const window_backend* window_core_backend();
void window_core_set_draw_log(bool on);
