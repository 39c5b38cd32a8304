// The ONVIF snapshot: the primary screen (pointer included when `show_cursor`
// is on, no overlay plates) scaled to the main stream's size and encoded as a
// quality-80 JPEG with libjpeg-turbo. Safe from any thread (one capturer,
// serialised by its own mutex).
#pragma once

#include <string>

// JPEG bytes, or empty when the size is invalid or the screen cannot be read.
std::string onvif_snapshot(int width, int height);
// BGRX picture (stride width * 4) to JPEG; empty on failure.
std::string encode_jpeg_bgrx(const unsigned char* bgrx, int width, int height, int quality);
