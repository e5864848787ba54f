// Playback of the cleaned preview: the output device, the two playback
// buffers, their refill and the timer that follows the sound in the view.
#pragma once
#include <cstdint>
#include "app/app_state.h"

int open_wave_out(PlaybackRecord* record, wave_callback completion);
int32_t start_playback();            // >= 0 when the first buffer is filled
void on_playback_done(wave_header* header);   // CMD_PLAYBACK_DONE
void on_playback_refill();                    // CMD_PLAYBACK_REFILL
void restart_play_timer();                    // Pause's Restart
void kill_play_timer();
