// Primary screen size from the X display named by $DISPLAY.
#include <X11/Xlib.h>

#include <cstdlib>

#include "engine/screen_metrics.h"

ScreenSize primary_screen_size() {
    // The connection stays open for the life of the process. Closing it could
    // leave the X server without clients, and a server that resets then (Xvfb
    // does by default) loses the capturer's connection made right after it.
    static Display* const d = XOpenDisplay(nullptr);
    ScreenSize s;
    if (!d) return s;
    const int screen = DefaultScreen(d);
    s.width = DisplayWidth(d, screen);
    s.height = DisplayHeight(d, screen);
    return s;
}

std::string screen_unavailable_reason() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return "DISPLAY is not set";
    return std::string("cannot open X display ") + name;
}
