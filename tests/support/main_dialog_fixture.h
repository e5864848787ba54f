// A main dialog opened on the headless back end with the state at its
// defaults, for the tests of the dialog's commands.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include "core/app_state.h"
#include "core/ids.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "platform/window/headless.h"
#include "res/dialogs.h"

struct MainDialogTest : testing::Test {
    window dialog = nullptr;

    void open_dialog(ui_lang lang = LANG_ENGLISH)
    {
        close_dialog();   // a dialog opened again ends the earlier one first
        set_ui_language(lang);
        dialog = headless_open_dialog(main_dialog_template_for(lang), main_dialog_proc, 0);
        ASSERT_NE(dialog, nullptr);
    }
    void SetUp() override
    {
        app_state_reset();
        headless_reset();
    }
    // Ends the dialog as a run would: what it made is released, not forgotten.
    void close_dialog()
    {
        if (dialog)
            headless_close_dialog(dialog);
        dialog = nullptr;
        release_resources();
    }
    void TearDown() override
    {
        close_dialog();
        set_ui_language(LANG_ENGLISH);
    }
    std::string text(int id)
    {
        char buffer[512];
        get_item_text(dialog, id, buffer, sizeof buffer);
        return buffer;
    }
    bool enabled(int id) { return item_enabled(dialog, id); }
    void click(int id) { headless_click(dialog, id); }
    void type(int id, const char* t) { headless_type(dialog, id, t); }
    std::vector<std::string> box_texts()
    {
        std::vector<std::string> texts;
        for (const message_box_record& r : headless_message_boxes())
            texts.push_back(r.text);
        return texts;
    }
};
