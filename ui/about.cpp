// The About box: its procedure, and control 1010 turned into a link that
// shows blue and underlined, points with a hand and opens its address.
#include "ui/about.h"

#include "core/app_state.h"
#include "res/about_dialog.h"

namespace {

// The link's text is read whole (the address is far shorter): a cut
// address would open some other page.
constexpr int LINK_TEXT_BYTES = 256;

// An underlined font made here for the link when the main dialog has none
// to lend; kept to the end of the run like the dialog's own.
font own_link_font = nullptr;

void make_link(window dialog)
{
    window link = dialog_item(dialog, IDC_ABOUT_LINK);
    app.link_control = link;
    if (!link)
        return;

    // A static passes the mouse on unless told to notify.
    unsigned style = get_window_style(link);
    if (!(style & SS_NOTIFY))
        set_window_style(link, style | SS_NOTIFY);

    window_proc previous = subclass_window(link, link_wnd_proc);
    if (!app.static_base_proc && previous != link_wnd_proc)
        app.static_base_proc = previous;

    font f = app.underlined_font;
    if (!f) {
        if (!own_link_font) {
            // Without the main dialog, the box's own font is the one to underline.
            font base = app.dialog_font ? app.dialog_font : get_window_font(link);
            own_link_font = create_underlined_font(base);
        }
        f = own_link_font;
    }
    app.link_font = f;
    if (f)
        set_window_font(link, f, false);

    // Setting the text again draws it in the new font.
    char text[LINK_TEXT_BYTES];
    get_window_text(link, text, sizeof text);
    set_window_text(link, text);
}

} // namespace

msg_result about_dialog_proc(window dialog, unsigned message, wparam wp, lparam lp)
{
    switch (message) {
    case WM_INITDIALOG:
        make_link(dialog);
        return 0;   // the box gives no control the focus
    case WM_COMMAND:
        if (loword(wp) != IDOK)
            return 0;   // Esc and the close box arrive as command 2: the box stays
        if (app.link_control == dialog_item(dialog, IDC_ABOUT_LINK))
            app.link_control = nullptr;
        end_dialog(dialog, 0);
        return 1;
    case WM_CTLCOLORSTATIC: {
        // By id, so that the link of every About box open stays blue.
        window control = reinterpret_cast<window>(lp);
        if (control_id(control) != IDC_ABOUT_LINK)
            return 0;
        dc d = reinterpret_cast<dc>(wp);
        set_bk_mode(d, TRANSPARENT_BK);
        set_text_color(d, rgb(0, 0, 255));
        return reinterpret_cast<msg_result>(stock_object(NULL_BRUSH));
    }
    default:
        return 0;
    }
}

msg_result link_wnd_proc(window w, unsigned message, wparam wp, lparam lp)
{
    switch (message) {
    case WM_SETCURSOR:
        call_window_proc(app.static_base_proc, w, message, wp, lp);
        set_cursor(CURSOR_HAND);
        return 0;
    case WM_LBUTTONUP: {
        call_window_proc(app.static_base_proc, w, message, wp, lp);
        // The text itself is the address; a failure to open it passes silently.
        char address[LINK_TEXT_BYTES];
        get_window_text(w, address, sizeof address);
        open_url(address);
        return 0;
    }
    default:
        return call_window_proc(app.static_base_proc, w, message, wp, lp);
    }
}

void show_about_box()
{
    dialog_box(about_dialog_template(), nullptr, about_dialog_proc, 0);
}
