// Start-up on the headless back end with the virtual sound card: the exit
// codes of the device checks and of a second instance, a normal run that
// ends with Exit, and the release of what the run left open.
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include "platform/sound/sound.h"
#include "platform/system/system.h"
#include "res/strings.h"
#include "tests/support/main_dialog_fixture.h"

namespace {

struct StartupTest : testing::Test {
    std::string runtime_dir;
    std::string saved_runtime;

    void SetUp() override
    {
        // A lock directory of our own, so a recorder running on this
        // machine and these tests never see each other's lock.
        const char* old = getenv("XDG_RUNTIME_DIR");
        saved_runtime = old ? old : "";
        char dir[] = "/tmp/trackmill-startup-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        runtime_dir = dir;
        setenv("XDG_RUNTIME_DIR", dir, 1);

        app_state_reset();
        headless_reset();
        set_ui_language(LANG_ENGLISH);
        ASSERT_EQ(sound_use_virtual("demo"), 0);
        sound_virtual_devices(1, 1);
        sound_fail_clear();
    }
    void TearDown() override
    {
        instance_lock_release();
        sound_virtual_devices(1, 1);
        sound_fail_clear();
        setenv("XDG_RUNTIME_DIR", saved_runtime.c_str(), 1);
        std::string cmd = "rm -rf '" + runtime_dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    std::vector<message_box_record> boxes() { return headless_message_boxes(); }
};

// Another process holding the instance lock until it is told to end.
struct OtherInstance {
    pid_t pid = -1;
    int stop_fd = -1;

