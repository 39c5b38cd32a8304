// The badge's rules and picture: alpha, colours, lines, placement, drawing.
#include "ui/stream_badge.h"

#include <cairo.h>

#include <algorithm>

#include "video/text_painter.h"

BadgeAlpha badge_alpha(int opacity) {
    const int op = std::clamp(opacity, 25, 100);
    BadgeAlpha a;
    a.background = 2 * op;
    a.text = op * 255 / 100;
    a.second = a.text * 3 / 4;
    return a;
}

uint32_t badge_dot_colour(int colour) {
    static const uint32_t k[] = {0xFFFFFF, 0xFFD60A, 0x3CDC6E, 0xFF5A50, 0x78C8FF};
    return k[std::clamp(colour, 0, 4)];
}

int badge_title_px(int size) {
    static const int k[] = {12, 15, 19};
    return k[std::clamp(size, 0, 2)];
}

BadgeLines badge_lines(const std::string& custom_text) {
    BadgeLines l;
    if (!custom_text.empty()) {
        l.title = "\u25CF  " + custom_text;
    } else {
        l.title = "\u25CF  Screen is being streamed";
        l.second = "يتم بث الشاشة الآن";
    }
    return l;
}

BadgePoint badge_position(const WorkArea& a, int corner, int width, int height) {
    BadgePoint p;
    p.x = (corner == 0 || corner == 2) ? a.x + 14 : a.x + a.width - 14 - width;
    p.y = (corner == 0 || corner == 1) ? a.y + 14 : a.y + a.height - 14 - height;
    return p;
}

cairo_surface_t* render_badge(const BadgeSettings& s) {
    const BadgeLines lines = badge_lines(s.text);
    const double px = badge_title_px(s.size);
    const BadgeAlpha alpha = badge_alpha(s.opacity);

    cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* m = cairo_create(probe);
    const TextBox title = measure_text(m, lines.title, px, true);
    TextBox second;
    if (!lines.second.empty()) second = measure_text(m, lines.second, px * 0.8, false);
    cairo_destroy(m);
    cairo_surface_destroy(probe);

    const int width = static_cast<int>(std::max(title.width, second.width) + 36);
    const int height = static_cast<int>(title.height + second.height + 22);
    cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surf);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);

    rounded_rect(cr, 0, 0, width, height, 0.3 * height);
    set_rgb(cr, 0x0E121E, alpha.background / 255.0);
    cairo_fill(cr);

    set_rgb(cr, 0xFFFFFF, alpha.text / 255.0);
    draw_text(cr, lines.title, px, true, 18, 8);
    // The dot covers the circle character in the chosen colour.
    const double d = 0.72 * px;
    set_rgb(cr, badge_dot_colour(s.colour), alpha.text / 255.0);
    cairo_arc(cr, 18 + d / 2, title.height * 0.28 + 8 + d / 2, d / 2, 0, 6.283185307);
    cairo_fill(cr);

    if (!lines.second.empty()) {
        set_rgb(cr, 0xD2DAEB, alpha.second / 255.0);
        const double x = 18 + (width - 36) - second.width;  // right-aligned
        draw_text(cr, lines.second, px * 0.8, false, x, title.height + 10);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surf);
    return surf;
}
