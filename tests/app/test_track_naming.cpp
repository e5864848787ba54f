// Change... and the track counter: the names a chosen capture file gives,
// the refusals that keep the earlier names, and the counter's steps with
// characters compared as signed 8-bit codes.
#include <cstring>
#include "app/track_naming.h"
#include "tests/support/main_dialog_fixture.h"

namespace {

struct ChangeCase {
    const char* chosen;
    const char* track_name;
    int digit_pos;
};

struct ChangeTest : MainDialogTest {
    // What Change... does once the save dialog has handed back `chosen`.
    int change_to(const char* chosen)
    {
        char earlier[sizeof app.capture_file_name];
        std::memcpy(earlier, app.capture_file_name, sizeof earlier);
        std::strncpy(app.capture_file_name, chosen, sizeof app.capture_file_name - 1);
        return accept_capture_file_name(dialog, earlier);
    }
};

void set_counter(const char* name, int pos)
{
    std::strcpy(app.track_name, name);
    app.track_digit_pos = pos;
}

} // namespace

TEST_F(ChangeTest, ChosenNamesBecomeNumberedTrackNames)
{
    const ChangeCase cases[] = {
        {"/rec/side.wav", "/rec/side0.wav", 9},
        {"/rec/take3_", "/rec/take3.wav", 9},
        {"/rec/song", "/rec/song0.wav", 9},
        {"/rec/a.mp3", "/rec/a0.mp3", 6},
        {"/rec/x.b_", "/rec/x.b.b", 7},         // the extension stays in the name before "_"
        {"/rec/name.", "/rec/name0.", 9},
        {"ab", "ab0.wav", 2},
        {"/rec/old.take/side", "/rec/old.take/side0.wav", 18},
        {"/rec/x.y/a", "/rec/x.y/a0.wav", 10},    // a directory's "." is no extension
        {"/rec/_", "/rec/0.wav", 5},              // never counting on the separator
    };
    open_dialog();
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.chosen);
        ASSERT_EQ(change_to(c.chosen), 0);
        EXPECT_STREQ(app.track_name, c.track_name);
        EXPECT_EQ(app.track_digit_pos, c.digit_pos);
        // The capture file itself becomes the first track file.
        EXPECT_STREQ(app.capture_file_name, c.track_name);
        EXPECT_EQ(text(IDC_FILE_BOX), c.track_name);
    }
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(ChangeTest, NamesTooShortOrTooLongAreRefusedAndTheEarlierNamesStay)
{
    open_dialog();
    ASSERT_EQ(change_to("/rec/side.wav"), 0);

    std::string long_name = "/" + std::string(121, 'n') + ".wav";   // track name of 127
    std::string too_long = "/" + std::string(124, 'n');            // + "0.wav" = 130
    for (const char* refused : {"x", "", too_long.c_str()}) {
        SCOPED_TRACE(refused);
        headless_clear_message_boxes();
        EXPECT_EQ(change_to(refused), -1);
        ASSERT_EQ(headless_message_boxes().size(), 1u);
        const message_box_record box = headless_message_boxes()[0];
        EXPECT_EQ(box.text, std::strlen(refused) < 2 ? "Filename too short" : "Filename too long");
        EXPECT_EQ(box.caption, "Trackmill");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_STREQ(app.track_name, "/rec/side0.wav");
        EXPECT_EQ(app.track_digit_pos, 9);
        EXPECT_STREQ(app.capture_file_name, "/rec/side0.wav");
        EXPECT_EQ(text(IDC_FILE_BOX), "/rec/side0.wav");
    }

    // The longest name that fits is taken whole.
    headless_clear_message_boxes();
    ASSERT_EQ(change_to(long_name.c_str()), 0);
    EXPECT_EQ(std::strlen(app.track_name), 127u);
    EXPECT_EQ(app.track_name[app.track_digit_pos], '0');
}