    bool start()
    {
        int ready[2], stop[2];
        if (pipe(ready) != 0 || pipe(stop) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(stop[1]);
            char ok = instance_lock_acquire("mxlo") == 0 ? 'y' : 'n';
            if (write(ready[1], &ok, 1) != 1)
                _exit(2);
            char c;
            while (read(stop[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(stop[0]);
        stop_fd = stop[1];
        char ok = 'n';
        bool got = read(ready[0], &ok, 1) == 1;
        close(ready[0]);
        return got && ok == 'y';
    }
    void end()
    {
        if (stop_fd >= 0)
            close(stop_fd);
        stop_fd = -1;
        int status = 0;
        if (pid > 0)
            waitpid(pid, &status, 0);
        pid = -1;
    }
    ~OtherInstance() { end(); }
};

} // namespace

TEST_F(StartupTest, WithoutAnySoundDeviceTheWindowOpensOnTheDemoRecordAndSaysSo)
{
    sound_virtual_devices(0, 0);
    headless_script_click(CMD_MONITOR);
    headless_script_wait(150);
    headless_script_click(CMD_MONITOR);
    headless_script_click(CMD_EXIT);
    EXPECT_EQ(trackmill_startup(), 0);
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(sound_demo_input());
    EXPECT_GT(app.current_level[0], 0) << "Monitor measured the demo record";
    instance_lock_release();
    window dialog = headless_open_dialog(main_dialog_template(), main_dialog_proc, 0);
    char status[128];
    get_item_text(dialog, IDC_STATUS, status, sizeof status);
    EXPECT_STREQ(status, "No sound card - recording from the demo record");
    headless_close_dialog(dialog);
}

TEST_F(StartupTest, WithoutAnInputDeviceOrTheDemoRecordItSaysSoAndEndsWithOne)
{
    sound_virtual_devices(0, 1);
    headless_script_click(CMD_EXIT);
    // A device left open keeps the demo record from standing in.
    wave_out device = nullptr;
    const wave_format f = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(wave_out_open(&device, WAVE_MAPPER, &f, nullptr, 0, 0), 0u);
    EXPECT_EQ(trackmill_startup(), 1);
    wave_out_close(device);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "No sound card installed !");
    EXPECT_EQ(boxes()[0].caption, "Trackmill");
    EXPECT_EQ(boxes()[0].owner, nullptr);
    EXPECT_EQ(app.main_dialog, nullptr);   // no dialog was made
    // No lock was taken: a start now finds no other instance.
    EXPECT_EQ(instance_lock_acquire("mxlo"), 0u);
}

TEST_F(StartupTest, UnreadableCapabilitiesEndWithOne)
{
    sound_fail_call(SOUND_IN_CAPS, MMSYSERR_ERROR);
    EXPECT_EQ(trackmill_startup(), 1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Cannot determine sound card capabilities!");
    EXPECT_EQ(app.main_dialog, nullptr);
}

TEST_F(StartupTest, ASecondInstanceIsRefusedWithZeroAndANewStartWorksAfterTheFirstEnds)
{
    for (ui_lang lang : {LANG_ENGLISH, LANG_POLISH}) {
        SCOPED_TRACE(lang);
        set_ui_language(lang);
        headless_reset();
        OtherInstance first;
        ASSERT_TRUE(first.start());
        EXPECT_EQ(trackmill_startup(), 0);
        char expected[192];
        load_string(IDS_SECOND_INSTANCE, expected, sizeof expected);
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].text, expected);
        EXPECT_EQ(boxes()[0].caption, "Trackmill");
        EXPECT_EQ(app.main_dialog, nullptr);
        first.end();

        headless_reset();
        headless_script_click(CMD_EXIT);
        EXPECT_EQ(trackmill_startup(), 0);
        EXPECT_TRUE(boxes().empty());
        EXPECT_NE(app.main_dialog, nullptr);
        instance_lock_release();
        app_state_reset();
    }
}

TEST_F(StartupTest, TheSecondInstanceTextIsTheTablesInBothLanguages)
{
    char text[192];
    set_ui_language(LANG_ENGLISH);
    load_string(IDS_SECOND_INSTANCE, text, sizeof text);
    EXPECT_STREQ(text, "\"Opening more than one instance\n could cause damage of  data\"");
    set_ui_language(LANG_POLISH);
    load_string(IDS_SECOND_INSTANCE, text, sizeof text);
    EXPECT_STREQ(text, "uruchomienie więcej niż 1 instancji\n programu - ryzyko utraty danych");
    // A short buffer gets a cut, terminated text that never splits a character.
    char small[25];
    EXPECT_EQ(load_string(IDS_SECOND_INSTANCE, small, sizeof small), 23);   // "ż" would need 25
    EXPECT_STREQ(small, "uruchomienie więcej ni");
}

TEST_F(StartupTest, ARunEndedByExitReleasesWhatItMade)
{
    headless_script_type(IDC_THRESHOLD, "30");
    headless_script_click(CMD_EXIT);
    EXPECT_EQ(trackmill_startup(), 0);
    EXPECT_EQ(app.bar_erase_pen, nullptr);
    EXPECT_EQ(app.play_wave_pen, nullptr);
    EXPECT_EQ(app.level_low_brush, nullptr);
    EXPECT_EQ(app.level_mid_brush, nullptr);
    EXPECT_EQ(app.level_high_brush, nullptr);
    EXPECT_EQ(app.underlined_font, nullptr);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(StartupTest, TheCloseBoxEndsTheRunAsExitDoes)
{
    headless_set_idle_close_ms(20);   // nothing scripted: the user closes the window
    EXPECT_EQ(trackmill_startup(), 0);
    EXPECT_EQ(app.bar_erase_pen, nullptr);
}

TEST_F(StartupTest, ReleaseFreesTheRunsMemoryOnceAndToleratesAHalfMadePlayback)
{
    app.view_points = static_cast<point*>(std::calloc(10, sizeof(point)));
    app.work_area = static_cast<uint8_t*>(std::calloc(10, 1));
    app.play_buffers[1] = static_cast<uint8_t*>(std::calloc(10, 1));   // the first failed
    app.view_rows = static_cast<int16_t*>(std::calloc(10, 2));
    app.level_mid_brush = create_solid_brush(rgb(1, 2, 3));
    app.bar_low_pen = create_pen(1, rgb(1, 2, 3));   // a dialog that ended without Exit
    release_resources();
    EXPECT_EQ(app.view_points, nullptr);
    EXPECT_EQ(app.work_area, nullptr);
    EXPECT_EQ(app.play_buffers[1], nullptr);
    EXPECT_EQ(app.view_rows, nullptr);
    EXPECT_EQ(app.level_mid_brush, nullptr);
    EXPECT_EQ(app.bar_low_pen, nullptr);
    release_resources();   // a second release finds nothing left
}
