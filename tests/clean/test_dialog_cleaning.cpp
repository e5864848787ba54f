// The main dialog's cleaning commands on real track files: DeClicker and the
// restoration buttons clean the last track recorded into their letter's file
// and leave it open as the preview; Close track closes it and moves the
// counter on.
#include <algorithm>
#include <cmath>
#include <cstring>
#include "tests/clean/clean_files.h"
#include "platform/sound/sound.h"
#include "tests/support/main_dialog_fixture.h"

namespace {

class DialogCleaningTest : public MainDialogTest {
protected:
    std::string dir;
    void SetUp() override
    {
        MainDialogTest::SetUp();
        // The preview's output device opens on the virtual card, so the test
        // does not depend on the machine having a sound card.
        ASSERT_EQ(sound_use_virtual("demo"), 0);
        char tmpl[] = "/tmp/tm-clean-dialog-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override
    {
        MainDialogTest::TearDown();
        sound_use_portaudio();
        const std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << dir;
    }
    // The track name <dir>/track5.wav with the counter on the 5.
    void name_tracks()
    {
        const std::string name = dir + "/track5.wav";
        std::strcpy(app.track_name, name.c_str());
        app.track_digit_pos = int32_t(name.size() - 5);
    }
};

} // namespace

TEST_F(DialogCleaningTest, DeClickerCleansTheLastTrackAndCloseTrackMovesOn)
{
    samples16 in(3000, 0);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = int16_t(4000 * std::sin(double(i) * 0.02));
    in[1000] = 20000;
    in[1001] = 25000;
    in[1002] = -22000;
    write_file(dir + "/track4.wav", wav_bytes(in));
    open_dialog();
    name_tracks();
    type(IDC_THRESHOLD, "11");
    click(CMD_DECLICKER);

    EXPECT_STREQ(app.cleaned_file_name, (dir + "/tracd4.wav").c_str());
    EXPECT_EQ(text(IDC_FILE_BOX), dir + "/tracd4.wav");
    EXPECT_EQ(text(IDC_STATUS), "declick process complete 1 corrections");
    EXPECT_STREQ(app.track_name, (dir + "/track5.wav").c_str());
    EXPECT_NE(app.track_in, nullptr) << "the cleaned file is the preview";
    parsed_wav out = parse_wav(read_file(dir + "/tracd4.wav"));
    ASSERT_TRUE(out.ok);
    EXPECT_NE(out.samples()[1001], 25000);
    EXPECT_TRUE(box_texts().empty());

    click(CMD_DECLICKER);   // Close track
    EXPECT_EQ(app.track_in, nullptr);
    EXPECT_STREQ(app.track_name, (dir + "/track6.wav").c_str());
}

TEST_F(DialogCleaningTest, FadeInNamesTheFadeWhileItWorksAndReportsItsOwnLine)
{
    write_file(dir + "/track5.wav", wav_bytes(samples16(3000, 12000)));
    open_dialog();
    name_tracks();
    click(CMD_FADE_IN);
    EXPECT_EQ(std::string(app.status_text), "fade in processing  - file " + dir + "/track5.wav");
    EXPECT_EQ(text(IDC_STATUS), "fade in complete");
    EXPECT_TRUE(file_exists(dir + "/tracf5.wav"));
}

TEST_F(DialogCleaningTest, AMissingTrackIsToldAndTheStatusLineSaysTheRunFailed)
{
    open_dialog();
    name_tracks();
    std::strcpy(app.result_text, "denoise process complete 9 corrections");
    const std::string caption = text(CMD_DENOISER);
    click(CMD_DENOISER);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"File not found/protected"});
    EXPECT_EQ(text(IDC_STATUS), "cleaning failed: the track cannot be opened");
    EXPECT_FALSE(file_exists(dir + "/tracn4.wav"));
    EXPECT_EQ(app.track_in, nullptr);
    // The dialog is as it was: nothing to close or play, the counter in place.
    EXPECT_EQ(text(CMD_DENOISER), caption);
    EXPECT_FALSE(app.track_open);
    EXPECT_FALSE(enabled(CMD_PLAY));
    EXPECT_FALSE(enabled(CMD_PAUSE));
    EXPECT_TRUE(enabled(CMD_DECLICKER));
    EXPECT_STREQ(app.track_name, (dir + "/track5.wav").c_str());
    // From track0, which does not step back, the counter stays on 0 too.
    std::strcpy(app.track_name, (dir + "/track0.wav").c_str());
    click(CMD_DECLICKER);
    EXPECT_STREQ(app.track_name, (dir + "/track0.wav").c_str());
    EXPECT_FALSE(app.track_open);
}

