// The Qt side of the window back end: the widgets that show the core's
// dialogs, their persistent drawing surfaces, and the fonts that stand in
// for the templates' fonts. Used by the back end's own files and its tests.
//
// Threads: everything here belongs to the GUI thread, except
// qt_paint_call (any thread, on an image the caller owns) and
// qt_surface_image / qt_surface_draw (any thread; they lock the surface).
#pragma once
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include "platform/window/window_backend.h"

// The font that stands in for a template's or a control's font: a sans
// face present on every machine we build for, sized so that a dialog laid
// out for an 8-point Windows font stays tidy.
QFont qt_font_for(const char* face, int points, bool underline);
QFont qt_font_for(const font_object* f);

// Base units of that font, computed the way the dialog manager does it:
// the average width of "A".."Z" "a".."z" rounded, and the line height.
void qt_base_units_for(const QFont& f, int* base_x, int* base_y);

// Widgets of a dialog and of its controls (null once destroyed).
QWidget* qt_dialog_widget(window dialog);
QWidget* qt_control_widget(window control);

// Builds and removes the widgets for a dialog of the core's model.
void qt_create_dialog_widgets(window dialog);
void qt_destroy_dialog_widgets(window dialog);
// Brings a widget in line with its control's model (GUI thread).
void qt_apply_control(window w);
// The same from any thread: a snapshot of the model is shown later on the
// GUI thread.
void qt_control_changed(window w);

// The application's icon, shown by icon controls and on every window.
QIcon qt_application_icon();

// The dialog's background colour, which the level bars' erase pen also uses.
QColor qt_dialog_background();

// --- drawing ---------------------------------------------------------------------
// Paints one drawing call onto image in the call's coordinates. Pixels
// that are still transparent count as `under` for an inversion.
void qt_paint_call(QImage& image, const draw_call& call, QRgb under);
// Paints a call on the surface of its dialog, or on the button that is
// painting itself on this thread; calls for windows that are gone are dropped.
void qt_surface_draw(const draw_call& call);
// The surface of a dialog: opened with its overlay widget and client size,
// closed before the overlay goes; paint_on draws its `area` with p.
void qt_surface_open(window dialog, QWidget* overlay, QSize size);
void qt_surface_close(window dialog);
void qt_surface_paint_on(QPainter& p, window dialog, const QRect& area);
// While a button paints itself, the drawing calls aimed at it land in buffer.
void qt_surface_begin_button(window button, QImage* buffer);
void qt_surface_end_button();
// A copy of a dialog's drawing surface (transparent where nothing was drawn).
QImage qt_surface_image(window dialog);
