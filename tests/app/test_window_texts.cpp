// Every text the window shows, in both languages: one walk through every
// command, refusal and message box runs once in English and once in
// Polish, and the Polish run may show no English text.
#include <sys/stat.h>
#include <cstdio>
#include <regex>
#include <set>
#include "app/startup.h"
#include "capture/wav_writer.h"
#include "res/about_dialog.h"
#include "res/ui_text.h"
#include "ui/about.h"
#include "tests/support/recording_session.h"

using namespace recording;

namespace {

// What both languages show alike: names of the program, its passes and the
// system's calls, the Polish resource's own captions, and words Polish
// uses as they are.
bool shared_by_both(const std::string& text)
{
    static const std::set<std::string> names = {
        "Trackmill", "Track Mill", "Monitor", "&Monitor", "Stop", "DeClicker", "De&Clicker", "DeNoiser",
        "De&Noiser", "FilterEx", "Mono >>Stereo", "E&xit", "&Mixer", "?", "OK", "Bias", "Status", "L:", "R:",
        "trackmill@example.org", "https://trackmill.example.org/",
    };
    return names.count(text) || text.rfind("acmStream", 0) == 0;   // a failed call's name as caption
}

// The words of a text: file names, numbers and the blanks around them go.
std::string words_of(const std::string& text)
{
    static const std::regex file_names(R"([^\s:]*\.wav)");
    static const std::regex numbers(R"([0-9]+)");
    std::string w = std::regex_replace(std::regex_replace(text, file_names, ""), numbers, "");
    const size_t first = w.find_first_not_of(" \n");
    const size_t last = w.find_last_not_of(" \n");
    return first == std::string::npos ? "" : w.substr(first, last - first + 1);
}

bool has_letters(const std::string& text)
{
    for (unsigned char c : text)
        if (std::isalpha(c) || c >= 0x80)
            return true;
    return false;
}

const std::regex conversion(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?(l|ll|h)?[dius fxc])");

// An English entry of the text table as a pattern: each conversion stands
// for whatever it was filled with.
std::regex english_pattern(const std::string& format)
{
    std::string out;
    for (char c : std::regex_replace(format, conversion, "\x01"))
        out += c == '\x01'                            ? std::string("[\\s\\S]*")
               : std::strchr(".^$|()[]{}*+?\\", c) ? std::string("\\") + c
                                                    : std::string(1, c);
    return std::regex(out);
}

// The conversions of a format in their order, as printf reads its arguments.
std::vector<std::string> conversions(const std::string& format)
{
    return {std::sregex_token_iterator(format.begin(), format.end(), conversion), std::sregex_token_iterator()};
}

struct shown_text {
    std::string where;   // the step, and the control or box that showed it
    std::string text;
};

struct WindowTexts : RecordingTest {
    std::vector<shown_text> shown;
    std::string folder;   // the walk's files, one folder a language

    std::string here(const std::string& name) const { return folder + "/" + name; }

    void collect_controls(window w, const dialog_template& t, const std::string& where)
    {
        for (int i = 0; i < t.control_count; ++i) {
            const control_template& c = t.controls[i];
            // Edit boxes hold the user's names and numbers; the format
            // statics hold the format's own names.
            if (c.id == -1 || c.kind == CTL_EDIT || c.kind == CTL_ICON || c.id == IDC_FORMAT_TAG ||
                c.id == IDC_FORMAT_NAME)
                continue;
            char buffer[512];
            get_item_text(w, c.id, buffer, sizeof buffer);
            shown.push_back({where + " control " + std::to_string(c.id), buffer});
        }
    }
    // Every control's text and every box shown since the last step.
    void collect(const std::string& step)
    {
        if (dialog)
            collect_controls(dialog, *main_dialog_template_for(ui_language()), step);
        int n = 0;
        for (const message_box_record& r : headless_message_boxes()) {
            shown.push_back({step + " box " + std::to_string(n) + " text", r.text});
            shown.push_back({step + " box " + std::to_string(n++) + " caption", r.caption});
        }
        headless_clear_message_boxes();
    }
    void track_file(const std::string& name, const std::vector<uint8_t>& wav)
    {
        sound_test::write_file(here(name), wav);
    }
    // The last track recorded is track4.wav: the counter stands on 5.
    void name_tracks(const char* stem = "track")
    {
        const std::string name = here(std::string(stem) + "5.wav");
        std::strcpy(app.track_name, name.c_str());
        app.track_digit_pos = int32_t(name.size() - 5);
    }
    void clean(int id, const std::string& step, bool close)
    {
        name_tracks();
        click(id);
        collect(step);
        if (close) {
            click(id);
            collect(step + ", closed");
        }
    }

