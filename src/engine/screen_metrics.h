// Size of the primary screen in pixels (X11 display on Linux); 0x0 when there
// is no display.
#pragma once

#include <string>

struct ScreenSize {
    int width = 0;
    int height = 0;
};

ScreenSize primary_screen_size();
// Why there is no screen ("DISPLAY is not set", "cannot open X display :5").
std::string screen_unavailable_reason();
