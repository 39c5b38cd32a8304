// The badge window on X11: an override-redirect window (no focus, no window
// manager frame, kept above) with a 32-bit visual so that a compositor blends it,
// and an empty input shape so that the mouse passes through. Placed from the
// root window's _NET_WORKAREA. Its own display connection on its own thread.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <cairo-xlib.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "engine/clock.h"
#include "engine/log.h"
#include "ui/stream_badge.h"

namespace {

std::atomic<bool> g_armed{false};

WorkArea work_area(Display* d) {
    const Window root = DefaultRootWindow(d);
    WorkArea a{0, 0, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom prop = XInternAtom(d, "_NET_WORKAREA", False);
    if (XGetWindowProperty(d, root, prop, 0, 4, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data && format == 32 && n >= 4) {
        const long* v = reinterpret_cast<const long*>(data);
        if (v[2] > 0 && v[3] > 0) a = {int(v[0]), int(v[1]), int(v[2]), int(v[3])};
    }
    if (data) XFree(data);
    return a;
}

struct BadgeWindow {
    Display* d = nullptr;
    Window w = 0;
    Visual* visual = nullptr;
    cairo_surface_t* picture = nullptr;
    int width = 1, height = 1;
    WorkArea placed;

    bool create() {
        d = XOpenDisplay(nullptr);
        if (!d) return false;
        const int screen = DefaultScreen(d);
        const Window root = RootWindow(d, screen);
        XVisualInfo vi{};
        XSetWindowAttributes at{};
        unsigned long mask = CWOverrideRedirect | CWBorderPixel | CWBackPixel;
        int depth = DefaultDepth(d, screen);
        visual = DefaultVisual(d, screen);
        if (XMatchVisualInfo(d, screen, 32, TrueColor, &vi)) {
            visual = vi.visual;
            depth = 32;
            at.colormap = XCreateColormap(d, root, visual, AllocNone);
            mask |= CWColormap;
        }
        at.override_redirect = True;
        w = XCreateWindow(d, root, 0, 0, 1, 1, 0, depth, InputOutput, visual, mask, &at);
        if (!w) return false;
        XStoreName(d, w, "zeb streaming warning");
        // Empty input shape: clicks reach whatever is below.
        XShapeCombineRectangles(d, w, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
        XSelectInput(d, w, ExposureMask);
        return true;
    }

    void paint() {
        if (!picture) return;
        cairo_surface_t* s = cairo_xlib_surface_create(d, w, visual, width, height);
        cairo_t* cr = cairo_create(s);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, picture, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        XFlush(d);
    }

    // Draws the picture once; later calls only follow a changed work area.
    void draw(const BadgeSettings& s) {
        const WorkArea area = work_area(d);
        if (picture && area.x == placed.x && area.y == placed.y && area.width == placed.width &&
            area.height == placed.height)
            return;
        placed = area;
        if (!picture) {
            picture = render_badge(s);
            width = cairo_image_surface_get_width(picture);
            height = cairo_image_surface_get_height(picture);
        }
        const BadgePoint p = badge_position(area, s.corner, width, height);
        XMoveResizeWindow(d, w, p.x, p.y, unsigned(width), unsigned(height));
        XRaiseWindow(d, w);
        paint();
    }

    void pump() {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == Expose && e.xexpose.count == 0) paint();
        }
    }
};

void badge_thread(BadgeSettings s, std::function<int()> viewers) {
    BadgeWindow win;
    const bool ok = win.create();
    bool shown = false;
    uint64_t drawn_at = 0;
    for (;;) {
        if (ok) {
            pollfd p{ConnectionNumber(win.d), POLLIN, 0};
            poll(&p, 1, 500);
            win.pump();
        } else {
            poll(nullptr, 0, 500);
        }
        const int n = viewers();
        if (n > 0 && !shown) {
            if (ok) {
                win.placed = {};  // place it afresh each time it is shown
                win.draw(s);
                XMapRaised(win.d, win.w);
                XFlush(win.d);
            }
            drawn_at = tick_ms();
            shown = true;
            engine_log("OSD: streaming warning shown (viewers=%d)\n", n);
        } else if (n > 0 && ok && tick_ms() - drawn_at > 5000) {
            win.draw(s);  // follows changes of the work area
            drawn_at = tick_ms();
        } else if (n <= 0 && shown) {
            if (ok) {
                XUnmapWindow(win.d, win.w);
                XFlush(win.d);
            }
            shown = false;
            engine_log("OSD: streaming warning hidden\n");
        }
    }
}

}  // namespace

bool arm_stream_badge(const BadgeSettings& s, std::function<int()> viewers) {
    if (g_armed.exchange(true)) return false;
    std::thread(badge_thread, s, std::move(viewers)).detach();
    return true;
}
