// The About box's template, 101, in English and in Polish: the program's
// icon, its name and version, a credits line, a contact and a web address.
#pragma once
#include "platform/system/system.h"
#include "platform/window/window.h"

enum : int {
    IDC_ABOUT_NAME = 1000,       // "Auto-track wave recorder"
    IDC_ABOUT_VERSION = 1001,
    IDC_ABOUT_ICON = 1002,
    IDC_ABOUT_CREDITS = 1003,
    IDC_ABOUT_CONTACT = 1004,    // an e-mail address, plain text
    IDC_ABOUT_LINK = 1010,       // the web address, made a link when the box opens
};

// The template in the interface language (ui_language()).
const dialog_template* about_dialog_template();
// The template of one language.
const dialog_template* about_dialog_template_for(ui_lang lang);
