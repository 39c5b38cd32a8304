// The web panel's preview picture: the whole primary screen as a quality-55
// JPEG, or, while streaming is paused, a plain "stream paused" picture of the
// same size. Safe from any thread: one capturer serialised by its own mutex
// (separate from the ONVIF snapshot's, so neither waits for the other).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int k_web_snapshot_quality = 55;

// JPEG bytes; empty on failure (no screen, encoder error).
std::string web_snapshot();
// The paused picture at width x height, top-down BGRX; empty on a bad size.
std::vector<uint8_t> paint_web_paused_picture(int width, int height);
