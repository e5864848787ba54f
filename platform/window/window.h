// Window services: modal dialogs built from template tables, controls by id,
// posted messages, subclassing, fonts, message boxes, the save-file dialog,
// the format chooser, and drawing on the dialog's persistent surface.
//
// Two back ends implement this one interface: Qt Widgets (platform/qt) and
// the headless one (platform/window), which runs the same dialog procedures
// without a display and is driven by tests and the batch tool through
// headless.h. window_use_headless() / the Qt start-up choose between them.
//
// Threads: post_message may be called from any thread (device callbacks and
// timers post to the dialog); the drawing calls may be made from the
// playback timer's thread; everything else belongs to the dialog's thread.
#pragma once
#include <cstdint>

struct window_object;
using window = window_object*;
using wparam = uintptr_t;
using lparam = intptr_t;
using msg_result = intptr_t;

using dialog_proc = msg_result (*)(window dialog, unsigned message, wparam wp, lparam lp);
using window_proc = msg_result (*)(window w, unsigned message, wparam wp, lparam lp);

enum : unsigned {
    WM_CLOSE = 0x0010,
    WM_ERASEBKGND = 0x0014,
    WM_SETCURSOR = 0x0020,
    WM_SETFONT = 0x0030,
    WM_INITDIALOG = 0x0110,
    WM_COMMAND = 0x0111,
    WM_CTLCOLORBTN = 0x0135,
    WM_CTLCOLORSTATIC = 0x0138,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    // A file was dropped on the dialog: lparam is its path (UTF-8, valid
    // only while the message is handled); sent once per file dropped.
    WM_DROPFILES = 0x0233,
    WM_USER = 0x0400,
};

inline unsigned loword(uintptr_t v) { return unsigned(v & 0xFFFF); }
inline unsigned hiword(uintptr_t v) { return unsigned((v >> 16) & 0xFFFF); }
inline wparam make_wparam(unsigned lo, unsigned hi) { return wparam((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)); }

// --- templates -------------------------------------------------------------
enum control_kind {
    CTL_PUSHBUTTON,
    CTL_DEFPUSHBUTTON,
    CTL_EDIT,
    CTL_LTEXT,        // left-aligned static text
    CTL_CTEXT,        // centred static text
    CTL_WHITERECT,    // static white rectangle (drawing area)
    CTL_STATIC_AREA,  // plain static used as a drawing area
    CTL_GROUPBOX,
    CTL_ICON,
};

struct control_template {
    int id;                 // -1 for controls without identifier
    control_kind kind;
    const char* caption;    // UTF-8; "&" marks the mnemonic; "\n" breaks a line
    int x, y, cx, cy;       // dialog units
};

struct dialog_template {
    const char* name;       // "MAINDIALOG", "101"
    const char* title;      // UTF-8
    const char* font_face;  // the dialog font; the back end may substitute
    int font_points;
    int x, y, cx, cy;       // dialog units; x, y on the screen
    const control_template* controls;
    int control_count;
};

struct rect {
    int32_t left, top, right, bottom;
};
struct point {
    int32_t x, y;
};

// --- dialogs and controls --------------------------------------------------
// Runs the dialog modally: creates the controls, sends WM_INITDIALOG with
// `init` as lparam, handles posted messages in arrival order, returns what
// end_dialog was given. WM_CLOSE (the close box) becomes WM_COMMAND 2.
intptr_t dialog_box(const dialog_template* t, window owner, dialog_proc proc, lparam init);
void end_dialog(window dialog, intptr_t result);

window dialog_item(window dialog, int id);           // null when there is none
int control_id(window control);
void set_item_text(window dialog, int id, const char* text);
int get_item_text(window dialog, int id, char* out, int size);  // length copied
void set_window_text(window w, const char* text);
int get_window_text(window w, char* out, int size);
void enable_item(window dialog, int id, bool enabled);
bool item_enabled(window dialog, int id);
void set_focus(window w);
window get_focus();

// Button highlight: BM_SETSTATE / BM_GETSTATE. The state's bit 4 is "pushed".
enum : unsigned { BST_PUSHED = 4, BST_FOCUS = 8 };
void set_button_state(window button, bool highlighted);
unsigned get_button_state(window button);

// Window rectangle in screen coordinates, and the client rectangle.
void get_window_rect(window w, rect* r);
void get_client_rect(window w, rect* r);
// Screen coordinates to the client coordinates of a dialog (or a control's dialog).
void screen_to_client(window w, point* p);

// Messages. post_message may be called from any thread; the message is
// handled on the dialog's thread after those posted before it. It is
// refused (false) for a window that does not exist, or no longer does.
bool post_message(window w, unsigned message, wparam wp, lparam lp);
msg_result send_message(window w, unsigned message, wparam wp, lparam lp);

// Subclassing: puts proc in place of the control's procedure and returns the
// previous one; call_window_proc hands a message on to a previous procedure.
window_proc subclass_window(window w, window_proc proc);
msg_result call_window_proc(window_proc proc, window w, unsigned message, wparam wp, lparam lp);

