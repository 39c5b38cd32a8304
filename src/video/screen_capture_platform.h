// The windowing-system half of ScreenCapturer, one implementation per
// platform (screen_capture_x11.cpp on Linux). Engine thread only.
#pragma once

#include <cstdint>

#include "video/screen_capture.h"

// Current size of the primary screen; false when there is no usable screen.
bool capture_screen_size(ScreenCapturer::Platform& p, int& width, int& height);
// Makes the grab buffers for width x height; false when they cannot be made.
bool capture_setup(ScreenCapturer::Platform& p, int width, int height);
// Grabs the screen; returns the top-down BGRX pixels (stride width * 4),
// owned by the platform side, or null on failure or when not set up.
uint8_t* capture_grab(ScreenCapturer::Platform& p);
bool capture_ready(const ScreenCapturer::Platform& p);
// Draws the pointer (hot spot on the pointed pixel) into the grabbed pixels.
void capture_draw_pointer(ScreenCapturer::Platform& p, uint8_t* pixels, int width, int height);
// Frees everything capture_setup made (idempotent).
void capture_teardown(ScreenCapturer::Platform& p);
