// X11 grab of the root window of the default screen on $DISPLAY: MIT-SHM
// (XShmGetImage) when the server offers it, XGetSubImage into our own buffer
// otherwise; the pointer comes from XFixes. Both paths reuse one buffer per
// screen size, so a frame allocates nothing of ours.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "engine/log.h"
#include "video/screen_capture_platform.h"

struct ScreenCapturer::Platform {
    Display* dpy = nullptr;
    Window root = 0;
    int width = 0;
    int height = 0;
    bool ready = false;
    bool use_shm = false;
    XShmSegmentInfo shm{};
    XImage* image = nullptr;
    std::vector<uint8_t> own;  // pixels of the XGetSubImage path
    bool xfixes = false;
};

namespace {

std::atomic<int> g_x_errors{0};

// Xlib's default handler ends the process; a failed grab (for example while
// the screen shrinks) must only fail that frame.
int on_x_error(Display*, XErrorEvent*) {
    g_x_errors.fetch_add(1);
    return 0;
}

void x_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(on_x_error);
    });
}

bool connect(ScreenCapturer::Platform& p) {
    if (p.dpy) return true;
    x_once();
    p.dpy = XOpenDisplay(nullptr);
    if (!p.dpy) return false;
    p.root = DefaultRootWindow(p.dpy);
    int ev = 0, err = 0;
    p.xfixes = XFixesQueryExtension(p.dpy, &ev, &err);
    return true;
}

bool bgrx_layout(const XImage* img, int width) {
    return img->bits_per_pixel == 32 && img->byte_order == LSBFirst && img->red_mask == 0xFF0000 &&
           img->green_mask == 0xFF00 && img->blue_mask == 0xFF && img->bytes_per_line == width * 4;
}

bool setup_shm(ScreenCapturer::Platform& p, Visual* visual, int depth) {
    if (!XShmQueryExtension(p.dpy)) return false;
    XImage* img =
        XShmCreateImage(p.dpy, visual, depth, ZPixmap, nullptr, &p.shm, p.width, p.height);
    if (!img) return false;
    if (!bgrx_layout(img, p.width)) {
        XDestroyImage(img);
        return false;
    }
    p.shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img->bytes_per_line) * img->height,
                         IPC_CREAT | 0600);
    if (p.shm.shmid < 0) {
        XDestroyImage(img);
        return false;
    }
    p.shm.shmaddr = img->data = static_cast<char*>(shmat(p.shm.shmid, nullptr, 0));
    if (p.shm.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(p.shm.shmid, IPC_RMID, nullptr);
        img->data = nullptr;
        XDestroyImage(img);
        return false;
    }
    p.shm.readOnly = False;
    int errors = g_x_errors.load();
    Bool attached = XShmAttach(p.dpy, &p.shm);
    XSync(p.dpy, False);
    // Marked for removal now: the segment goes away with the last detach,
    // even if the process dies.
    shmctl(p.shm.shmid, IPC_RMID, nullptr);
    if (!attached || g_x_errors.load() != errors) {
        shmdt(p.shm.shmaddr);
        img->data = nullptr;
        XDestroyImage(img);
        return false;
    }
    p.image = img;
    p.use_shm = true;
    return true;
}

bool setup_plain(ScreenCapturer::Platform& p, Visual* visual, int depth) {
    p.own.assign(static_cast<size_t>(p.width) * p.height * 4, 0);
    XImage* img =
        XCreateImage(p.dpy, visual, depth, ZPixmap, 0, reinterpret_cast<char*>(p.own.data()),
                     p.width, p.height, 32, p.width * 4);
    if (!img) return false;
    if (!bgrx_layout(img, p.width)) {
        img->data = nullptr;
        XDestroyImage(img);
        return false;
    }
    p.image = img;
    return true;
}

}  // namespace

ScreenCapturer::ScreenCapturer() : platform_(std::make_unique<Platform>()) {}