// Style bits of a control. A static text with SS_NOTIFY answers the mouse:
// its procedure gets WM_SETCURSOR while the pointer is over it and
// WM_LBUTTONDOWN / WM_LBUTTONUP (lparam: x | y << 16, control pixels) for
// the left button pressed and released over it. Without it, statics let
// the mouse pass.
enum : unsigned { SS_NOTIFY = 0x100 };
unsigned get_window_style(window w);
void set_window_style(window w, unsigned style);

// --- mouse pointer -------------------------------------------------------------
// Called while WM_SETCURSOR is handled: the shape shown while the pointer
// stays over the window that was asked. A control's plain procedure sets
// the arrow.
enum cursor_shape { CURSOR_ARROW, CURSOR_HAND };
void set_cursor(cursor_shape shape);

// --- the desktop's shell ------------------------------------------------------------
// Opens a web address (http or https) in the user's browser, without
// waiting for it. Returns 0 when handed on, -1 when refused or failed.
int open_url(const char* url);
// Opens a local document (a plain file named by its full path) in the
// desktop's viewer for it, as a file address. 0 when handed on, -1 when
// refused (not a plain file) or failed.
int open_document(const char* path);
// Starts a program (a path, or a name looked up in PATH) on its own: no
// arguments, the program's environment and directory, none of our open
// files, in a session of its own, never waited for by the caller. Returns
// 0 when it started, -1 when it cannot be found or started.
int start_program(const char* path);

// --- fonts -------------------------------------------------------------------
struct font_object;
using font = font_object*;
font get_window_font(window w);                       // borrowed, never deleted
font create_underlined_font(font base);               // null on failure
void set_window_font(window w, font f, bool redraw);
void delete_font(font f);
bool font_is_underlined(font f);

// --- message boxes ---------------------------------------------------------
enum : unsigned {
    MB_OK = 0x0,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_TOPMOST = 0x40000,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
// Shows a modal box; owner may be null. Returns IDOK, IDYES or IDNO.
int message_box(window owner, const char* text, const char* caption, unsigned flags);

// --- save-file dialog --------------------------------------------------------
// One filter (name and pattern), opening on `name` (size bytes, terminator
// included) and writing the chosen full name back into it. With
// overwrite_prompt it asks before accepting the name of an existing file.
// Returns 1 when a name was chosen, 0 when cancelled.
int save_file_dialog(window owner, const char* filter_name, const char* pattern,
                     char* name, int size, bool overwrite_prompt);

// --- format chooser --------------------------------------------------------
// One entry of the chooser's list; the compression service builds the list.
struct format_choice {
    const char* tag_name;      // "PCM", "IMA ADPCM", ...
    const char* description;   // "44.100 kHz, 16 Bit, Stereo"
    const char* spelling;      // command-line spelling, "pcm,44100,2,16"
    const uint8_t* format;     // the wave format record and its extra bytes
    int format_bytes;
};
// Shows the chooser (format tags, then that tag's formats with rate, bits,
// channels and bytes per second). Returns the index chosen, or -1 on cancel.
int format_chooser_dialog(window owner, const format_choice* choices, int count);

// --- drawing ---------------------------------------------------------------
// Drawing goes to a persistent surface over the dialog's client area, so a
// window that was covered shows it again. Coordinates are client pixels.
using colorref = uint32_t;   // 0x00BBGGRR
constexpr colorref rgb(unsigned r, unsigned g, unsigned b) { return colorref(r | (g << 8) | (b << 16)); }
inline unsigned red_of(colorref c) { return c & 0xFF; }
inline unsigned green_of(colorref c) { return (c >> 8) & 0xFF; }
inline unsigned blue_of(colorref c) { return (c >> 16) & 0xFF; }
colorref button_face_color();   // the dialog's background colour

struct gdi_object;
using gdi = gdi_object*;        // a pen, a brush or a font
struct dc_object;
using dc = dc_object*;          // a device context

enum stock_id { WHITE_BRUSH, LTGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN, BLACK_PEN, NULL_PEN };
gdi stock_object(stock_id id);
gdi create_pen(int width, colorref color);     // solid
gdi create_solid_brush(colorref color);
void delete_object(gdi object);                // stock objects are ignored

dc get_dc(window w);            // the window's drawing surface
void release_dc(window w, dc d);
gdi select_object(dc d, gdi object);           // returns the previous pen or brush
void set_text_color(dc d, colorref c);
void set_bk_color(dc d, colorref c);
enum bk_mode { OPAQUE_BK = 2, TRANSPARENT_BK = 1 };
void set_bk_mode(dc d, bk_mode mode);
void move_to(dc d, int x, int y);
void line_to(dc d, int x, int y);              // with the selected pen, end point excluded
void polyline(dc d, const point* pts, int count);
// Pie of the ellipse inscribed in (l,t,r,b), arc counter-clockwise from the
// ray through (x1,y1) to the ray through (x2,y2); outline with the pen,
// filled with the brush.
void pie(dc d, int l, int t, int r, int b, int x1, int y1, int x2, int y2);
void ellipse(dc d, int l, int t, int r, int b);
void fill_rect(dc d, const rect* r, gdi brush); // right and bottom excluded
void invert_rect(dc d, const rect* r);

// --- back end choice --------------------------------------------------------
// The headless back end is the default; the Qt back end installs itself with
// qt_window_start (platform/qt/qt_window.h) before the first dialog.
struct window_backend;
void window_set_backend(const window_backend* backend);
bool window_is_headless();
