// The local streaming-warning badge: a small always-on-top badge in a corner of
// the work area, shown while at least one viewer plays the stream. It takes no
// focus and lets the mouse through. Armed once; runs on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The badge picture is a cairo surface; only the Linux files draw it.
typedef struct _cairo_surface cairo_surface_t;

struct BadgeSettings {
    int corner = 1;    // 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right
    int opacity = 80;  // percent, 25..100
    int colour = 3;    // dot colour index 0..4
    int size = 1;      // title size index 0..2
    std::string text;  // custom title; empty for the default two lines
};

struct BadgeAlpha {
    int background = 0;  // the rounded box, 2 x opacity
    int text = 0;        // title and dot, opacity x 255 / 100
    int second = 0;      // second line, three quarters of text
};

struct BadgeLines {
    std::string title;
    std::string second;  // empty with a custom text
};

struct WorkArea {
    int x = 0, y = 0, width = 0, height = 0;
};

struct BadgePoint {
    int x = 0, y = 0;
};

BadgeAlpha badge_alpha(int opacity);
uint32_t badge_dot_colour(int colour);
int badge_title_px(int size);
BadgeLines badge_lines(const std::string& custom_text);
// Top-left of a width x height badge, 14 px inside the given corner.
BadgePoint badge_position(const WorkArea& area, int corner, int width, int height);
// The badge picture (ARGB32, premultiplied); the caller destroys it.
cairo_surface_t* render_badge(const BadgeSettings& s);

// Starts the badge thread once; later calls do nothing. The viewer source
// returns the number of playing viewers. Returns true when armed by this call.
bool arm_stream_badge(const BadgeSettings& s, std::function<int()> viewers);
