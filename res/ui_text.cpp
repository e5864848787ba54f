// The run-time texts of the window in Polish, looked up by their English
// literal, so that a text is written once where it is used.
#include "res/ui_text.h"
#include <cinttypes>
#include <cstring>
#include "platform/system/system.h"

namespace {

// Formats keep their conversions in the same order as the English ones:
// the caller fills in the translated format with the English arguments.
const ui_text_pair ui_texts[] = {
    // The status line and the captions that change with the mode.
    {"Idle", "Bezczynny"},
    {"Record", "Zapis"},
    {"Restart", "Wznów"},
    {"Pause", "Pauza"},
    {"Close track", "Zamknij"},
    {"WaitSignal", "CzekamNaSygnał"},
    {"WaitSilence", "CzekamNaCiszę"},
    {"SignalWait VU Levels", "Oczekiwanie na sygnał - poziomy VU"},
    {"Monitoring VU Levels", "Podgląd poziomów VU"},
    {"Bias level left:%d right:%d", "Poziom bias lewy:%d prawy:%d"},
    {"%9ld Kbytes, %4ld min, %2ld secs. %ld MB Free lev%d ScEnd%d ",
     "%9ld kB, %4ld min, %2ld s. Wolne %ld MB poz%d KonCiszy%d "},
    {"Recording - stop it before cleaning a track", "Trwa nagrywanie - zatrzymaj je przed czyszczeniem ścieżki"},
    {"No sound card - recording from the demo record", "Brak karty dźwiękowej - nagrywanie z płyty demonstracyjnej"},
    {"No sound output device - %s cannot be played", "Brak urządzenia wyjściowego dźwięku - nie można odtworzyć %s"},
    {"Track to clean: %s", "Ścieżka do czyszczenia: %s"},
    {"File:%s after cleaning preview - frame  %d", "Plik:%s podgląd po czyszczeniu - ramka  %d"},

    // What a cleaning run is doing, and how it ended.
    {"declick processing  - file %s", "usuwanie trzasków  - plik %s"},
    {"denoise processing  - file %s", "odszumianie  - plik %s"},
    {"dehum processing  - file %s", "usuwanie przydźwięku  - plik %s"},
    {"mono processing  - file %s", "miksowanie do mono  - plik %s"},
    {"fadeout processing  - file %s", "wyciszanie  - plik %s"},
    {"filterex processing  - file %s", "rekonstrukcja FilterEx  - plik %s"},
    {"fade in processing  - file %s", "nagłaśnianie  - plik %s"},
    {"declick process complete %d corrections", "usuwanie trzasków zakończone, poprawek: %d"},
    {"denoise process complete %d corrections", "odszumianie zakończone, poprawek: %d"},
    {"restore complete %" PRId64 " clicks repaired%s", "rekonstrukcja zakończona, naprawionych trzasków: %" PRId64 "%s"},
    {", hiss reduced", ", szum zredukowany"},
    {", hiss left: no quiet passage to measure it in",
     ", szum pozostawiony: brak cichego fragmentu do jego zmierzenia"},
    {"dehum process complete %d notches %.2f Hz wide",
     "usuwanie przydźwięku zakończone, filtrów wycinających: %d o szerokości %.2f Hz"},
    {"mono process complete %s into both channels", "miksowanie do mono zakończone: %s w obu kanałach"},
    {"the mean", "średnia kanałów"},
    {"the channel", "jedyny kanał"},
    {"fadeout process complete %.1f s", "wyciszanie zakończone, %.1f s"},
    {"fade in complete", "nagłaśnianie zakończone"},
    {"cleaning failed: %s", "błąd czyszczenia: %s"},
    {"cleaning failed: the cleaned file cannot be reopened",
     "błąd czyszczenia: nie można ponownie otworzyć oczyszczonego pliku"},
    {"the cleaned file cannot be written: the disk may be full",
     "nie można zapisać oczyszczonego pliku: dysk może być pełny"},
    {"only 16-bit PCM tracks with one or two channels can be cleaned",
     "oczyścić można tylko ścieżkę PCM 16-bit mono lub stereo"},
    {"the track is not a WAV file that can be read", "ścieżka nie jest czytelnym plikiem WAV"},
    {"the track has no sample data", "ścieżka nie zawiera próbek"},
    {"the cleaned file cannot be created", "nie można utworzyć oczyszczonego pliku"},
    {"the track cannot be read", "nie można odczytać ścieżki"},
    {"not enough memory to clean the track", "za mało pamięci, by oczyścić ścieżkę"},
    {"FilterEx cannot work at the track's rate", "FilterEx nie działa przy częstotliwości próbkowania tej ścieżki"},
    {"the AC sinus frequency does not suit the track", "częstotliwość AC sinus nie pasuje do ścieżki"},
    {"no track to clean", "brak ścieżki do oczyszczenia"},
    {"the track cannot be opened", "nie można otworzyć ścieżki"},
    {"the track's file name is too long", "nazwa pliku ścieżki jest za długa"},
    {"the cleaned file would overwrite the track", "oczyszczony plik zastąpiłby ścieżkę"},
    {"the cleaned file cannot be given its name", "nie można nadać oczyszczonemu plikowi jego nazwy"},

    // Message boxes and their captions.
    {"No sound card installed !", "Brak karty dźwiękowej !"},
    {"Cannot determine sound card capabilities!", "Nie można ustalić możliwości karty dźwiękowej!"},
    {"Critical memory error", "Krytyczny błąd pamięci"},
    {"Filename too short", "Nazwa pliku za krótka"},
    {"Filename too long", "Nazwa pliku za długa"},
    {"File name too long", "Nazwa pliku za długa"},
    {"File not found/protected", "Plik nie istnieje lub jest chroniony"},
    {"Overwrite current file ?!", "Zastąpić bieżący plik ?!"},
    {"The sound device stopped delivering sound: the sound server ended, or the card was unplugged.\n"
     "The recording was stopped; what was recorded is kept.",
     "Urządzenie dźwiękowe przestało dostarczać dźwięk: serwer dźwięku zakończył pracę albo kartę odłączono.\n"
     "Nagrywanie zatrzymano; to, co nagrano, zostało zachowane."},

    // Choosing the track to clean (command line, a file dropped on the window).
    {"Recording - stop it before choosing a track to clean.",
     "Trwa nagrywanie - zatrzymaj je przed wyborem ścieżki do czyszczenia."},
    {"A cleaned track is open - close it before choosing another track.",
     "Otwarta jest oczyszczona ścieżka - zamknij ją przed wyborem innej ścieżki."},
    {"%s cannot be found.", "Nie można znaleźć %s."},
    {"%s: Filename too long.", "%s: nazwa pliku za długa."},
    {"%s cannot be opened: %s.", "Nie można otworzyć %s: %s."},
    {"%s is not a track that can be cleaned: only 16-bit PCM tracks with one or two channels can be.",
     "%s nie nadaje się do czyszczenia: czyścić można tylko ścieżki PCM 16-bitowe z jednym lub dwoma kanałami."},
    {"\nThe track to clean stays as it was.", "\nŚcieżka do czyszczenia pozostaje bez zmian."},
    {"is not a regular file (a pipe, a device or a directory)", "nie jest zwykłym plikiem (to potok, urządzenie lub katalog)"},
    {"is not a WAV file (no RIFF/WAVE header)", "nie jest plikiem WAV (brak nagłówka RIFF/WAVE)"},
    {"has no format chunk before its data chunk", "nie ma bloku formatu przed blokiem danych"},
    {"has a broken format chunk", "ma uszkodzony blok formatu"},
    {"has no data chunk", "nie ma bloku danych"},
    {"has a sample rate outside 1000 to 384000 Hz", "ma częstotliwość próbkowania spoza zakresu 1000 do 384000 Hz"},
    {"cannot be read (the medium failed)", "nie daje się odczytać (błąd nośnika)"},
    {"The file has reached the largest size a WAV file can hold.\n"
     "The recording was stopped; what was recorded is kept.",
     "Plik osiągnął największy rozmiar, jaki może mieć plik WAV.\n"
     "Nagrywanie zatrzymano; to, co nagrano, zostało zachowane."},
    {"The recording file could not be written: the disk may be full.\n"
     "The recording was stopped; what was recorded is kept.",
     "Nie można zapisać pliku nagrania: dysk może być pełny.\n"
     "Nagrywanie zatrzymano; to, co nagrano, zostało zachowane."},
    {"The recording file could not be written: the disk may be full.\n"
     "Nothing was recorded.",
     "Nie można zapisać pliku nagrania: dysk może być pełny.\n"
     "Nic nie zostało nagrane."},
    {"Only 16-bit PCM tracks with one or two channels can be cleaned",
     "Oczyścić można tylko ścieżkę PCM 16-bitową z jednym lub dwoma kanałami"},
    {"The cleaned file would overwrite the track itself", "Oczyszczony plik zastąpiłby samą ścieżkę"},
    {"AC sinus Freq %d Hz cannot be removed: it must lie between %d Hz and a quarter of the "
     "track's rate (%u Hz)",
     "Nie można usunąć częstotliwości AC sinus %d Hz: musi leżeć między %d Hz a ćwiercią "
     "częstotliwości próbkowania ścieżki (%u Hz)"},
    {"FilterEx cannot work at the track's rate (%u Hz): it works from %d to %d Hz",
     "FilterEx nie działa przy częstotliwości próbkowania tej ścieżki (%u Hz): działa od %d do %d Hz"},
    {"8 bits PCM format not supported - choose 16 bits", "Format PCM 8-bitowy nie jest obsługiwany - wybierz 16 bitów"},
    {"Unknown ACM error: %d", "Nieznany błąd ACM: %d"},
    {"%s failed: GetLastError returned %d\n", "%s - błąd: GetLastError zwróciło %d\n"},
    {"WaveIn Error", "Błąd WaveIn"},
    {"Fatal WaveIn Error", "Krytyczny błąd WaveIn"},
    {"Fatal Error", "Błąd krytyczny"},
    {"Wave Files", "Pliki Wave"},

    // The sound device's own reports, shown in the device error boxes.
    {"The sound device did what was asked.", "Urządzenie dźwiękowe wykonało polecenie."},
    {"The sound device reported an error it did not explain.", "Urządzenie dźwiękowe zgłosiło błąd bez wyjaśnienia."},
    {"There is no sound device with that number.", "Nie ma urządzenia dźwiękowego o tym numerze."},
    {"The sound driver is loaded but could not start.", "Sterownik dźwięku jest załadowany, ale nie mógł wystartować."},
    {"The sound device is busy: another program or another part of this one is using it.",
     "Urządzenie dźwiękowe jest zajęte: używa go inny program albo inna część tego programu."},
    {"The sound device is not open (the handle is not valid).",
     "Urządzenie dźwiękowe nie jest otwarte (nieprawidłowy uchwyt)."},
    {"No sound driver is installed: there is no sound device to use.",
     "Nie zainstalowano sterownika dźwięku: nie ma urządzenia dźwiękowego."},
    {"There is not enough memory for the sound device.", "Za mało pamięci dla urządzenia dźwiękowego."},
    {"The sound device cannot do this.", "Urządzenie dźwiękowe nie potrafi tego wykonać."},
    {"The sound device was given a flag it does not know.", "Urządzenie dźwiękowe otrzymało nieznany znacznik."},
    {"The sound device was given a parameter that is not valid.",
     "Urządzenie dźwiękowe otrzymało nieprawidłowy parametr."},
    {"The sound device cannot work in this format. It takes PCM with 1 or 2 channels of 8 or 16 bits.",
     "Urządzenie dźwiękowe nie może pracować w tym formacie. Przyjmuje PCM z 1 lub 2 kanałami po 8 lub 16 bitów."},
    {"The sound device still holds buffers: stop or reset it first.",
     "Urządzenie dźwiękowe wciąż trzyma bufory: najpierw je zatrzymaj lub wyzeruj."},
    {"The buffer was not prepared for the sound device.", "Bufor nie został przygotowany dla urządzenia dźwiękowego."},
};

} // namespace

const char* ui_text(const char* english)
{
    if (!english || ui_language() != LANG_POLISH)
        return english;
    for (const ui_text_pair& t : ui_texts)
        if (std::strcmp(t.english, english) == 0)
            return t.polish;
    return english;
}

const ui_text_pair* ui_text_table(int* count)
{
    if (count)
        *count = int(sizeof ui_texts / sizeof ui_texts[0]);
    return ui_texts;
}
