// The names of the track files: derived from the capture file's name by
// Change..., then numbered by the one counter character in track_name.
#pragma once

// track_name and track_digit_pos from capture_file_name. 0, or -1 when the
// name would not fit track_name (127 characters); nothing changes then.
int derive_track_name();
// The counter character: "0".."9" and round again after a take or a pass.
// Characters compare as signed 8-bit codes, so letters count as past "9"
// and codes of 128 and above as before "0".
void advance_track_counter();
// One back, for a pass on the last track recorded; "0" and below stay.
void step_back_track_counter();