    void walk(ui_lang lang)
    {
        folder = dir.path + (lang == LANG_POLISH ? "/pl" : "/en");
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        play(counting_samples(3.0));
        open_dialog(lang);
        collect("start");

        click(CMD_MONITOR);
        pump_until([] { return app.current_level[0] > 0; }, 10000);
        collect("monitor");
        click(CMD_MONITOR);
        settle();
        collect("monitor stopped");
        click(CMD_BIAS_ADJUST);
        pump_until([] { return !app.bias_adjusting && !app.monitoring; }, 10000);
        settle();
        collect("bias");
        sound_fail_call(SOUND_IN_OPEN, MMSYSERR_ALLOCATED);
        click(CMD_MONITOR);
        collect("device busy");

        headless_answer_chooser("pcm,44100,2,8");
        headless_answer_chooser(nullptr);
        click(CMD_SELECT);
        collect("8-bit format");
        select_format("pcm,44100,2,16");

        const std::string take = here("take.wav");
        type(IDC_FILE_BOX, take.c_str());
        click(CMD_RECORD);
        pump_virtual_ms(1500);
        collect("recording");
        click(CMD_DECLICKER);
        collect("declicker while recording");
        click(CMD_RECORD);
        settle();
        collect("recorded");
        headless_answer_box(IDNO);
        click(CMD_RECORD);
        collect("overwrite refused");
        type(IDC_FILE_BOX, (dir.path + "/" + std::string(300, 'n') + ".wav").c_str());
        click(CMD_RECORD);
        collect("name too long");
        headless_answer_save("a");
        click(CMD_CHANGE);
        collect("name too short");
        type(IDC_FILE_BOX, here("missing/take.wav").c_str());
        click(CMD_RECORD);
        collect("no folder");
        type(IDC_FILE_BOX, take.c_str());
        headless_answer_box(IDYES);
        sound_fail_call(SOUND_IN_START, MMSYSERR_NOMEM);
        click(CMD_RECORD);
        collect("device will not start");
        headless_answer_box(IDYES);
        type(IDC_BUFFER_SIZE, "3");
        click(CMD_RECORD);
        collect("buffer too small");
        type(IDC_BUFFER_SIZE, "8192");
        headless_answer_box(IDYES);
        acm_fail_call(ACM_CALL_OPEN, 9999);
        click(CMD_RECORD);
        collect("unknown conversion error");
        acm_fail_clear();
        {
            file_size_limit full(44 + 4 * 8192 + 100);
            headless_answer_box(IDYES);
            click(CMD_RECORD);
            pump_until([] { return !app.recording; }, 20000);
        }
        collect("disk full");
        headless_answer_box(IDYES);
        click(CMD_RECORD);
        pump_until([] { return app.data_bytes_written >= 8192 || !app.recording; }, 20000);
        app.data_bytes_written = max_capture_data_bytes(&app.capture_ring.chosen_format) - 2 * 8192 - 10;
        pump_until([] { return !app.recording; }, 20000);
        collect("largest file");

        // Auto-track: armed, a take, the silence after it, disarmed.
        play_parts({{0.5, 0, 0}, {1.5, 8000, 8000}, {4.0, 0, 0}});
        headless_answer_save(here("side.wav").c_str());
        click(CMD_CHANGE);
        type(IDC_INTRO_MAX, "0");
        click(CMD_SIGNAL_RECORD);
        collect("armed");
        pump_until([] { return app.recording != 0; }, 20000);
        pump_virtual_ms(1100);
        collect("take");
        pump_until([] { return !app.recording && app.signal_waiting; }, 20000);
        collect("after the take");
        click(CMD_SIGNAL_RECORD);
        settle();
        collect("disarmed");

        // Cleaning, each pass and its preview, with a bad Threshold typed.
        const std::vector<uint8_t> stereo =
            sound_test::wav_bytes(RATE, 2, 16, sound_test::samples_le(sine_samples(0.5, 3000, 440)));
        track_file("track4.wav", stereo);
        track_file("track5.wav", stereo);   // Fade In works on the track the counter is on
        type(IDC_THRESHOLD, "abc");
        clean(CMD_DECLICKER, "declicker", false);
        const std::string before = text(IDC_STATUS);
        click(CMD_PLAY);
        pump_until([&] { return text(IDC_STATUS) != before; }, 5000);
        collect("preview");
        click(CMD_PAUSE);
        collect("paused");
        click(CMD_PAUSE);
        collect("restarted");
        click(CMD_DECLICKER);
        collect("declicker, closed");
        type(IDC_AC_FREQ, "50");
        clean(CMD_DENOISER, "denoiser", true);
        clean(CMD_AC_SINUS_REMOVE, "ac sinus remove", true);
        clean(CMD_MONO_STEREO, "mono", true);
        clean(CMD_FADE_OUT, "fade out", true);
        clean(CMD_FILTER_EX, "filterex", true);
        clean(CMD_FADE_IN, "fade in", false);
        type(IDC_AC_FREQ, "5");
        clean(CMD_AC_SINUS_REMOVE, "ac sinus out of range", false);
        type(IDC_AC_FREQ, "50");
        std::remove(here("track4.wav").c_str());
        clean(CMD_DENOISER, "missing track", false);
        track_file("track4.wav", sound_test::wav_bytes(RATE, 1, 8, std::vector<uint8_t>(4000, 0x80)));
        clean(CMD_DECLICKER, "8-bit track", false);
        track_file("tracd4.wav", stereo);
        name_tracks("tracd");
        click(CMD_DECLICKER);
        collect("cleaned file over the track");

        click(CMD_MIXER);
        collect("mixer");
        // The About box, and its link with no documentation installed.
        window box = headless_open_dialog(about_dialog_template(), about_dialog_proc, 0);
        installed_doc_dir_use("/nonexistent-trackmill-docs");
        window_core_mouse_button(dialog_item(box, IDC_ABOUT_LINK), WM_LBUTTONUP, 5, 5);
        installed_doc_dir_use(nullptr);
        collect_controls(box, *about_dialog_template(), "about");
        collect("about link");
        headless_click(box, IDOK);
        headless_close_dialog(box);

        headless_close_dialog(dialog);
        dialog = nullptr;
        release_resources();
        sound_fail_call(SOUND_IN_CAPS, MMSYSERR_ERROR);
        trackmill_startup();
        collect("no capabilities");
    }
};

// The captions of a template, mnemonics and all.
std::set<std::string> captions_of(const dialog_template& t)
{
    std::set<std::string> c = {t.title};
    for (int i = 0; i < t.control_count; ++i)
        if (t.controls[i].kind != CTL_ICON)
            c.insert(t.controls[i].caption);
    return c;
}

} // namespace

