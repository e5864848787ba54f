// The drawn displays: the wave view, the level bars and the level dial, with
// their pens, brushes, geometry and the mapping of samples to view rows.
#pragma once
#include <cstdint>
#include "platform/window/window.h"

// Set-up while the main dialog initialises, in this order.
void create_display_pens();                   // bar pens and the blue view pen
void set_view_geometry(window dialog);        // dial_rect, wave_view_rect, view sizes and scale
void create_display_brushes();
void set_bar_geometry(window dialog);         // bar_origin, bar_full_scale

void draw_wave_view(int16_t count, const point* points, gdi pen);
void draw_level_bars(int32_t left, int32_t right, int32_t old_left, int32_t old_right);
void draw_level_dial(dc d, int32_t left, int32_t right);
uint16_t sample_to_view_row(int16_t value);
uint16_t level_to_view_row(const int16_t* values, int16_t n);
