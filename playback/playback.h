// Playback of the cleaned preview: the output device, the two playback
// buffers, their refill and the timer that follows the sound in the view.
//
// Threads: everything here runs on the dialog's thread except
// show_play_position (the timer's thread) and playback_done_callback (the
// device's thread), which only posts. The timer
// routine and the dialog's thread share view_rows, view_points, view_cursor
// and the wave view under one lock (the view lock, in playback.cpp); the
// routine never writes the status line itself but posts MSG_PREVIEW_FRAME.
#pragma once
#include <cstdint>
#include "core/app_state.h"
#include "core/ids.h"

// start_playback's result when the playback buffers or the view rows cannot
// be had: the caller shows "Critical memory error" and ends the run.
constexpr int32_t PLAYBACK_NO_MEMORY = -2;

// Opens the cleaned file `name` as the preview (track_in at its sample data)
// and the output device for it; the dialog calls it after a run of
// process_track that succeeded. 0; or a failed reopen's code (-7 cannot be
// opened, -2 not a WAV file with sample data, -5 cannot be read), with the
// failure in result_text. A device that refuses is told by its own box.
int open_preview(const char* name);
// Reopens the preview file only (the end of a playback rewinds it so).
// 0 or the codes of open_preview; a preview that cannot play is closed.
int reopen_preview(const char* name);
// The preview's wave-output completion routine: it runs on the sound
// device's thread and only hands each played buffer to the dialog.
void playback_done_callback(void* device, unsigned message, uintptr_t instance, uintptr_t p1, uintptr_t p2);

// Opens the wave-output device for the preview in `record` (a device opened
// by an earlier run is stopped and closed first). 0, or -1: no format could
// be suggested (no message), or the device refused ("WaveIn Error" box).
int open_wave_out(PlaybackRecord* record, wave_callback completion);
// Play's set-up: sizes, buffers and view rows, the view timer, and the first
// playback buffer filled from the start of track_in. The first buffer's
// next block index (>= 0); -1 when it cannot be filled or the preview holds
// no sound; PLAYBACK_NO_MEMORY.
int32_t start_playback();
// The end of Play: writes the first buffer to the device and prepares the
// second. A buffer the device refuses ends the playback as its end does.
void begin_playback();
void on_playback_done(wave_header* header);   // MSG_PLAYBACK_DONE
void on_playback_refill();                    // MSG_PLAYBACK_REFILL
// Stops a playback under way (Close track, Fade In, Exit, a new device):
// the timer killed, the device reset and running again, Record and Play
// enabled, Pause disabled and reading "Pause". Nothing happens when no
// playback runs and none is paused.
void stop_playback();
// MSG_PREVIEW_FRAME: writes `number` at status_number_pos of preview_status
// and shows the line in the status line. Returns 1.
msg_result on_preview_frame(window dialog, wparam number);
void restart_play_timer();                    // Pause's Restart: play_period again
void kill_play_timer();                       // waits for a running call; play_timer := 0

// Appends blocks of track_in from block `first` into `buffer` while the
// fill index is below blocks_queued, with their view rows from rows_cursor
// on, and prepares `header` for what was appended. The next block's index,
// or -1 when the track cannot be read and no device is open.
int16_t fill_playback_buffer(int16_t first, uint8_t* buffer, wave_header* header);
// The view rows of the block in the read buffer `in` (at most one block of
// frames): one row per five frames. Returns the rows written; puts
// view_cursor back to the first point.
int32_t compute_view_rows(const riff_info* in, int16_t* rows);
// The view timer's routine; `user` is the PlaybackRecord of the preview.
void show_play_position(uintptr_t id, unsigned message, uintptr_t user, uintptr_t, uintptr_t);
// Copies `count` rows into the y of the points from `points` on. 0; -1 at
// a row outside the view (top and bottom rows included); -2 past the end
// of view_rows or of the point table.
int copy_view_rows(point* points, const int16_t* rows, int32_t count);
