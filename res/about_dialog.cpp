// The About box's template, 101, in English and in Polish: the same layout,
// only the Polish credits line is 5 units narrower.
#include "res/about_dialog.h"
#include "res/version.h"

namespace {

const char* const ABOUT_FONT = "MS Sans Serif";
const char* const VERSION_TEXT = "Version " TRACKMILL_VERSION;
const char* const POLISH_VERSION_TEXT = "Wersja " TRACKMILL_VERSION;
const char* const CONTACT_TEXT = "trackmill@example.org";
// What a click on the link opens; read back from the control, so the
// address is written only here.
const char* const WEB_ADDRESS = "https://trackmill.example.org/";

const control_template english_controls[] = {
    {IDC_ABOUT_ICON, CTL_ICON, "APPLICATIONICON", 8, 11, 20, 20},
    {IDC_ABOUT_NAME, CTL_LTEXT, "Auto-track wave recorder", 49, 14, 104, 8},
    {IDC_ABOUT_VERSION, CTL_LTEXT, VERSION_TEXT, 60, 28, 72, 8},
    {IDC_ABOUT_CREDITS, CTL_LTEXT, "Written by the Trackmill developers", 48, 42, 118, 8},
    {IDC_ABOUT_CONTACT, CTL_LTEXT, CONTACT_TEXT, 50, 57, 102, 10},
    {IDC_ABOUT_LINK, CTL_LTEXT, WEB_ADDRESS, 50, 70, 129, 10},
    {IDOK, CTL_DEFPUSHBUTTON, "OK", 68, 88, 50, 14},
};

const control_template polish_controls[] = {
    {IDC_ABOUT_ICON, CTL_ICON, "APPLICATIONICON", 8, 11, 20, 20},
    {IDC_ABOUT_NAME, CTL_LTEXT, "Magnetofon cyfrowy Auto-track", 49, 14, 104, 8},
    {IDC_ABOUT_VERSION, CTL_LTEXT, POLISH_VERSION_TEXT, 60, 28, 72, 8},
    {IDC_ABOUT_CREDITS, CTL_LTEXT, "Napisali twórcy Trackmill", 48, 42, 113, 8},
    {IDC_ABOUT_CONTACT, CTL_LTEXT, CONTACT_TEXT, 50, 57, 102, 10},
    {IDC_ABOUT_LINK, CTL_LTEXT, WEB_ADDRESS, 50, 70, 129, 10},
    {IDOK, CTL_DEFPUSHBUTTON, "OK", 68, 88, 50, 14},
};

const dialog_template english_about = {
    "101", "About Trackmill", ABOUT_FONT, 8, 40, 40, 186, 109,
    english_controls, int(sizeof english_controls / sizeof english_controls[0]),
};

const dialog_template polish_about = {
    "101", "O programie Trackmill", ABOUT_FONT, 8, 40, 40, 186, 109,
    polish_controls, int(sizeof polish_controls / sizeof polish_controls[0]),
};

} // namespace

const dialog_template* about_dialog_template_for(ui_lang lang)
{
    return lang == LANG_POLISH ? &polish_about : &english_about;
}

const dialog_template* about_dialog_template()
{
    return about_dialog_template_for(ui_language());
}
