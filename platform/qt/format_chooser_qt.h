// The format chooser of the Qt back end: the list of format tags, the list
// of that tag's formats with rate, bits, channels and bytes per second, OK
// and Cancel. The back end's format_chooser_dialog calls it.
//
// Threads: the GUI thread only.
#pragma once
#include <QWidget>
#include "platform/window/window.h"

// Shows the chooser modally over parent (may be null). Returns the index in
// choices of the format picked, or -1 when the user cancelled.
int qt_format_chooser(QWidget* parent, const format_choice* choices, int count);

// Widget names, for tests and screenshots.
#define FORMAT_CHOOSER_OBJECT "format_chooser"
#define FORMAT_CHOOSER_TAGS "format_tags"
#define FORMAT_CHOOSER_FORMATS "format_list"
