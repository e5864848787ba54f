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
    rect wave_view_rect = {0, 0, 0, 0};  // client pixels; set_view_geometry
    int16_t view_height = 0;             // pixels; set_view_geometry
    int16_t view_width = 0;              // pixels; set_view_geometry
    uint16_t view_scale = 0;             // 65535 / view_height (level units a pixel); set_view_geometry
    rect dial_rect = {0, 0, 0, 0};       // client pixels; set_view_geometry
    point bar_origin = {0, 0};           // start of the left bar (x0, y0), client pixels; set_bar_geometry
    uint16_t bar_full_scale = 300;       // bar length of a full level (pixels); set_bar_geometry
    uint8_t hub_counter = 0;             // dial hub blink counter (draws); draw_level_dial
    point* view_points = nullptr;        // the wave view's (x, y) points (pixels); process_track, freed by release_resources
    int32_t view_points_count = 0;       // points allocated; process_track
    int32_t view_cursor = 0;             // index of the next point a producer fills; the passes, the preview
    int16_t view_count = 0;              // points written since the last drawing; the DeClicker
    // The cleaning run's picture: the newest points the passes handed over,
    // oldest first, x on the view's columns; it lies in view_points' block,
    // after its view_points_count points, and goes with it.
    point* view_picture = nullptr;         // the picture's points (pixels); process_track, freed with view_points
    int16_t view_picture_size = 0;       // its points (the view's columns when made); process_track
    int16_t view_picture_count = 0;      // points of the picture filled; the wave view sink
};
