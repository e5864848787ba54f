// The main dialog on the headless back end: what it shows at start-up in
// both languages, its templates, the cleaning commands' naming and
// captions, the button colours, the SignalRecord button's erase, Exit, and
// the dispatch of posted commands.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>
#include "tests/support/main_dialog_fixture.h"
#include "platform/sound/sound.h"

namespace {
bool inside(const control_template& c, const dialog_template& t)
{
    return c.x >= 0 && c.y >= 0 && c.x + c.cx <= t.cx && c.y + c.cy <= t.cy;
}
bool overlap(const control_template& a, const control_template& b)
{
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}
const control_template* find(const dialog_template& t, int id)
{
    for (int i = 0; i < t.control_count; ++i)
        if (t.controls[i].id == id)
            return &t.controls[i];
    return nullptr;
}
} // namespace

TEST_F(MainDialogTest, StartUpShowsTheDefaultsInBothLanguages)
{
    for (ui_lang lang : {LANG_ENGLISH, LANG_POLISH}) {
        SCOPED_TRACE(lang);
        app_state_reset();
        open_dialog(lang);
        EXPECT_EQ(text(IDC_BUFFER_SIZE), "8192");
        EXPECT_EQ(text(IDC_BUFFER_COUNT), "5");
        EXPECT_EQ(text(IDC_PLAY_BUFFER), "1048576");
        EXPECT_EQ(text(IDC_THRESHOLD), "11");
        EXPECT_EQ(text(IDC_AC_FREQ), "50");
        EXPECT_EQ(text(IDC_INTRO_MAX), "10");
        EXPECT_EQ(text(IDC_BIAS_LEFT), "L:  300");
        EXPECT_EQ(text(IDC_BIAS_RIGHT), "R: 300");
        EXPECT_EQ(text(IDC_FILE_BOX), "./wavecap.wav");
        EXPECT_EQ(text(IDC_STATUS), lang == LANG_POLISH ? "Bezczynny" : "Idle");
        EXPECT_FALSE(enabled(CMD_PLAY));
        EXPECT_FALSE(enabled(CMD_PAUSE));
        EXPECT_TRUE(enabled(CMD_RECORD));
        EXPECT_EQ(app.main_dialog, dialog);
        EXPECT_EQ(app.status_control, dialog_item(dialog, IDC_STATUS));
        EXPECT_EQ(app.signal_button, dialog_item(dialog, CMD_SIGNAL_RECORD));
        EXPECT_EQ(app.dialog_font, get_window_font(app.signal_button));
        EXPECT_TRUE(font_is_underlined(app.underlined_font));
        EXPECT_FALSE(font_is_underlined(app.dialog_font));
        close_dialog();
    }
}

TEST_F(MainDialogTest, TheSignalButtonCaptionIsSavedWhole)
{
    open_dialog(LANG_POLISH);
    EXPECT_STREQ(app.signal_button_caption, "&ZapisSygnałem");   // 15 bytes with its "ł"
    close_dialog();
    app_state_reset();
    open_dialog(LANG_ENGLISH);
    EXPECT_STREQ(app.signal_button_caption, "&SignalRecord");
}

