// Overlay plates: rendered once per key (text, font pixels, opacity, colour)
// into translucent canvases, then composed into every frame; the clock's plate changes
// once a second, the name's only when its settings do.
#include "video/overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "video/local_time.h"
#include "video/painter.h"

namespace {

const uint32_t k_scheme_rgb[5] = {0xFFFFFF, 0xFFD60A, 0x3CDC6E, 0xFF5A50, 0x78C8FF};
const double k_size_factor[3] = {0.02, 0.026, 0.034};

struct Plate {
    std::string key;
    std::unique_ptr<Canvas> image;  // translucent, null when no plate could be made
    int width = 0;
    int height = 0;
};

Plate g_name_plate;
Plate g_clock_plate;

std::mutex g_rect_lock;
OverlayRect g_rects[2];
int g_rect_count = 0;

void drop(Plate& p) {
    p = Plate{};
}

// Renders one plate; leaves p.image null when the plate would be too small or
// drawing failed.
void render_plate(Plate& p, const std::string& text, double f, int opacity, int scheme) {
    TextBox box = measure_text(text, f, true);
    int pw = static_cast<int>(f * 1.4 + box.width);
    int ph = static_cast<int>(f * 1.9);
    if (pw < 8 || ph < 8) return;
    std::unique_ptr<Canvas> img = Canvas::make(pw, ph, PixelLayout::bgra_premul);
    if (!img->ok()) return;
    int o = std::clamp(opacity, 25, 100);
    img->fill_rounded_rect(0, 0, pw, ph, 0.28 * ph, {0x0A0E18, (o * 150 / 100) / 255.0});
    img->draw_text(text, f, true, (pw - box.width) * 0.5, (ph - box.height) * 0.5,
                   {k_scheme_rgb[std::clamp(scheme, 0, 4)], (o * 255 / 100) / 255.0});
    img->flush();
    if (!img->ok()) return;
    p.image = std::move(img);
    p.width = pw;
    p.height = ph;
}

// The plate for these settings, from the cache or freshly rendered.
const Plate& plate_for(Plate& p, const std::string& text, double f, int opacity, int scheme) {
    char tail[64];
    std::snprintf(tail, sizeof tail, "|%d|%d|%d", static_cast<int>(f), opacity, scheme);
    static std::string key;  // reused: the clock's key is rebuilt every frame
    key.assign(text).append(tail);
    if (key != p.key || (!p.image && p.key.empty())) {
        drop(p);
        p.key = key;
        render_plate(p, text, f, opacity, scheme);
    }
    return p;
}

int corner_x(int pos, int W, int m, int pw) {
    return (pos == 0 || pos == 2) ? m : W - m - pw;
}
int corner_y(int pos, int H, int m, int ph) {
    return (pos == 0 || pos == 1) ? m : H - m - ph;
}
bool top_corner(int pos) {
    return pos == 0 || pos == 1;
}

double font_px(int H, int size) {
    return std::max(11.0, H * k_size_factor[std::clamp(size, 0, 2)]);
}

// The canvas over the frame buffer, kept while the capturer hands us the same
// buffer (it reuses one per screen size), so a frame allocates nothing.
struct Target {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::unique_ptr<Canvas> canvas;
};
Target g_target;

void drop_target() {
    g_target = Target{};
}

Canvas* target_for(uint8_t* px, int W, int H) {
    if (g_target.canvas && g_target.pixels == px && g_target.width == W && g_target.height == H) {
        g_target.canvas->pixels_changed();  // the grab rewrote the pixels
        return g_target.canvas.get();
    }
    drop_target();
    std::unique_ptr<Canvas> canvas = Canvas::over(px, W, H, PixelLayout::bgrx);
    if (!canvas->ok()) return nullptr;
    g_target = Target{px, W, H, std::move(canvas)};
    return g_target.canvas.get();
}

void publish(const OverlayRect* rects, int n) {
    std::lock_guard<std::mutex> lock(g_rect_lock);
    for (int i = 0; i < n; ++i) g_rects[i] = rects[i];
    g_rect_count = n;
}

// Numeric value of 1 to 9 decimal digits, else -1.
long lenient_number(const std::map<std::string, std::string>& cfg, const char* key) {
    auto it = cfg.find(key);
    if (it == cfg.end()) return -1;
    const std::string& v = it->second;
    if (v.empty() || v.size() > 9) return -1;
    long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

bool lenient_flag(const std::map<std::string, std::string>& cfg, const char* key, bool def) {
    long n = lenient_number(cfg, key);
    return n < 0 ? def : n != 0;
}

int lenient_int(const std::map<std::string, std::string>& cfg, const char* key, int def, int lo,
                int hi) {
    long n = lenient_number(cfg, key);
    return (n >= lo && n <= hi) ? static_cast<int>(n) : def;
}

// Text of 1..max bytes without control bytes or the five XML-special characters.
bool lenient_text(const std::map<std::string, std::string>& cfg, const char* key, size_t max_len,
                  std::string& out) {
    auto it = cfg.find(key);
    if (it == cfg.end()) return false;
    std::string v = it->second;
    size_t b = v.find_first_not_of(" \t");
    size_t e = v.find_last_not_of(" \t");
    v = (b == std::string::npos) ? std::string() : v.substr(b, e - b + 1);
    if (v.empty() || v.size() > max_len) return false;
    for (unsigned char c : v) {
        if (c < 0x20 || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>') return false;
    }
    out = v;
    return true;
}

}  // namespace

OverlaySettings read_overlay_settings(const std::map<std::string, std::string>& cfg) {
    OverlaySettings s;
    s.name_on = lenient_flag(cfg, "osd_name", true);
    s.name_pos = lenient_int(cfg, "osd_name_pos", 3, 0, 3);
    s.name_opacity = lenient_int(cfg, "osd_name_op", 70, 25, 100);
    s.name_color = lenient_int(cfg, "osd_name_color", 0, 0, 4);
    s.name_size = lenient_int(cfg, "osd_name_size", 1, 0, 2);
    s.clock_on = lenient_flag(cfg, "osd_clock", true);
    s.clock_pos = lenient_int(cfg, "osd_clock_pos", 1, 0, 3);
    s.clock_opacity = lenient_int(cfg, "osd_clock_op", 70, 25, 100);
    s.clock_color = lenient_int(cfg, "osd_clock_color", 0, 0, 4);
    s.clock_size = lenient_int(cfg, "osd_clock_size", 1, 0, 2);
    std::string text = "Vistrel";
    lenient_text(cfg, "device_name", 32, text);
    lenient_text(cfg, "osd_name_text", 96, text);
    s.name_text = text;
    return s;
}

bool read_show_cursor(const std::map<std::string, std::string>& cfg) {
    return lenient_flag(cfg, "show_cursor", false);
}

namespace {

// The plates placed by the last overlay_prepare, composed by overlay_compose.
struct Placed {
    const Plate* plate = nullptr;
    int x = 0, y = 0;
};
Placed g_placed[2];
int g_placed_count = 0;
uint64_t g_generation = 0;  // plates re-rendered so far

}  // namespace

int overlay_prepare(int W, int H, const OverlaySettings& s, OverlayRect* out) {
    g_placed_count = 0;
    if ((!s.name_on && !s.clock_on) || W < 64 || H < 64) {
        publish(nullptr, 0);
        return 0;
    }
    const int m = std::max(8, std::min(W, H) * 15 / 1000);
    OverlayRect rects[2];
    int n = 0;
    auto place = [&](const Plate& p, int x, int y) {
        g_placed[n] = Placed{&p, x, y};
        // A plate wider than a small picture is clipped; so is its rectangle,
        // which consumers use to index the frame.
        rects[n++] = OverlayRect{std::max(0, x), std::max(0, y), std::min(W, x + p.width),
                                 std::min(H, y + p.height)};
    };
    auto cached = [&](Plate& slot, const std::string& text, double f, int op,
                      int color) -> const Plate& {
        std::string before = slot.key;
        const Plate& p = plate_for(slot, text, f, op, color);
        if (p.key != before) ++g_generation;
        return p;
    };

    const Plate* name = nullptr;
    if (s.name_on && !s.name_text.empty()) {
        const Plate& p = cached(g_name_plate, s.name_text, font_px(H, s.name_size), s.name_opacity,
                                s.name_color);
        if (p.image) {
            place(p, corner_x(s.name_pos, W, m, p.width), corner_y(s.name_pos, H, m, p.height));
            name = &p;
        }
    }
    std::tm tm{};
    if (s.clock_on && local_time_now(tm)) {
        char text[64];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u  %02u:%02u:%02u",
                      unsigned(tm.tm_year + 1900), unsigned(tm.tm_mon + 1), unsigned(tm.tm_mday),
                      unsigned(tm.tm_hour), unsigned(tm.tm_min), unsigned(tm.tm_sec));
        const Plate& p =
            cached(g_clock_plate, text, font_px(H, s.clock_size), s.clock_opacity, s.clock_color);
        if (p.image) {
            int x = corner_x(s.clock_pos, W, m, p.width);
            int y = corner_y(s.clock_pos, H, m, p.height);
            if (name && s.name_pos == s.clock_pos)
                y += top_corner(s.clock_pos) ? name->height + 6 : -(name->height + 6);
            place(p, x, y);
        }
    }
    g_placed_count = n;
    publish(rects, n);
    for (int i = 0; i < n && out; ++i) out[i] = rects[i];
    return n;
}

void overlay_compose(uint8_t* bgrx, int W, int H) {
    if (!bgrx || g_placed_count == 0) return;
    Canvas* frame = target_for(bgrx, W, H);
    if (!frame) return;
    for (int i = 0; i < g_placed_count; ++i)
        frame->draw_canvas(*g_placed[i].plate->image, g_placed[i].x, g_placed[i].y);
    frame->flush();
}

uint64_t overlay_generation() {
    return g_generation;
}

void draw_overlays(uint8_t* bgrx, int W, int H, const OverlaySettings& s) {
    if (!bgrx) {
        g_placed_count = 0;
        publish(nullptr, 0);
        return;
    }
    overlay_prepare(W, H, s, nullptr);
    overlay_compose(bgrx, W, H);
}

int overlay_rectangles(OverlayRect* out, int max) {
    std::lock_guard<std::mutex> lock(g_rect_lock);
    int n = std::min(std::max(max, 0), g_rect_count);
    for (int i = 0; i < n; ++i) out[i] = g_rects[i];
    return n;
}

void scale_nearest(const uint8_t* src, int src_w, int src_h, uint8_t* dst, int dst_w, int dst_h) {
    if (!src || !dst || src_w < 1 || src_h < 1 || dst_w < 1 || dst_h < 1) return;
    for (int y = 0; y < dst_h; ++y) {
        const uint8_t* s =
            src + static_cast<size_t>(static_cast<long long>(y) * src_h / dst_h) * src_w * 4;
        uint8_t* d = dst + static_cast<size_t>(y) * dst_w * 4;
        for (int x = 0; x < dst_w; ++x) {
            const uint8_t* p =
                s + static_cast<size_t>(static_cast<long long>(x) * src_w / dst_w) * 4;
            std::memcpy(d + static_cast<size_t>(x) * 4, p, 4);
        }
    }
}

bool scale_nearest_area(const uint8_t* src, int src_w, int src_h, uint8_t* dst, int dst_w,
                        int dst_h, const PixelRect& area) {
    if (!src || !dst || src_w < 1 || src_h < 1 || dst_w < 1 || dst_h < 1) return false;
    const PixelRect a = clip_rect(area, dst_w, dst_h);
    bool changed = false;
    for (int y = a.top; y < a.bottom; ++y) {
        const uint8_t* s =
            src + static_cast<size_t>(static_cast<long long>(y) * src_h / dst_h) * src_w * 4;
        uint8_t* d = dst + static_cast<size_t>(y) * dst_w * 4;
        for (int x = a.left; x < a.right; ++x) {
            uint32_t v, old;
            std::memcpy(&v, s + static_cast<size_t>(static_cast<long long>(x) * src_w / dst_w) * 4,
                        4);
            std::memcpy(&old, d + static_cast<size_t>(x) * 4, 4);
            if (v != old) {
                changed = true;
                std::memcpy(d + static_cast<size_t>(x) * 4, &v, 4);
            }
        }
    }
    return changed;
}

PixelRect scaled_area(const PixelRect& r, int src_w, int src_h, int dst_w, int dst_h) {
    if (src_w < 1 || src_h < 1) return PixelRect{};
    // Destination pixel x shows source column x * src_w / dst_w: the columns
    // landing in [left, right) are ceil(left * dst_w / src_w) up to ceil(right * ...).
    auto up = [](long long a, long long b) { return static_cast<int>((a + b - 1) / b); };
    PixelRect d{up(1LL * r.left * dst_w, src_w), up(1LL * r.top * dst_h, src_h),
                up(1LL * r.right * dst_w, src_w), up(1LL * r.bottom * dst_h, src_h)};
    return clip_rect(d, dst_w, dst_h);
}

void reset_overlays_for_tests() {
    drop_target();
    drop(g_name_plate);
    drop(g_clock_plate);
    g_placed_count = 0;
    publish(nullptr, 0);
}
