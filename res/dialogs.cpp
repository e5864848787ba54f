// The main dialog's template, MAINDIALOG, in English and in Polish. Group
// boxes come before the controls they hold, so the controls lie on top of
// them; the order is also the keyboard's tab order.
#include "res/dialogs.h"

#include "core/ids.h"

namespace {

const char* const DIALOG_TITLE = "Trackmill Recorder";
const char* const POLISH_DIALOG_TITLE = "Rejestrator Trackmill";
const char* const DIALOG_FONT = "MS Sans Serif";

// English: 311 x 316 dialog units.
const control_template english_controls[] = {
    {-1, CTL_GROUPBOX, "Capture File", 8, 8, 295, 32},
    {IDC_FILE_BOX, CTL_EDIT, "", 20, 20, 218, 12},
    {CMD_CHANGE, CTL_PUSHBUTTON, "&Change...", 249, 20, 40, 12},

    {-1, CTL_GROUPBOX, "Audio Recording Format", 8, 46, 158, 32},
    {CMD_SELECT, CTL_PUSHBUTTON, "&Select...", 15, 58, 40, 12},
    {IDC_FORMAT_NAME, CTL_CTEXT, "None Selected", 59, 61, 96, 12},
    {-1, CTL_GROUPBOX, "Format Tag", 172, 46, 76, 32},
    {IDC_FORMAT_TAG, CTL_CTEXT, "", 179, 59, 66, 15},
    {-1, CTL_GROUPBOX, "Bias", 251, 46, 52, 32},
    {IDC_BIAS_LEFT, CTL_LTEXT, "L:  300", 255, 56, 32, 8},
    {IDC_BIAS_RIGHT, CTL_LTEXT, "R: 300", 255, 66, 32, 8},

    {-1, CTL_GROUPBOX, "Wave View left channel", 8, 80, 295, 88},
    {IDC_WAVE_VIEW, CTL_WHITERECT, "", 15, 90, 276, 72},

    {CMD_SIGNAL_RECORD, CTL_PUSHBUTTON, "&SignalRecord", 6, 187, 55, 12},
    {CMD_RECORD, CTL_PUSHBUTTON, "&Record", 67, 187, 40, 12},
    {CMD_MONITOR, CTL_PUSHBUTTON, "&Monitor", 111, 187, 35, 12},
    {CMD_MIXER, CTL_PUSHBUTTON, "&Mixer", 151, 187, 30, 12},
    {CMD_PLAY, CTL_PUSHBUTTON, "&Play", 185, 187, 31, 12},
    {CMD_PAUSE, CTL_PUSHBUTTON, "&Pause", 219, 187, 30, 12},
    {IDC_LEVEL_DIAL, CTL_STATIC_AREA, "", 257, 191, 39, 36},
    {CMD_DECLICKER, CTL_PUSHBUTTON, "De&Clicker", 6, 204, 41, 12},
    {CMD_DENOISER, CTL_PUSHBUTTON, "De&Noiser", 51, 204, 39, 12},
    {CMD_BIAS_ADJUST, CTL_PUSHBUTTON, "BiasAdjust", 94, 204, 41, 12},
    {CMD_AC_SINUS_REMOVE, CTL_PUSHBUTTON, "AC Sinus Remove", 138, 204, 63, 12},
    {CMD_EXIT, CTL_PUSHBUTTON, "E&xit", 204, 204, 25, 12},
    {CMD_MONO_STEREO, CTL_PUSHBUTTON, "Mono >>Stereo", 6, 221, 56, 12},
    {CMD_FADE_IN, CTL_PUSHBUTTON, "Fade In", 66, 221, 35, 12},
    {CMD_FADE_OUT, CTL_PUSHBUTTON, "Fade Out", 105, 221, 35, 12},
    {CMD_FILTER_EX, CTL_PUSHBUTTON, "FilterEx", 145, 221, 36, 12},
    {CMD_ABOUT, CTL_PUSHBUTTON, "?", 211, 221, 18, 12},

    // The level bars are drawn over the upper and lower edge of the status line.
    {-1, CTL_GROUPBOX, "Status", 8, 240, 190, 39},
    {IDC_STATUS, CTL_LTEXT, "", 15, 257, 175, 19},
    {-1, CTL_GROUPBOX, "Filter parameters", 200, 236, 103, 42},
    {IDC_THRESHOLD_LABEL, CTL_LTEXT, "Threshold", 205, 249, 31, 8},
    {IDC_THRESHOLD, CTL_EDIT, "", 255, 246, 40, 13},
    {IDC_AC_FREQ_LABEL, CTL_LTEXT, "AC sinus Freq", 206, 263, 46, 8},
    {IDC_AC_FREQ, CTL_EDIT, "", 256, 263, 40, 12},

    {-1, CTL_GROUPBOX, "Play/Recording Buffers", 8, 279, 295, 34},
    {-1, CTL_LTEXT, "Record\nBuffer Size", 13, 292, 39, 16},
    {IDC_BUFFER_SIZE, CTL_EDIT, "", 53, 294, 30, 12},
    {-1, CTL_LTEXT, "Number\nof Buffers", 87, 292, 33, 16},
    {IDC_BUFFER_COUNT, CTL_EDIT, "", 121, 294, 28, 12},
    {-1, CTL_LTEXT, "Silent Signal\n Intro Max (s)", 151, 292, 49, 16},
    {IDC_INTRO_MAX, CTL_EDIT, "", 201, 295, 27, 12},
    {-1, CTL_LTEXT, "Play\nbuffer", 232, 292, 22, 16},
    {IDC_PLAY_BUFFER, CTL_EDIT, "", 255, 294, 39, 12},
};

// Polish: the same ids, 311 x 309. The file box makes room for the
// application icon, and everything below the button rows sits 7 units higher.
const control_template polish_controls[] = {
    {-1, CTL_GROUPBOX, "Plik docelowy", 8, 8, 295, 32},
    {IDC_FILE_BOX, CTL_EDIT, "", 20, 20, 176, 12},
    {CMD_CHANGE, CTL_PUSHBUTTON, "&Zmiana...", 200, 20, 44, 12},
    {-1, CTL_ICON, "APPLICATIONICON", 267, 17, 20, 20},

    {-1, CTL_GROUPBOX, "Format zapisu audio", 8, 46, 158, 32},
    {CMD_SELECT, CTL_PUSHBUTTON, "&Wybór...", 15, 58, 40, 12},
    {IDC_FORMAT_NAME, CTL_CTEXT, "nieokreślony", 59, 61, 96, 12},
    {-1, CTL_GROUPBOX, "Rodzaj audio", 172, 46, 76, 32},
    {IDC_FORMAT_TAG, CTL_CTEXT, "", 179, 59, 66, 15},
    {-1, CTL_GROUPBOX, "Bias", 251, 46, 52, 32},
    {IDC_BIAS_LEFT, CTL_LTEXT, "L:  300", 255, 56, 32, 8},
    {IDC_BIAS_RIGHT, CTL_LTEXT, "R: 300", 255, 66, 32, 8},

    {-1, CTL_GROUPBOX, "widok Wave lewy kanał", 8, 80, 295, 88},
    {IDC_WAVE_VIEW, CTL_WHITERECT, "", 15, 90, 276, 72},

    {CMD_SIGNAL_RECORD, CTL_PUSHBUTTON, "&ZapisSygnałem", 6, 187, 55, 12},
    {CMD_RECORD, CTL_PUSHBUTTON, "&Zapis", 67, 187, 40, 12},
    {CMD_MONITOR, CTL_PUSHBUTTON, "&Monitor", 111, 187, 35, 12},
    {CMD_MIXER, CTL_PUSHBUTTON, "&Mixer", 151, 187, 30, 12},
    {CMD_PLAY, CTL_PUSHBUTTON, "&Odgraj", 185, 187, 31, 12},
    {CMD_PAUSE, CTL_PUSHBUTTON, "&Pauza", 219, 187, 30, 12},
    {IDC_LEVEL_DIAL, CTL_STATIC_AREA, "", 257, 191, 39, 36},
    {CMD_DECLICKER, CTL_PUSHBUTTON, "De&Clicker", 6, 204, 41, 12},
    {CMD_DENOISER, CTL_PUSHBUTTON, "De&Noiser", 51, 204, 39, 12},
    {CMD_BIAS_ADJUST, CTL_PUSHBUTTON, "PoziomCiszy", 94, 204, 41, 12},
    {CMD_AC_SINUS_REMOVE, CTL_PUSHBUTTON, "usuń przydźwięk AC", 138, 204, 70, 12},
    {CMD_EXIT, CTL_PUSHBUTTON, "E&xit", 211, 204, 25, 12},
    {CMD_MONO_STEREO, CTL_PUSHBUTTON, "Mono >>Stereo", 6, 221, 56, 12},
    {CMD_FADE_IN, CTL_PUSHBUTTON, "Nagłośnij", 66, 221, 35, 12},
    {CMD_FADE_OUT, CTL_PUSHBUTTON, "Wycisz", 105, 221, 35, 12},
    {CMD_FILTER_EX, CTL_PUSHBUTTON, "FilterEx", 145, 221, 36, 12},
    {CMD_ABOUT, CTL_PUSHBUTTON, "?", 211, 221, 18, 12},

    {-1, CTL_GROUPBOX, "Status", 8, 234, 190, 38},
    {IDC_STATUS, CTL_LTEXT, "", 15, 250, 175, 19},
    {-1, CTL_GROUPBOX, "parametry filtra", 200, 234, 103, 38},
    {IDC_THRESHOLD_LABEL, CTL_LTEXT, "Próg", 205, 244, 31, 8},
    {IDC_THRESHOLD, CTL_EDIT, "", 262, 243, 34, 12},
    {IDC_AC_FREQ_LABEL, CTL_LTEXT, "częst. AC sinus", 204, 258, 57, 8},
    {IDC_AC_FREQ, CTL_EDIT, "", 262, 257, 34, 12},

    {-1, CTL_GROUPBOX, "Bufory zapisu/odtwarz.", 8, 273, 295, 34},
    {-1, CTL_LTEXT, "Bufor\n zapisu", 13, 285, 39, 16},
    {IDC_BUFFER_SIZE, CTL_EDIT, "", 53, 287, 30, 12},
    {-1, CTL_LTEXT, "Ilość\n buforów", 87, 285, 33, 16},
    {IDC_BUFFER_COUNT, CTL_EDIT, "", 121, 287, 28, 12},
    {-1, CTL_LTEXT, "Cichy fragment\n początku (s)", 151, 285, 49, 16},
    {IDC_INTRO_MAX, CTL_EDIT, "", 201, 288, 27, 12},
    {-1, CTL_LTEXT, "Bufor\n odtw.", 232, 285, 22, 16},
    {IDC_PLAY_BUFFER, CTL_EDIT, "", 255, 287, 39, 12},
};

const dialog_template english_dialog = {
    "MAINDIALOG", DIALOG_TITLE, DIALOG_FONT, 8, 10, 10, 311, 316,
    english_controls, int(sizeof english_controls / sizeof english_controls[0]),
};

const dialog_template polish_dialog = {
    "MAINDIALOG", POLISH_DIALOG_TITLE, DIALOG_FONT, 8, 10, 10, 311, 309,
    polish_controls, int(sizeof polish_controls / sizeof polish_controls[0]),
};

} // namespace

const dialog_template* main_dialog_template_for(ui_lang lang)
{
    return lang == LANG_POLISH ? &polish_dialog : &english_dialog;
}

const dialog_template* main_dialog_template()
{
    return main_dialog_template_for(ui_language());
}
