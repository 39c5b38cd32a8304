// The windowing-system half of ScreenCapturer, one implementation per
// platform (screen_capture_x11.cpp on Linux). Engine thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "video/screen_capture.h"

// Makes the calling thread see the screen in physical pixels (per-monitor
// DPI awareness where the system scales); false when it cannot, and then a
// scaled screen may be grabbed cropped.
bool capture_make_dpi_aware(ScreenCapturer::Platform& p);
// Current size of the primary screen; false when there is no usable screen.
bool capture_screen_size(ScreenCapturer::Platform& p, int& width, int& height);
// Makes the grab buffers for width x height; false when they cannot be made.
bool capture_setup(ScreenCapturer::Platform& p, int width, int height);
// Grabs the screen; returns the top-down BGRX pixels (stride width * 4),
// owned by the platform side, or null on failure or when not set up.
uint8_t* capture_grab(ScreenCapturer::Platform& p);
bool capture_ready(const ScreenCapturer::Platform& p);
// Draws the pointer (hot spot on the pointed pixel) into the grabbed pixels:
// the one capture_pointer_rect fetched, else the current one.
void capture_draw_pointer(ScreenCapturer::Platform& p, uint8_t* pixels, int width, int height);
// Fetches the current pointer; returns where it will be drawn (empty when
// hidden) and a signature that changes with its shape and position.
PixelRect capture_pointer_rect(ScreenCapturer::Platform& p, uint64_t& signature);

// Change tracking: true when the windowing system reports changed areas.
bool capture_damage_ready(const ScreenCapturer::Platform& p);
// The grab buffer as it stands (the mirror of the screen between grabs).
uint8_t* capture_pixels(ScreenCapturer::Platform& p);
// Brings the mirror up to date: reads only the areas reported changed since
// the last call and lists those whose pixels really differ; with `full`, or
// when most of the screen changed, reads everything (all = true when the
// whole screen must count as changed). Null on failure.
uint8_t* capture_grab_damage(ScreenCapturer::Platform& p, bool full,
                             std::vector<PixelRect>& changed, bool& all);
// Frees everything capture_setup made (idempotent).
void capture_teardown(ScreenCapturer::Platform& p);
