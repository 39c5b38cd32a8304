// The "Stream paused" picture encoded while streaming is paused, painted at
// any stream size, and the --dump-screens renderer that writes it as PNGs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Paints the paused picture into a top-down BGRX buffer of width x height
// (stride width * 4). Empty on failure or a non-positive size.
std::vector<uint8_t> paint_paused_picture(int width, int height);

// Writes dump_paused_16x9.png (1280x720), dump_paused_4x3.png (1024x768),
// dump_paused_5x4.png (1280x1024) and dump_paused_1080p.png (1920x1080) into
// dir. False when any could not be written.
bool dump_screens(const std::string& dir);

// Writes a top-down BGRX picture as an opaque PNG. False on failure.
bool write_png(const std::string& path, const uint8_t* bgrx, int width, int height);