TEST(WindowTextTable, EveryPolishTextIsItsOwnAndTakesTheEnglishArguments)
{
    int count = 0;
    const ui_text_pair* table = ui_text_table(&count);
    std::set<std::string> english;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(table[i].english);
        EXPECT_TRUE(english.insert(table[i].english).second) << "twice in the table";
        EXPECT_STRNE(table[i].english, table[i].polish);
        EXPECT_EQ(conversions(table[i].english), conversions(table[i].polish));
    }
    set_ui_language(LANG_POLISH);
    EXPECT_STREQ(ui_text("Idle"), "Bezczynny");
    EXPECT_STREQ(ui_text("not in the table"), "not in the table");
    set_ui_language(LANG_ENGLISH);
    EXPECT_STREQ(ui_text("Idle"), "Idle");
}

TEST_F(WindowTexts, ThePolishWindowShowsNoEnglishText)
{
    walk(LANG_ENGLISH);
    const std::vector<shown_text> english = shown;
    TearDown();
    SetUp();
    shown.clear();
    walk(LANG_POLISH);
    const std::vector<shown_text> polish = shown;

    // Both runs took the same way through the dialog.
    ASSERT_EQ(english.size(), polish.size());
    for (size_t i = 0; i < english.size(); ++i)
        ASSERT_EQ(english[i].where, polish[i].where);
    EXPECT_GT(english.size(), 500u);

    int count = 0;
    const ui_text_pair* table = ui_text_table(&count);
    std::vector<std::regex> english_texts;
    for (int i = 0; i < count; ++i)
        english_texts.push_back(english_pattern(table[i].english));
    int compared = 0;
    for (size_t i = 0; i < polish.size(); ++i) {
        const std::string words = words_of(polish[i].text);
        if (!has_letters(words) || shared_by_both(words))
            continue;
        ++compared;
        EXPECT_NE(words, words_of(english[i].text)) << polish[i].where << ": \"" << polish[i].text << "\"";
        for (int k = 0; k < count; ++k)
            EXPECT_FALSE(std::regex_match(polish[i].text, english_texts[size_t(k)]))
                << polish[i].where << ": \"" << polish[i].text << "\" is the English \"" << table[k].english << "\"";
    }
    EXPECT_GT(compared, 100);

    // The templates' own captions.
    for (auto pair : {std::pair{main_dialog_template_for(LANG_ENGLISH), main_dialog_template_for(LANG_POLISH)},
                      std::pair{about_dialog_template_for(LANG_ENGLISH), about_dialog_template_for(LANG_POLISH)}}) {
        const std::set<std::string> en = captions_of(*pair.first);
        for (const std::string& caption : captions_of(*pair.second))
            if (has_letters(words_of(caption)) && !shared_by_both(words_of(caption))) {
                EXPECT_EQ(en.count(caption), 0u) << "\"" << caption << "\"";
            }
    }
}
