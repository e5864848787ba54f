// The string table in both languages. Ids 5 to 514 are the texts of the
// compression manager's result codes; 515 warns of a second instance.
#include "res/strings.h"
#include <cstring>
#include "platform/system/system.h"

namespace {
struct string_entry {
    unsigned id;
    const char* english;
    const char* polish;
};

const string_entry string_table[] = {
    {5, "The specified handle is invalid.", "Nieprawidłowy uchwyt."},
    {6, "No suitable driver available.", "Brak sterownika."},
    {7, "Unable to reserve enough memory.", "Niewystarczające zasoby pamięci."},
    {10, "At least one flag is invalid.", "Conajmniej 1 znacznik nieprawidłowy."},
    {11, "At least one parameter is invalid.", "Conajmniej 1 parametr nieprawidłowy"},
    {512, "Operation cannot be performed", "Operacja niewykonalna."},
    {513, "Conversion stream already in use.", "Strumień konwersji już używany."},
    {514, "waveIn/Out audio header unprepared", "Nagłówek (waveIn/Out audio) nieprawidłowo spreparowany."},
    {515, "\"Opening more than one instance\n could cause damage of  data\"",
          "uruchomienie więcej niż 1 instancji\n programu - ryzyko utraty danych"},
};
} // namespace

int load_string(unsigned id, char* out, int size)
{
    if (!out || size <= 0)
        return 0;
    out[0] = '\0';
    for (const string_entry& e : string_table) {
        if (e.id != id)
            continue;
        const char* text = ui_language() == LANG_POLISH ? e.polish : e.english;
        size_t n = std::strlen(text);
        if (n > size_t(size - 1))
            n = size_t(size - 1);
        // Never cut a UTF-8 character in half.
        while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80)
            --n;
        std::memcpy(out, text, n);
        out[n] = '\0';
        return int(n);
    }
    return 0;
}
