// The number boxes: what each text gives, read wide and then limited, so
// that no entry wraps into a value outside a setting's limits.
#include <cstring>
#include "app/number_boxes.h"
#include "tests/support/main_dialog_fixture.h"

TEST(BoxNumber, DigitsWithBlanksAroundAreANumberAndNothingElseIs)
{
    struct Case {
        const char* text;
        int valid;
        uint64_t value;
    };
    const Case cases[] = {
        {"0", 1, 0},
        {"45", 1, 45},
        {"  7 ", 1, 7},
        {"007", 1, 7},
        {"18446744073709551615", 1, UINT64_MAX},
        {"99999999999999999999999", 1, UINT64_MAX},   // saturates, never wraps
        {"", 0, 0},
        {"   ", 0, 0},
        {"-5", 0, 0},
        {"+5", 0, 0},
        {"12a", 0, 0},
        {"1 2", 0, 0},
        {"abc", 0, 0},
        {"4.5", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t v = 12345;
        EXPECT_EQ(parse_box_number(c.text, &v), c.valid);
        if (c.valid) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST_F(MainDialogTest, EachBoxIsReadByItsRules)
{
    struct Case {
        int box;
        const char* text;
        int64_t stored;
    };
    const Case cases[] = {
        {IDC_THRESHOLD, "46", 45},
        {IDC_THRESHOLD, "", 11},
        {IDC_THRESHOLD, "0", 1},
        {IDC_THRESHOLD, "1", 1},
        {IDC_THRESHOLD, "45", 45},
        {IDC_THRESHOLD, "128", 45},      // would be -128 through a signed byte
        {IDC_THRESHOLD, "256", 45},      // would be 0
        {IDC_THRESHOLD, "-3", 11},
        {IDC_AC_FREQ, "60", 60},
        {IDC_AC_FREQ, "2049", 2048},
        {IDC_AC_FREQ, "65536", 2048},    // would be 0 through 16 bits
        {IDC_AC_FREQ, "32768", 2048},    // would be negative
        {IDC_AC_FREQ, "hum", 50},
        {IDC_AC_FREQ, "0", 0},
        {IDC_INTRO_MAX, "56", 55},
        {IDC_INTRO_MAX, "letters", 9},
        {IDC_INTRO_MAX, "0", 0},
        {IDC_INTRO_MAX, "300", 55},      // would be 44 through an unsigned byte
        {IDC_BUFFER_SIZE, "4096", 4096},
        {IDC_BUFFER_SIZE, "", 65536},
        {IDC_BUFFER_SIZE, "4294967295", 4294967295},
        {IDC_BUFFER_SIZE, "4294967296", 65536},
        {IDC_BUFFER_COUNT, "12", 12},
        {IDC_BUFFER_COUNT, "x", 5},
        {IDC_BUFFER_COUNT, "2147483648", 5},
    };
    open_dialog();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.box << " '" << c.text << "'");
        type(c.box, c.text);
        int64_t stored = 0;
        switch (c.box) {
        case IDC_THRESHOLD: stored = read_threshold_box(dialog); EXPECT_EQ(app.filter_threshold, stored); break;
        case IDC_AC_FREQ: stored = read_ac_freq_box(dialog); EXPECT_EQ(app.ac_sinus_freq, stored); break;
        case IDC_INTRO_MAX: stored = read_intro_max_box(dialog); EXPECT_EQ(app.intro_max_seconds, stored); break;
        case IDC_BUFFER_SIZE: stored = read_buffer_size_box(dialog); EXPECT_EQ(app.record_buffer_bytes, stored); break;
        case IDC_BUFFER_COUNT: stored = read_buffer_count_box(dialog); EXPECT_EQ(app.num_buffers, stored); break;
        }
        EXPECT_EQ(stored, c.stored);
        // Nothing is written back: the box keeps what was typed.
        EXPECT_EQ(text(c.box), c.text);
    }
}

TEST_F(MainDialogTest, ABoxTooLongForAnyNumberIsNoNumber)
{
    open_dialog();
    std::string digits(600, '9');
    type(IDC_THRESHOLD, digits.c_str());
    EXPECT_EQ(read_threshold_box(dialog), 11);
}

TEST_F(MainDialogTest, RestorationButtonsReadFrequencyAndThresholdOnly)
{
    for (int id : {CMD_AC_SINUS_REMOVE, CMD_MONO_STEREO, CMD_FADE_OUT, CMD_FILTER_EX}) {
        SCOPED_TRACE(id);
        close_dialog();   // each button on a run of its own, from the defaults
        app_state_reset();
        open_dialog();
        headless_clear_message_boxes();
        std::strcpy(app.track_name, "/nonexistent/track0.wav");
        type(IDC_AC_FREQ, "3000");
        type(IDC_THRESHOLD, "300");
        type(IDC_INTRO_MAX, "20");
        type(IDC_BUFFER_SIZE, "1000");
        click(id);
        EXPECT_EQ(app.ac_sinus_freq, 2048);
        EXPECT_EQ(app.filter_threshold, 45);
        EXPECT_EQ(app.intro_max_seconds, 10);
        EXPECT_EQ(app.record_buffer_bytes, 8192u);
        // The pass finds no track: it says so and the dialog stays as it was.
        EXPECT_FALSE(app.track_open);
        EXPECT_EQ(headless_message_boxes().size(), 1u);
    }
}

TEST_F(MainDialogTest, DeClickerReadsTheThresholdBeforeItsPass)
{
    open_dialog();
    type(IDC_THRESHOLD, "");
    app.filter_threshold = 30;
    click(CMD_DECLICKER);
    EXPECT_EQ(app.filter_threshold, 11);
}
