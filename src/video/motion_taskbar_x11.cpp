// Taskbar rectangle on X11: the window manager publishes the usable area of the
// current desktop as _NET_WORKAREA on the root window; what the panels and docks
// reserve at one edge of the screen (their struts) is what lies outside it.
// Without a window manager the property is missing and the taskbar is unknown.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "video/motion_detector.h"
#include "video/motion_taskbar.h"

namespace {

// Only the distribution thread calls in, so one connection kept open is enough.
Display* taskbar_display() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

bool read_cardinals(Display* d, Window w, const char* name, long* out, int want, long offset = 0) {
    Atom prop = XInternAtom(d, name, True);
    if (prop == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, prop, offset, want, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) != Success)
        return false;
    bool ok = type == XA_CARDINAL && format == 32 && count >= unsigned(want) && data;
    if (ok) {
        const long* values = reinterpret_cast<const long*>(data);  // format 32 comes as long
        for (int i = 0; i < want; ++i) out[i] = values[i];
    }
    if (data) XFree(data);
    return ok;
}

}  // namespace

bool motion_query_taskbar(MotionRect* rect) {
    Display* d = taskbar_display();
    if (!d || !rect) return false;
    Window root = DefaultRootWindow(d);
    const long sw = DisplayWidth(d, DefaultScreen(d));
    const long sh = DisplayHeight(d, DefaultScreen(d));

    long desktop = 0;
    if (!read_cardinals(d, root, "_NET_CURRENT_DESKTOP", &desktop, 1)) desktop = 0;
    long area[4];
    if (!read_cardinals(d, root, "_NET_WORKAREA", area, 4, desktop * 4) &&
        !read_cardinals(d, root, "_NET_WORKAREA", area, 4))
        return false;
    const long x = area[0], y = area[1], w = area[2], h = area[3];
    if (w <= 0 || h <= 0) return false;

    // The widest reserved edge is the taskbar.
    MotionRect best;
    long best_size = 0;
    auto consider = [&](long l, long t, long r, long b) {
        long size = (r - l) * (b - t);
        if (r > l && b > t && size > best_size) {
            best_size = size;
            best = MotionRect{int32_t(l), int32_t(t), int32_t(r), int32_t(b)};
        }
    };
    consider(0, 0, sw, y);       // top
    consider(0, y + h, sw, sh);  // bottom
    consider(0, 0, x, sh);       // left
    consider(x + w, 0, sw, sh);  // right
    if (best_size == 0) return false;
    *rect = best;
    return true;
}