ScreenCapturer::~ScreenCapturer() {
    release();
    if (platform_->dpy) XCloseDisplay(platform_->dpy);
}

bool capture_screen_size(ScreenCapturer::Platform& p, int& width, int& height) {
    if (!connect(p)) return false;
    Window root_ret;
    int x, y;
    unsigned w = 0, h = 0, border, depth;
    int errors = g_x_errors.load();
    if (!XGetGeometry(p.dpy, p.root, &root_ret, &x, &y, &w, &h, &border, &depth) ||
        g_x_errors.load() != errors)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool capture_setup(ScreenCapturer::Platform& p, int width, int height) {
    capture_teardown(p);
    if (!connect(p)) return false;
    p.width = width;
    p.height = height;
    int screen = DefaultScreen(p.dpy);
    Visual* visual = DefaultVisual(p.dpy, screen);
    int depth = DefaultDepth(p.dpy, screen);
    if (!setup_shm(p, visual, depth) && !setup_plain(p, visual, depth)) {
        engine_log("Capture: screen format not supported (depth %d)\n", depth);
        return false;
    }
    p.ready = true;
    return true;
}

bool capture_ready(const ScreenCapturer::Platform& p) {
    return p.ready;
}

uint8_t* capture_grab(ScreenCapturer::Platform& p) {
    if (!p.ready) return nullptr;
    int errors = g_x_errors.load();
    if (p.use_shm) {
        if (!XShmGetImage(p.dpy, p.root, p.image, 0, 0, AllPlanes) || g_x_errors.load() != errors)
            return nullptr;
    } else {
        if (!XGetSubImage(p.dpy, p.root, 0, 0, p.width, p.height, AllPlanes, ZPixmap, p.image, 0,
                          0) ||
            g_x_errors.load() != errors)
            return nullptr;
    }
    return reinterpret_cast<uint8_t*>(p.image->data);
}

void capture_draw_pointer(ScreenCapturer::Platform& p, uint8_t* pixels, int width, int height) {
    if (!p.xfixes || !p.dpy) return;
    XFixesCursorImage* cur = XFixesGetCursorImage(p.dpy);
    if (!cur) return;
    const int x0 = cur->x - cur->xhot;
    const int y0 = cur->y - cur->yhot;
    for (int cy = 0; cy < cur->height; ++cy) {
        int y = y0 + cy;
        if (y < 0 || y >= height) continue;
        for (int cx = 0; cx < cur->width; ++cx) {
            int x = x0 + cx;
            if (x < 0 || x >= width) continue;
            // Premultiplied ARGB in the low 32 bits of each unsigned long.
            uint32_t s = static_cast<uint32_t>(cur->pixels[cy * cur->width + cx]);
            uint32_t a = s >> 24;
            if (a == 0) continue;
            uint8_t* d = pixels + (static_cast<size_t>(y) * width + x) * 4;
            const uint32_t inv = 255 - a;
            d[0] = static_cast<uint8_t>(
                std::min<uint32_t>(255, (s & 0xFF) + (d[0] * inv + 127) / 255));
            d[1] = static_cast<uint8_t>(
                std::min<uint32_t>(255, ((s >> 8) & 0xFF) + (d[1] * inv + 127) / 255));
            d[2] = static_cast<uint8_t>(
                std::min<uint32_t>(255, ((s >> 16) & 0xFF) + (d[2] * inv + 127) / 255));
        }
    }
    XFree(cur);
}

void capture_teardown(ScreenCapturer::Platform& p) {
    if (p.image) {
        if (p.use_shm) {
            XShmDetach(p.dpy, &p.shm);
            XSync(p.dpy, False);
            shmdt(p.shm.shmaddr);
        }
        p.image->data = nullptr;  // the pixels are ours (shm segment or own)
        XDestroyImage(p.image);
        p.image = nullptr;
    }
    p.use_shm = false;
    p.ready = false;
    p.own.clear();
    p.own.shrink_to_fit();
}
