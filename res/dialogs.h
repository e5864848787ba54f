// The main dialog's template, MAINDIALOG, in English and in Polish: the same
// control ids, each language with its own captions and the Polish one shorter.
#pragma once
#include "platform/system/system.h"
#include "platform/window/window.h"

// The template in the interface language (ui_language()).
const dialog_template* main_dialog_template();
// The template of one language.
const dialog_template* main_dialog_template_for(ui_lang lang);
