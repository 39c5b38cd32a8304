// Primary screen size from the X display named by $DISPLAY.
#include "engine/screen_metrics.h"

#include <X11/Xlib.h>

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