TEST_F(ChangeTest, TheChangeButtonTakesTheSaveDialogsAnswer)
{
    open_dialog();
    headless_answer_save("/rec/side.wav");
    click(CMD_CHANGE);
    EXPECT_EQ(headless_save_dialogs_shown(), 1);
    EXPECT_EQ(text(IDC_FILE_BOX), "/rec/side0.wav");
    EXPECT_STREQ(app.track_name, "/rec/side0.wav");

    headless_answer_save("x");
    click(CMD_CHANGE);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Filename too short"});
    EXPECT_EQ(text(IDC_FILE_BOX), "/rec/side0.wav");
    EXPECT_STREQ(app.capture_file_name, "/rec/side0.wav");
}

TEST_F(ChangeTest, ACancelledSaveDialogChangesNothing)
{
    open_dialog();
    headless_answer_save(nullptr);
    click(CMD_CHANGE);
    EXPECT_STREQ(app.track_name, "track0.wav");
    EXPECT_EQ(app.track_digit_pos, 5);
    EXPECT_STREQ(app.capture_file_name, "./wavecap.wav");
    EXPECT_EQ(text(IDC_FILE_BOX), "./wavecap.wav");
}

TEST(TrackCounter, TheCounterIsAWholeNumberThatNeverWrapsOntoAnEarlierTake)
{
    app_state_reset();
    std::string seen;
    for (int i = 0; i < 12; ++i) {
        seen += std::string(app.track_name) + " ";
        advance_track_counter();
    }
    EXPECT_EQ(seen, "track0.wav track1.wav track2.wav track3.wav track4.wav track5.wav track6.wav track7.wav "
                    "track8.wav track9.wav track10.wav track11.wav ");
    EXPECT_STREQ(app.track_name, "track12.wav");
    step_back_track_counter();
    step_back_track_counter();
    step_back_track_counter();
    EXPECT_STREQ(app.track_name, "track9.wav");
    for (int i = 0; i < 12; ++i)
        step_back_track_counter();
    EXPECT_STREQ(app.track_name, "track0.wav");

    // The number starts at the counter: digits before it are the name's.
    set_counter("take3_99.mp3", 6);
    advance_track_counter();
    EXPECT_STREQ(app.track_name, "take3_100.mp3");
    // A number that would no longer fit the name stays as it is.
    std::string full(sizeof app.track_name - 6, 'x');
    set_counter((full + "9.wav").c_str(), int(full.size()));
    advance_track_counter();
    EXPECT_EQ(std::string(app.track_name), full + "9.wav");
}

TEST(TrackCounter, CharactersCompareAsSignedBytes)
{
    struct Step {
        char before;
        char advanced;
        char stepped_back;
    };
    const Step steps[] = {
        {'0', '1', '0'},
        {'5', '6', '4'},
        {'b', '0', 'a'},              // letters count as past "9"
        {'\x7f', '0', '\x7e'},
        {'/', '0', '/'},              // just below "0": advances into it
        {'\x80', '\x81', '\x80'},     // 128 and above count as below "0"
        {'\xff', '0', '\xff'},        // never advances into the name's end
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(int(uint8_t(s.before)));
        set_counter("trackX.wav", 5);
        app.track_name[5] = s.before;
        advance_track_counter();
        EXPECT_EQ(app.track_name[5], s.advanced);
        app.track_name[5] = s.before;
        step_back_track_counter();
        EXPECT_EQ(app.track_name[5], s.stepped_back);
        EXPECT_EQ(std::strlen(app.track_name), 10u);
    }
}

TEST(TrackCounter, ACounterBeyondTheNameIsLeftAlone)
{
    set_counter("ab", 5);
    advance_track_counter();
    step_back_track_counter();
    EXPECT_EQ(std::string(app.track_name, 3), std::string("ab\0", 3));
    set_counter("track0.wav", -1);
    advance_track_counter();
    EXPECT_STREQ(app.track_name, "track0.wav");
}
