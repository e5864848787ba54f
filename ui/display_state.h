// The displays' part of the state record: the geometry of the wave view,
// level bars and dial, and the wave view's points.
//
// Writers: the geometry, set_view_geometry and set_bar_geometry while the
// dialog initialises; the points, the cleaning passes and the preview's
// timer (under the view lock, playback.cpp); the picture, the cleaning
// driver. app_state_reset resets it.
#pragma once
#include <cstdint>
#include "platform/window/window.h"

struct DisplayState {
    rect wave_view_rect = {0, 0, 0, 0};  // client pixels
    int16_t view_height = 0;
    int16_t view_width = 0;
    uint16_t view_scale = 0;             // 65535 / view_height
    rect dial_rect = {0, 0, 0, 0};
    point bar_origin = {0, 0};           // start of the left bar (x0, y0)
    uint16_t bar_full_scale = 300;       // bar length of a full level (pixels)
    uint8_t hub_counter = 0;             // dial hub blink counter
    point* view_points = nullptr;        // the wave view's (x, y) points
    int32_t view_points_count = 0;       // points allocated
    int32_t view_cursor = 0;             // index of the next point a producer fills
    int16_t view_count = 0;              // points written since the last drawing
    // The cleaning run's picture: the newest points the passes handed over,
    // oldest first, x on the view's columns; it lies in view_points' block,
    // after its view_points_count points, and goes with it.
    point* view_picture = nullptr;
    int16_t view_picture_size = 0;       // its points (the view's columns when made)
    int16_t view_picture_count = 0;      // points of the picture filled
};
