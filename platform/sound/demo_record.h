// The demo record: one side of an LP made in code, with lead-in groove,
// songs separated by quiet grooves, hiss and clicks; 44.1 kHz 16-bit stereo.
//
// Threads: a demo_record belongs to one thread; the song table is constant.
#pragma once
#include <cstdint>

constexpr uint32_t DEMO_RATE = 44100;
constexpr int DEMO_CHANNELS = 2;

// One song on the side: frames [first_frame, end_frame). Outside the songs
// there is only groove noise, hiss and clicks.
struct demo_song {
    uint32_t first_frame;
    uint32_t end_frame;
};
int demo_song_count();
demo_song demo_song_at(int index);      // 0 <= index < demo_song_count()
uint32_t demo_total_frames();           // the whole side, lead-out included

// Renders the side from its first frame on, always the same samples
// whatever the sizes of the pieces asked for.
struct demo_record;
demo_record* demo_record_open();        // null only when memory runs out
// Writes the next min(frames, frames left) frames (interleaved left, right)
// and returns that count; 0 at the end of the side.
uint32_t demo_record_render(demo_record* record, int16_t* out, uint32_t frames);
// Moves on min(frames, frames left) without rendering them, much faster than
// rendering; what is rendered after is the same as without the skip.
uint32_t demo_record_skip(demo_record* record, uint64_t frames);
uint32_t demo_record_position(const demo_record* record);   // frames rendered or skipped
// Back to the first frame, exactly as just opened: the side plays again.
void demo_record_rewind(demo_record* record);
void demo_record_close(demo_record* record);
