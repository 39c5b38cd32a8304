// Size of the primary screen in pixels (X11 display on Linux); 0x0 when there
// is no display.
#pragma once

struct ScreenSize {
    int width = 0;
    int height = 0;
};

ScreenSize primary_screen_size();