TEST(MainDialogTemplate, BothLanguagesHoldTheSameControlsInsideTheirDialog)
{
    const int ids[] = {66, 67, 72, 73, 80, 1015, 1016, 1012, 92, 1, 82, 81, 87, 88, 1013, 1006, 1008,
                       1007, 1020, 2, 1021, 1022, 1023, 1024, 89, 70, 1017, 1014, 1018, 1019, 69, 68,
                       1025, 71};
    const dialog_template& en = *main_dialog_template_for(LANG_ENGLISH);
    const dialog_template& pl = *main_dialog_template_for(LANG_POLISH);
    EXPECT_STREQ(en.name, "MAINDIALOG");
    EXPECT_STREQ(pl.name, "MAINDIALOG");
    EXPECT_EQ(en.cx, 311);
    EXPECT_EQ(en.cy, 316);
    EXPECT_EQ(pl.cx, 311);
    EXPECT_EQ(pl.cy, 309);
    for (const dialog_template* t : {&en, &pl}) {
        std::set<int> seen;
        for (int i = 0; i < t->control_count; ++i) {
            const control_template& c = t->controls[i];
            SCOPED_TRACE(testing::Message() << t->cy << " control " << c.id << " " << c.caption);
            EXPECT_TRUE(inside(c, *t));
            if (c.id != -1) {
                EXPECT_TRUE(seen.insert(c.id).second) << "id twice";
            }
            // Controls other than group boxes never lie on top of each other.
            if (c.kind == CTL_GROUPBOX)
                continue;
            for (int j = i + 1; j < t->control_count; ++j) {
                if (t->controls[j].kind != CTL_GROUPBOX) {
                    EXPECT_FALSE(overlap(c, t->controls[j])) << "overlaps " << t->controls[j].caption;
                }
            }
        }
        EXPECT_EQ(seen, std::set<int>(std::begin(ids), std::end(ids)));
    }
    // The English rectangles are the ones the displays and the bars are placed by.
    const control_template* view = find(en, IDC_WAVE_VIEW);
    EXPECT_EQ(view->x, 15);
    EXPECT_EQ(view->y, 90);
    EXPECT_EQ(view->cx, 276);
    EXPECT_EQ(view->cy, 72);
    EXPECT_EQ(find(en, IDC_STATUS)->cx, 175);
    EXPECT_EQ(find(en, IDC_LEVEL_DIAL)->y, 191);
    // The same kinds in both; the Polish captions are its own.
    for (int id : ids) {
        SCOPED_TRACE(id);
        EXPECT_EQ(find(en, id)->kind, find(pl, id)->kind);
    }
    EXPECT_STREQ(find(pl, CMD_RECORD)->caption, "&Zapis");
    EXPECT_STREQ(find(pl, IDC_FORMAT_NAME)->caption, "nieokreślony");
    EXPECT_STREQ(find(en, CMD_AC_SINUS_REMOVE)->caption, "AC Sinus Remove");
}

TEST(MainDialogTemplate, TheInterfaceLanguageChoosesTheTemplate)
{
    set_ui_language(LANG_POLISH);
    EXPECT_EQ(main_dialog_template(), main_dialog_template_for(LANG_POLISH));
    set_ui_language(LANG_ENGLISH);
    EXPECT_EQ(main_dialog_template(), main_dialog_template_for(LANG_ENGLISH));
}

