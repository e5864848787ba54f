// The headless window back end and its hooks: tests and the batch tool run
// the program's dialog procedures without a display, click controls by id,
// type into boxes, answer message boxes, the save-file dialog and the format
// chooser from a script, and read back the boxes shown and the drawing calls.
//
// Threads: the dialog's thread, except that device callbacks may post.
#pragma once
#include <functional>
#include <string>
#include <vector>
#include "platform/window/window_backend.h"

const window_backend* headless_backend();

// --- driving a dialog without a modal loop -----------------------------------
// Creates the dialog and sends WM_INITDIALOG; returns it (null if it ended).
window headless_open_dialog(const dialog_template* t, dialog_proc proc, lparam init);
void headless_close_dialog(window dialog);
void headless_click(window dialog, int id);     // WM_COMMAND id, as a button click
void headless_type(window dialog, int id, const char* text);  // what a user types
void headless_drop_file(window dialog, const char* path);     // a file dropped on the dialog
int headless_pump();                            // handle every posted message now
int headless_pump_for(int ms);                  // ...and those arriving within ms (wall)

// --- the script for dialog_box's modal loop ---------------------------------------
// dialog_box handles the posted messages that wait (those they post in turn
// come after), then the next action, and so on; when
// no action is left and nothing arrives for the idle time, it closes the
// dialog (WM_CLOSE), as a user leaving the program would, and presses its
// default button when the close box does not end it.
void headless_script_click(int id);
void headless_script_type(int id, const char* text);
void headless_script_wait(int ms);              // let posted messages arrive for ms (wall)
void headless_set_idle_close_ms(int ms);        // default 300

// --- answers to modal questions ----------------------------------------------------
// Each question takes the oldest scripted answer. Without one: a message box
// answers IDOK (MB_OK) or IDNO (MB_YESNO), the save dialog and the chooser
// are cancelled.
void headless_answer_box(int answer);
void headless_answer_save(const char* name);   // null: cancel
void headless_answer_chooser(const char* spelling);  // null: cancel

struct message_box_record {
    window owner;
    std::string text;
    std::string caption;
    unsigned flags;
    int answer;
};
std::vector<message_box_record> headless_message_boxes();
void headless_clear_message_boxes();
// Called for every box as it is shown (the batch tool prints them).
void headless_on_message_box(std::function<void(const message_box_record&)> hook);
int headless_save_dialogs_shown();
int headless_choosers_shown();

// --- the shell --------------------------------------------------------------------
// Nothing is opened or started: every address handed to open_url and every
// program asked of start_program is recorded. A program starts (0) only
// when installed here; every other one is missing (-1).
std::vector<std::string> headless_opened_urls();
std::vector<std::string> headless_started_programs();
void headless_install_program(const char* path);

// --- drawing record ------------------------------------------------------------------
std::vector<draw_call> headless_draw_calls();
void headless_clear_draw_calls();

// Forgets scripts, answers, records, installed programs, posted messages
// and drawing calls.
void headless_reset();

// Dialog creation without running it (for back ends and tests).
window window_core_create_dialog(const dialog_template* t, window owner, dialog_proc proc);
void window_core_destroy_dialog(window dialog);
void window_core_clear_posted();
