// Picture overlays: the camera-name and clock plates drawn into the captured
// frame (so every stream, the motion detector and the snapshot see them), the
// rectangles where they were drawn, and the nearest-neighbour scaler used for
// the main and sub pictures. Drawing, the plate cache and the scaler run on the
// engine thread only; the published rectangles have their own mutex.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "video/pixel_rect.h"

struct OverlaySettings {
    bool name_on = true;
    int name_pos = 3;                   // 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right
    int name_opacity = 70;              // 25..100
    int name_color = 0;                 // 0 white, 1 yellow, 2 green, 3 red, 4 light blue
    int name_size = 1;                  // 0 small, 1 medium, 2 large
    std::string name_text = "Vistrel";  // UTF-8
    bool clock_on = true;
    int clock_pos = 1;
    int clock_opacity = 70;
    int clock_color = 0;
    int clock_size = 1;

    bool operator==(const OverlaySettings&) const = default;
};

// Lenient reader for live updates: anything missing or invalid gives the
// field's default, without a warning. Takes the parsed settings file (an
// ordered key -> value map).
OverlaySettings read_overlay_settings(const std::map<std::string, std::string>& cfg);
// `show_cursor` read the same lenient way (default off).
bool read_show_cursor(const std::map<std::string, std::string>& cfg);

// Draws the enabled plates into a top-down BGRX picture of width x height
// (stride width * 4) and publishes their rectangles. Pictures below 64 pixels
// in either direction get nothing (and publish no rectangles).
void draw_overlays(uint8_t* bgrx, int width, int height, const OverlaySettings& settings);

// Rectangle of a plate drawn in the last frame; right and bottom exclusive.
struct OverlayRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// The two halves of draw_overlays, for a capturer that keeps the pixels under
// the plates: overlay_prepare renders the plates when their key changed,
// places them, publishes their rectangles and copies them to out (room for 2);
// overlay_compose draws what the last prepare placed.
int overlay_prepare(int width, int height, const OverlaySettings& settings, OverlayRect* out);
void overlay_compose(uint8_t* bgrx, int width, int height);
// Grows by one whenever a plate is re-rendered (the clock: once a second).
uint64_t overlay_generation();
// Copies at most `max` rectangles of the last frame (name first); returns the count.
int overlay_rectangles(OverlayRect* out, int max);

// BGRX nearest-neighbour scaler; strides src_w * 4 and dst_w * 4.
void scale_nearest(const uint8_t* src, int src_w, int src_h, uint8_t* dst, int dst_w, int dst_h);

// Scales only the destination pixels inside area; true when any of them
// changed value.
bool scale_nearest_area(const uint8_t* src, int src_w, int src_h, uint8_t* dst, int dst_w,
                        int dst_h, const PixelRect& area);
// The destination pixels of scale_nearest that show source pixels of r.
PixelRect scaled_area(const PixelRect& r, int src_w, int src_h, int dst_w, int dst_h);

// Drops the cached plates and the published rectangles (tests only).
void reset_overlays_for_tests();
