// Primary screen size from the X display named by $DISPLAY.
#include <X11/Xlib.h>

#include "engine/screen_metrics.h"

ScreenSize primary_screen_size() {
    ScreenSize s;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return s;
    const int screen = DefaultScreen(d);
    s.width = DisplayWidth(d, screen);
    s.height = DisplayHeight(d, screen);
    XCloseDisplay(d);
    return s;
}
