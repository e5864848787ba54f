// The names of the track files: derived from the capture file's name by
// Change..., then numbered by the counter that starts at track_digit_pos.
#pragma once

// track_name and track_digit_pos from capture_file_name. 0, or -1 when the
// name would not fit track_name (127 characters); nothing changes then.
int derive_track_name();
// One on, after a take or a pass. A digit at track_digit_pos starts a whole
// number: 9 becomes 10 (track10.wav), so no take lands on an earlier one.
// Any other character there compares as a signed 8-bit code: letters count
// as past "9" and become "0", codes of 128 and above as before "0".
void advance_track_counter();
// One back, for a pass on the last track recorded: 10 becomes 9; 0 and
// characters below "0" stay.
void step_back_track_counter();
