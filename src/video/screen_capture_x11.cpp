// X11 grab of the root window of the default screen on $DISPLAY: MIT-SHM
// (XShmGetImage) when the server offers it, XGetSubImage into our own buffer
// otherwise; the pointer comes from XFixes. Both paths reuse one buffer per
// screen size, so a frame allocates nothing of ours. With MIT-SHM and the
// DAMAGE extension the buffer is kept as a mirror of the screen and only the
// areas the server reports as changed are read again.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <cstring>
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
    bool xdamage = false;
    // Damage tracking (MIT-SHM only): the changed areas are read into a
    // scratch image and copied into the mirror where they really differ.
    Damage damage = 0;
    XserverRegion region = 0;
    XShmSegmentInfo scratch_shm{};
    XImage* scratch = nullptr;
    XFixesCursorImage* cursor = nullptr;  // fetched by capture_pointer_rect
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
    int major = 0, minor = 0;
    p.xdamage = p.xfixes && XFixesQueryVersion(p.dpy, &major, &minor) && major >= 2 &&
                XDamageQueryExtension(p.dpy, &ev, &err);
    return true;
}

bool bgrx_layout(const XImage* img, int width) {
    return img->bits_per_pixel == 32 && img->byte_order == LSBFirst && img->red_mask == 0xFF0000 &&
           img->green_mask == 0xFF00 && img->blue_mask == 0xFF && img->bytes_per_line == width * 4;
}

XImage* make_shm_image(ScreenCapturer::Platform& p, Visual* visual, int depth,
                       XShmSegmentInfo& shm) {
    XImage* img = XShmCreateImage(p.dpy, visual, depth, ZPixmap, nullptr, &shm, p.width, p.height);
    if (!img) return nullptr;
    if (!bgrx_layout(img, p.width)) {
        XDestroyImage(img);
        return nullptr;
    }
    shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img->bytes_per_line) * img->height,
                       IPC_CREAT | 0600);
    if (shm.shmid < 0) {
        XDestroyImage(img);
        return nullptr;
    }
    shm.shmaddr = img->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    if (shm.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(shm.shmid, IPC_RMID, nullptr);
        img->data = nullptr;
        XDestroyImage(img);
        return nullptr;
    }
    shm.readOnly = False;
    int errors = g_x_errors.load();
    Bool attached = XShmAttach(p.dpy, &shm);
    XSync(p.dpy, False);
    // Marked for removal now: the segment goes away with the last detach,
    // even if the process dies.
    shmctl(shm.shmid, IPC_RMID, nullptr);
    if (!attached || g_x_errors.load() != errors) {
        shmdt(shm.shmaddr);
        img->data = nullptr;
        XDestroyImage(img);
        return nullptr;
    }
    return img;
}

void drop_shm_image(ScreenCapturer::Platform& p, XImage*& img, XShmSegmentInfo& shm) {
    if (!img) return;
    XShmDetach(p.dpy, &shm);
    XSync(p.dpy, False);
    shmdt(shm.shmaddr);
    img->data = nullptr;
    XDestroyImage(img);
    img = nullptr;
}

bool setup_shm(ScreenCapturer::Platform& p, Visual* visual, int depth) {
    if (!XShmQueryExtension(p.dpy)) return false;
    p.image = make_shm_image(p, visual, depth, p.shm);
    if (!p.image) return false;
    p.use_shm = true;
    return true;
}

// Damage object and scratch image; without them the capturer reads whole frames.
void setup_damage(ScreenCapturer::Platform& p, Visual* visual, int depth) {
    if (!p.use_shm || !p.xdamage) return;
    p.scratch = make_shm_image(p, visual, depth, p.scratch_shm);
    if (!p.scratch) return;
    int errors = g_x_errors.load();
    p.damage = XDamageCreate(p.dpy, p.root, XDamageReportNonEmpty);
    p.region = XFixesCreateRegion(p.dpy, nullptr, 0);
    XSync(p.dpy, False);
    if (g_x_errors.load() != errors) {
        if (p.damage) XDamageDestroy(p.dpy, p.damage);
        if (p.region) XFixesDestroyRegion(p.dpy, p.region);
        p.damage = 0;
        p.region = 0;
        drop_shm_image(p, p.scratch, p.scratch_shm);
    }
}

size_t offset_of(const ScreenCapturer::Platform& p, int x, int y) {
    return (static_cast<size_t>(y) * p.width + x) * 4;
}

// Reads r from the screen into the scratch image (packed at stride r width).
bool read_area(ScreenCapturer::Platform& p, const PixelRect& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    p.scratch->width = w;
    p.scratch->height = h;
    p.scratch->bytes_per_line = w * 4;
    int errors = g_x_errors.load();
    return XShmGetImage(p.dpy, p.root, p.scratch, r.left, r.top, AllPlanes) &&
           g_x_errors.load() == errors;
}

// Copies the rows of the scratch image that differ into the mirror; adds the
// band of differing rows to changed.
void merge_area(ScreenCapturer::Platform& p, const PixelRect& r, std::vector<PixelRect>& changed) {
    const size_t row = static_cast<size_t>(r.right - r.left) * 4;
    const uint8_t* src = reinterpret_cast<const uint8_t*>(p.scratch->data);
    uint8_t* px = reinterpret_cast<uint8_t*>(p.image->data);
    int first = -1, last = -1;
    for (int y = r.top; y < r.bottom; ++y, src += row) {
        uint8_t* dst = px + offset_of(p, r.left, y);
        if (std::memcmp(dst, src, row) == 0) continue;
        std::memcpy(dst, src, row);
        if (first < 0) first = y;
        last = y;
    }
    if (first >= 0) changed.push_back(PixelRect{r.left, first, r.right, last + 1});
}