// Runs a test in a fresh folder holding short silent tracks of the given
// names, with the preview on the virtual card; the folder goes afterwards.
struct TracksHere {
    std::string dir, before;
    explicit TracksHere(std::initializer_list<const char*> names)
    {
        char tmpl[] = "/tmp/tm-main-dialog-XXXXXX";
        dir = mkdtemp(tmpl);
        char cwd[4096];
        before = getcwd(cwd, sizeof cwd) ? cwd : ".";
        EXPECT_EQ(chdir(dir.c_str()), 0);
        const uint8_t header[44] = {'R', 'I', 'F', 'F', 36 + 200, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                    16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0,
                                    'd', 'a', 't', 'a', 200, 0, 0, 0};
        for (const char* name : names) {
            FILE* f = std::fopen(name, "wb");
            std::fwrite(header, 1, sizeof header, f);
            std::fwrite(std::string(200, '\0').data(), 1, 200, f);
            std::fclose(f);
        }
        sound_use_virtual("demo");
    }
    ~TracksHere()
    {
        sound_use_portaudio();
        EXPECT_EQ(chdir(before.c_str()), 0);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
};

TEST_F(MainDialogTest, DeClickerWorksOnTheLastTrackAndCloseTrackMovesOn)
{
    TracksHere tracks{"track4.wav"};
    open_dialog();
    std::strcpy(app.track_name, "track5.wav");
    click(CMD_DECLICKER);
    EXPECT_STREQ(app.status_text, "declick processing  - file track4.wav");
    EXPECT_STREQ(app.track_name, "track5.wav");
    EXPECT_TRUE(app.track_open);
    EXPECT_EQ(text(CMD_DECLICKER), "Close track");
    EXPECT_TRUE(enabled(CMD_PLAY));
    EXPECT_TRUE(enabled(CMD_PAUSE));
    EXPECT_FALSE(enabled(CMD_DENOISER));
    EXPECT_EQ(text(IDC_STATUS), app.result_text);

    click(CMD_DECLICKER);   // Close track
    EXPECT_STREQ(app.track_name, "track6.wav");
    EXPECT_FALSE(app.track_open);
    EXPECT_EQ(text(CMD_DECLICKER), "DeClicker");
    EXPECT_FALSE(enabled(CMD_PLAY));
    EXPECT_FALSE(enabled(CMD_PAUSE));
    EXPECT_TRUE(enabled(CMD_DENOISER));
}

TEST_F(MainDialogTest, DeNoiserLocksDeClickerAndNamesItsOwnPass)
{
    TracksHere tracks{"track0.wav"};
    open_dialog(LANG_POLISH);
    std::strcpy(app.track_name, "track0.wav");
    click(CMD_DENOISER);
    EXPECT_STREQ(app.status_text, "odszumianie  - plik track0.wav");
    EXPECT_STREQ(app.track_name, "track1.wav");   // "0" does not step back
    EXPECT_EQ(text(CMD_DENOISER), "Zamknij");
    EXPECT_FALSE(enabled(CMD_DECLICKER));
    click(CMD_DENOISER);
    EXPECT_EQ(text(CMD_DENOISER), "DeNoiser");
    EXPECT_TRUE(enabled(CMD_DECLICKER));
    EXPECT_STREQ(app.track_name, "track2.wav");
}

TEST_F(MainDialogTest, TheProcessingLineIsCutToTheStatusText)
{
    open_dialog();
    std::string name = std::string(100, 'a') + "ż" + std::string(20, 'b') + "1.wav";
    std::strcpy(app.track_name, name.c_str());
    app.track_digit_pos = int32_t(name.size() - 5);
    click(CMD_DECLICKER);
    // 27 bytes of words leave 100 for the name; its "ż" would not fit whole.
    EXPECT_EQ(std::string(app.status_text), "declick processing  - file " + name.substr(0, 100));
}

TEST_F(MainDialogTest, FadeInStepsNothing)
{
    open_dialog();
    std::strcpy(app.track_name, "track3.wav");
    click(CMD_FADE_IN);
    EXPECT_STREQ(app.track_name, "track3.wav");
    EXPECT_FALSE(app.track_open);
    EXPECT_EQ(text(CMD_DECLICKER), "De&Clicker");
    EXPECT_FALSE(enabled(CMD_PLAY));
}

TEST_F(MainDialogTest, PlayAndPauseDoNothingWithoutAPreview)
{
    open_dialog();
    click(CMD_PLAY);
    click(CMD_PAUSE);
    EXPECT_TRUE(enabled(CMD_RECORD));
    EXPECT_EQ(text(CMD_PAUSE), "&Pause");
    EXPECT_FALSE(app.playback_paused);
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(MainDialogTest, ButtonColoursFollowTheBlink)
{
    open_dialog();
    ASSERT_NE(app.level_mid_brush, nullptr);
    window play = dialog_item(dialog, CMD_PLAY);
    window signal = app.signal_button;
    colorref text_color = 0, background = 0, brush = 0;

    ASSERT_TRUE(window_core_button_colors(play, &text_color, &background, &brush));
    EXPECT_EQ(text_color, rgb(0, 255, 0));
    EXPECT_EQ(brush, rgb(255, 255, 0));

    ASSERT_TRUE(window_core_button_colors(signal, &text_color, &background, &brush));
    EXPECT_EQ(text_color, rgb(255, 255, 255));
    EXPECT_EQ(background, rgb(255, 0, 255));
    EXPECT_EQ(brush, rgb(255, 255, 0));

    app.signal_buffer_count = 256;
    app.blink_on = 1;
    ASSERT_TRUE(window_core_button_colors(signal, &text_color, &background, &brush));
    EXPECT_EQ(background, rgb(127, 127, 127));
    EXPECT_EQ(brush, rgb(192, 192, 192));
    app.blink_on = 0;
    ASSERT_TRUE(window_core_button_colors(signal, &text_color, &background, &brush));
    EXPECT_EQ(background, rgb(255, 0, 255));

    // Between the multiples of 128, and on every other button, the default look.
    app.signal_buffer_count = 129;
    EXPECT_FALSE(window_core_button_colors(signal, &text_color, &background, &brush));
    EXPECT_FALSE(window_core_button_colors(dialog_item(dialog, CMD_RECORD), &text_color, &background, &brush));
    app.signal_button = nullptr;
    EXPECT_FALSE(window_core_button_colors(play, &text_color, &background, &brush));
}

TEST_F(MainDialogTest, TheSignalButtonInvertsItsRectangleOnEveryErase)
{
    open_dialog();
    headless_clear_draw_calls();
    dc d = get_dc(app.signal_button);
    EXPECT_EQ(send_message(app.signal_button, WM_ERASEBKGND, wparam(d), 0), 1);
    EXPECT_EQ(send_message(app.signal_button, WM_ERASEBKGND, wparam(d), 0), 1);
    release_dc(app.signal_button, d);
    std::vector<draw_call> calls = headless_draw_calls();
    ASSERT_EQ(calls.size(), 2u);
    rect client;
    get_client_rect(app.signal_button, &client);
    for (const draw_call& c : calls) {
        EXPECT_EQ(c.op, DRAW_INVERT_RECT);
        EXPECT_EQ(c.v[2], client.right);
        EXPECT_EQ(c.v[3], client.bottom);
    }
    // Other messages reach the button's own procedure.
    set_window_font(app.signal_button, app.underlined_font, true);
    EXPECT_EQ(get_window_font(app.signal_button), app.underlined_font);
}

TEST_F(MainDialogTest, ExitAndTheCloseBoxEndTheDialogWithZero)
{
    open_dialog();
    EXPECT_NE(app.bar_erase_pen, nullptr);
    click(CMD_EXIT);
    EXPECT_TRUE(dialog->ended);
    EXPECT_EQ(dialog->end_result, 0);
    EXPECT_EQ(app.bar_erase_pen, nullptr);
    EXPECT_EQ(app.bar_low_pen, nullptr);
    EXPECT_EQ(app.bar_high_pen, nullptr);
    close_dialog();

    app_state_reset();
    open_dialog();
    post_message(dialog, WM_CLOSE, 0, 0);
    headless_pump();
    EXPECT_TRUE(dialog->ended);
    EXPECT_EQ(dialog->end_result, 0);
}

TEST_F(MainDialogTest, CommandsDispatchOnTheLowSixteenBitsOnly)
{
    open_dialog();
    type(IDC_AC_FREQ, "100");
    // A command posted with a notification code acts as a click.
    post_message(dialog, WM_COMMAND, make_wparam(CMD_FILTER_EX, 1), 0);
    headless_pump();
    EXPECT_EQ(app.ac_sinus_freq, 100);
    // Unknown ids and messages are left to the default handling.
    EXPECT_EQ(send_message(dialog, WM_COMMAND, make_wparam(4321, 0), 0), 0);
    EXPECT_EQ(send_message(dialog, WM_USER + 50, 0, 0), 0);
    EXPECT_FALSE(dialog->ended);
}

TEST_F(MainDialogTest, ACommandFromBox71AndAnEventWithoutAHeaderWriteNothing)
{
    open_dialog();
    app.recording = 1;
    // Marks that any append would overwrite, even one of nothing.
    app.data_bytes_written = 4096;
    app.last_write_count = 77;
    const int16_t at_device = app.headers_at_device;
    const int16_t stale = app.stale_done_events;
    std::vector<uint8_t> ring(sizeof app.capture_ring);
    std::memcpy(ring.data(), &app.capture_ring, ring.size());
    // What the Play buffer box (71) sends is no buffer, nor is an event that
    // lost its header.
    window box = dialog_item(dialog, IDC_PLAY_BUFFER);
    send_message(dialog, WM_COMMAND, make_wparam(IDC_PLAY_BUFFER, 0x300), lparam(box));
    send_message(dialog, WM_COMMAND, make_wparam(IDC_PLAY_BUFFER, 1), 0);
    send_message(dialog, MSG_RECORD_BUFFER, 0, 0);
    send_message(dialog, MSG_PLAYBACK_DONE, 0, 0);
    EXPECT_EQ(app.data_bytes_written, 4096u);
    EXPECT_EQ(app.last_write_count, 77u);
    EXPECT_EQ(app.headers_at_device, at_device);
    EXPECT_EQ(app.stale_done_events, stale);
    EXPECT_EQ(std::memcmp(ring.data(), &app.capture_ring, ring.size()), 0) << "the ring did not change";
    app.recording = 0;
}

TEST_F(MainDialogTest, SelectMarksTheFormatChosenOnlyWhenOneWasChosen)
{
    open_dialog();
    headless_answer_chooser(nullptr);
    click(CMD_SELECT);
    EXPECT_EQ(headless_choosers_shown(), 1);
    EXPECT_FALSE(app.format_chosen);

    const format_choice* choices = nullptr;
    int count = acm_format_choices(&choices);
    const char* pcm16 = nullptr;
    for (int i = 0; i < count && !pcm16; ++i) {
        const auto* f = reinterpret_cast<const wave_format*>(choices[i].format);
        if (f->format_tag == WAVE_FORMAT_PCM && f->bits_per_sample == 16)
            pcm16 = choices[i].spelling;
    }
    ASSERT_NE(pcm16, nullptr);
    headless_answer_chooser(pcm16);
    click(CMD_SELECT);
    EXPECT_TRUE(app.format_chosen);

    // A later cancel keeps the earlier choice.
    headless_answer_chooser(nullptr);
    click(CMD_SELECT);
    EXPECT_TRUE(app.format_chosen);
}