TEST_F(DialogCleaningTest, EachRestorationButtonCleansTheLastTrackAndClosesIt)
{
    struct button_case {
        int id;
        const char* file;          // the cleaned file, in place of track4.wav
        const char* status;        // the status line after the pass
    };
    const button_case buttons[] = {
        {CMD_AC_SINUS_REMOVE, "traca4.wav", "dehum process complete 20 notches 1.10 Hz wide"},
        {CMD_MONO_STEREO, "tracm4.wav", "mono process complete the mean into both channels"},
        {CMD_FADE_OUT, "traco4.wav", "fadeout process complete 2.0 s"},
        // A fifth of a second of two slow tones: no quiet passage to learn hiss from.
        {CMD_FILTER_EX, "tracx4.wav",
         "restore complete 0 clicks repaired, hiss left: no quiet passage to measure it in"},
    };
    samples16 in;
    for (int i = 0; i < 8000; ++i) {
        in.push_back(int16_t(3000 * std::sin(i * 0.0071)));
        in.push_back(int16_t(-2000 * std::sin(i * 0.0093)));
    }
    track_layout t;
    t.channels = 2;
    write_file(dir + "/track4.wav", wav_bytes(in, t));
    open_dialog();
    for (const button_case& b : buttons) {
        SCOPED_TRACE(b.file);
        name_tracks();
        const std::string caption = text(b.id);
        type(IDC_AC_FREQ, "50");
        type(IDC_THRESHOLD, "11");
        click(b.id);
        const std::string status = app.status_text;
        EXPECT_EQ(status.substr(status.find("processing")), "processing  - file " + dir + "/track4.wav");
        EXPECT_EQ(text(IDC_STATUS), b.status);
        EXPECT_EQ(text(IDC_FILE_BOX), dir + "/" + b.file);
        EXPECT_STREQ(app.track_name, (dir + "/track5.wav").c_str());
        EXPECT_NE(app.track_in, nullptr) << "the cleaned file is the preview";
        EXPECT_TRUE(parse_wav(read_file(dir + "/" + b.file)).ok);
        EXPECT_EQ(text(b.id), "Close track");
        EXPECT_TRUE(enabled(CMD_PLAY));
        for (int other : {CMD_DECLICKER, CMD_DENOISER, CMD_AC_SINUS_REMOVE, CMD_MONO_STEREO, CMD_FADE_OUT,
                          CMD_FILTER_EX})
            EXPECT_EQ(enabled(other), other == b.id) << other;
        click(b.id);   // Close track
        EXPECT_EQ(app.track_in, nullptr);
        EXPECT_EQ(text(b.id), caption);
        EXPECT_STREQ(app.track_name, (dir + "/track6.wav").c_str());
        EXPECT_TRUE(enabled(CMD_DECLICKER));
        EXPECT_FALSE(enabled(CMD_PLAY));
    }
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(DialogCleaningTest, TheWaveViewStaysInItsFrameAndEndsOnTheTracksNewestWave)
{
    // A loud stereo track as Record writes it: its samples fill whole 8 KB
    // buffers, so the last read buffer holds only the header's 44 bytes of
    // samples, and the left channel reaches -32768.
    samples16 in;
    for (int i = 0; i < 5 * 2048; ++i) {
        const double s = 33000 * std::sin(i * 0.06);
        in.push_back(int16_t(std::clamp(s, -32768.0, 32767.0)));
        in.push_back(int16_t(s / 4));
    }
    track_layout t;
    t.channels = 2;
    write_file(dir + "/track4.wav", wav_bytes(in, t));
    write_file(dir + "/track5.wav", wav_bytes(in, t));
    open_dialog();
    const rect v = app.wave_view_rect;
    // Fade In first, on a fresh point table: it takes no points of its own.
    for (int id : {CMD_FADE_IN, CMD_DENOISER, CMD_DECLICKER}) {
        SCOPED_TRACE(id);
        name_tracks();
        headless_clear_draw_calls();
        click(id);
        ASSERT_TRUE(box_texts().empty());
        std::vector<point> last;
        for (const draw_call& c : headless_draw_calls()) {
            if (c.op != DRAW_POLYLINE)
                continue;
            for (const point& p : c.points)
                ASSERT_TRUE(p.x >= v.left && p.x < v.right && p.y >= v.top && p.y < v.bottom) << p.x << "," << p.y;
            last = c.points;
        }
        if (id == CMD_FADE_IN)
            continue;
        // The view ends on a whole wave: every column, from crest to trough.
        ASSERT_EQ(last.size(), size_t(app.view_width));
        auto [low, high] = std::minmax_element(last.begin(), last.end(),
                                               [](const point& a, const point& b) { return a.y < b.y; });
        EXPECT_GT(high->y - low->y, (v.bottom - v.top) / 2);
        if (app.track_open)
            click(id);
    }
}

TEST_F(DialogCleaningTest, AChosenTrackIsTheOneTheCleaningButtonsWorkOnAndAnythingElseIsRefused)
{
    write_file(dir + "/take12.wav", wav_bytes(samples16(3000, 12000)));
    write_file(dir + "/notes.wav", bytes{'R', 'I', 'F', 'X'});
    // As the command line gives it: the dialog opens on the track.
    const std::string take = dir + "/take12.wav";
    dialog = headless_open_dialog(main_dialog_template(), main_dialog_proc, lparam(take.c_str()));
    headless_pump();
    EXPECT_STREQ(app.track_name, take.c_str());
    EXPECT_EQ(text(IDC_STATUS), "Track to clean: " + take);
    click(CMD_FADE_IN);
    EXPECT_TRUE(file_exists(dir + "/takef2.wav"));
    click(CMD_DECLICKER);
    EXPECT_STREQ(app.cleaned_file_name, (dir + "/taked2.wav").c_str()) << "the track itself, not the one before";
    EXPECT_STREQ(app.track_name, take.c_str());
    // While it is open, or when it is no readable WAV, a drop changes nothing.
    headless_drop_file(dialog, (dir + "/notes.wav").c_str());
    click(CMD_DECLICKER);   // Close track: on to the next number
    EXPECT_STREQ(app.track_name, (dir + "/take13.wav").c_str());
    for (const char* name : {"/notes.wav", "/none.wav"})
        headless_drop_file(dialog, (dir + name).c_str());
    ASSERT_EQ(box_texts().size(), 3u);
    EXPECT_EQ(box_texts()[0].find("A cleaned track is open"), 0u) << box_texts()[0];
    EXPECT_EQ(box_texts()[1], dir + "/notes.wav is not a WAV file (no RIFF/WAVE header).\n"
                                    "The track to clean stays as it was.");
    EXPECT_NE(box_texts()[2].find("cannot be opened"), std::string::npos) << box_texts()[2];
    EXPECT_STREQ(app.track_name, (dir + "/take13.wav").c_str());
    headless_drop_file(dialog, (dir + "/take12.wav").c_str());
    EXPECT_STREQ(app.track_name, take.c_str());
    // A name without a number has no counter: it stays the track to clean.
    write_file(dir + "/side.wav", wav_bytes(samples16(3000, 12000)));
    headless_drop_file(dialog, (dir + "/side.wav").c_str());
    click(CMD_DENOISER);
    click(CMD_DENOISER);
    EXPECT_TRUE(file_exists(dir + "/nside.wav"));
    EXPECT_STREQ(app.track_name, (dir + "/side.wav").c_str());
}