// The whole screen into the scratch image, compared with the mirror in tiles:
// catches anything the damage reports missed.
bool reread_all(ScreenCapturer::Platform& p, std::vector<PixelRect>& changed) {
    PixelRect all{0, 0, p.width, p.height};
    if (!read_area(p, all)) return false;
    constexpr int k_tile = 64;
    for (int ty = 0; ty < p.height; ty += k_tile) {
        const int th = std::min(k_tile, p.height - ty);
        for (int tx = 0; tx < p.width; tx += k_tile) {
            const int tw = std::min(k_tile, p.width - tx);
            bool differs = false;
            for (int y = ty; y < ty + th && !differs; ++y)
                differs = std::memcmp(p.image->data + offset_of(p, tx, y),
                                      p.scratch->data + offset_of(p, tx, y), size_t(tw) * 4) != 0;
            if (!differs) continue;
            for (int y = ty; y < ty + th; ++y)
                std::memcpy(p.image->data + offset_of(p, tx, y),
                            p.scratch->data + offset_of(p, tx, y), size_t(tw) * 4);
            PixelRect t{tx, ty, tx + tw, ty + th};
            // Neighbouring changed tiles of a row make one rectangle.
            if (!changed.empty() && changed.back().top == t.top &&
                changed.back().bottom == t.bottom && changed.back().right == t.left)
                changed.back().right = t.right;
            else
                changed.push_back(t);
        }
    }
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

// X11 reports physical pixels; nothing is scaled behind our back.
bool capture_make_dpi_aware(ScreenCapturer::Platform&) {
    return true;
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
    setup_damage(p, visual, depth);
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

PixelRect capture_pointer_rect(ScreenCapturer::Platform& p, uint64_t& signature) {
    if (p.cursor) XFree(p.cursor);
    p.cursor = nullptr;
    if (!p.xfixes || !p.dpy) return PixelRect{};
    p.cursor = XFixesGetCursorImage(p.dpy);
    if (!p.cursor) return PixelRect{};
    const XFixesCursorImage* c = p.cursor;
    const int x0 = c->x - c->xhot, y0 = c->y - c->yhot;
    signature = (uint64_t(c->cursor_serial) << 32) ^ (uint64_t(uint16_t(x0)) << 16) ^ uint16_t(y0);
    return PixelRect{x0, y0, x0 + c->width, y0 + c->height};
}

void capture_draw_pointer(ScreenCapturer::Platform& p, uint8_t* pixels, int width, int height) {
    if (!p.cursor) {
        uint64_t ignored = 0;
        capture_pointer_rect(p, ignored);
    }
    XFixesCursorImage* cur = p.cursor;
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
    p.cursor = nullptr;
}

bool capture_damage_ready(const ScreenCapturer::Platform& p) {
    return p.ready && p.damage && p.scratch;
}

uint8_t* capture_pixels(ScreenCapturer::Platform& p) {
    return p.ready ? reinterpret_cast<uint8_t*>(p.image->data) : nullptr;
}

uint8_t* capture_grab_damage(ScreenCapturer::Platform& p, bool full,
                             std::vector<PixelRect>& changed, bool& all) {
    all = false;
    if (!capture_damage_ready(p)) return nullptr;
    // The notifications only say "something changed"; the region says where.
    while (XPending(p.dpy)) {
        XEvent ev;
        XNextEvent(p.dpy, &ev);
    }
    int errors = g_x_errors.load();
    XDamageSubtract(p.dpy, p.damage, None, p.region);
    int n = 0;
    XRectangle* xr = XFixesFetchRegion(p.dpy, p.region, &n);
    if (g_x_errors.load() != errors) {
        if (xr) XFree(xr);
        return nullptr;
    }
    std::vector<PixelRect> areas;
    areas.reserve(size_t(std::max(n, 0)));
    long long total = 0;
    for (int i = 0; i < n; ++i) {
        PixelRect r = clip_rect(
            PixelRect{xr[i].x, xr[i].y, xr[i].x + int(xr[i].width), xr[i].y + int(xr[i].height)},
            p.width, p.height);
        if (r.empty()) continue;
        total += r.area();
        areas.push_back(r);
    }
    if (xr) XFree(xr);
    const long long screen = 1LL * p.width * p.height;
    if (areas.size() > 64) {  // many small pieces: one read of their bounds
        areas.assign(1, bounding_rect(areas));
        total = areas[0].area();
    }
    if (full && total * 2 < screen) return reread_all(p, changed) ? capture_pixels(p) : nullptr;
    if (full || total * 2 >= screen) {
        // Most of the screen changed: read it whole, straight into the mirror.
        if (!XShmGetImage(p.dpy, p.root, p.image, 0, 0, AllPlanes) || g_x_errors.load() != errors)
            return nullptr;
        all = true;
        return capture_pixels(p);
    }
    for (const PixelRect& r : areas) {
        if (!read_area(p, r)) return nullptr;
        merge_area(p, r, changed);
    }
    return capture_pixels(p);
}

void capture_teardown(ScreenCapturer::Platform& p) {
    if (p.damage) XDamageDestroy(p.dpy, p.damage);
    if (p.region) XFixesDestroyRegion(p.dpy, p.region);
    p.damage = 0;
    p.region = 0;
    drop_shm_image(p, p.scratch, p.scratch_shm);
    if (p.cursor) XFree(p.cursor);
    p.cursor = nullptr;
    if (p.image) {
        if (p.use_shm) {
            drop_shm_image(p, p.image, p.shm);
        } else {
            p.image->data = nullptr;  // the pixels are our own buffer
            XDestroyImage(p.image);
            p.image = nullptr;
        }
    }
    p.use_shm = false;
    p.ready = false;
    p.own.clear();
    p.own.shrink_to_fit();
}
