// The "Stream paused" picture: dark blue gradient with a soft glow, the logo,
// two pause bars and the bilingual notice, laid out relative to a 1280x720
// design (scale s = min(W/1280, H/720)).
#include "video/paused_picture.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <numbers>

#include "video/logo_data.h"
#include "video/text_painter.h"

namespace {

constexpr double k_pi = std::numbers::pi;

struct PngReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

cairo_status_t read_png(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->size - r->pos < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
    return CAIRO_STATUS_SUCCESS;
}

void draw_logo(cairo_t* cr, double W, double H, double s) {
    PngReader reader{k_logo_png, k_logo_png_size, 0};
    cairo_surface_t* logo = cairo_image_surface_create_from_png_stream(read_png, &reader);
    if (cairo_surface_status(logo) == CAIRO_STATUS_SUCCESS) {
        double lw = cairo_image_surface_get_width(logo);
        double scale = 300 * s / lw;
        cairo_save(cr);
        cairo_translate(cr, (W - 300 * s) / 2, 0.14 * H);
        cairo_scale(cr, scale, scale);
        cairo_set_source_surface(cr, logo, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_surface_destroy(logo);
}

void paint(cairo_t* cr, double W, double H) {
    const double s = std::min(W / 1280.0, H / 720.0);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);

    cairo_pattern_t* bg = cairo_pattern_create_linear(0, 0, W, 0);
    cairo_pattern_add_color_stop_rgb(bg, 0, 0x0A / 255.0, 0x14 / 255.0, 0x30 / 255.0);
    cairo_pattern_add_color_stop_rgb(bg, 1, 0x08 / 255.0, 0x24 / 255.0, 0x3A / 255.0);
    cairo_set_source(cr, bg);
    cairo_paint(cr);
    cairo_pattern_destroy(bg);

    // Glow: a radial gradient on the unit circle, stretched to the ellipse.
    cairo_save(cr);
    cairo_translate(cr, W / 2, 0.4 * H);
    cairo_scale(cr, 0.45 * W, 0.5 * H);
    cairo_pattern_t* glow = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
    cairo_pattern_add_color_stop_rgba(glow, 0, 0x2B / 255.0, 0x78 / 255.0, 0xFF / 255.0,
                                      0x5F / 255.0);
    cairo_pattern_add_color_stop_rgba(glow, 1, 0x2B / 255.0, 0x78 / 255.0, 0xFF / 255.0, 0);
    cairo_arc(cr, 0, 0, 1, 0, 2 * k_pi);
    cairo_set_source(cr, glow);
    cairo_fill(cr);
    cairo_pattern_destroy(glow);
    cairo_restore(cr);

    draw_logo(cr, W, H, s);

    set_rgb(cr, 0x7FB4FF);
    rounded_rect(cr, W / 2 - 6 * s - 11 * s, 0.535 * H, 11 * s, 36 * s, 3 * s);
    rounded_rect(cr, W / 2 + 6 * s, 0.535 * H, 11 * s, 36 * s, 3 * s);
    cairo_fill(cr);

    set_rgb(cr, 0xEAF1FF);
    draw_text_centred(cr, "البث متوقّف مؤقتًا", 46 * s, true, W, 0.605 * H);
    set_rgb(cr, 0xBCD0F2);
    draw_text_centred(cr, "Stream paused", 26 * s, false, W, 0.705 * H);
    set_rgb(cr, 0x9FB3D8);
    draw_text_centred(cr, "سيستأنف البث تلقائيًا عند إعادة التشغيل من لوحة التحكم", 17 * s, false, W,
                      0.78 * H);
    set_rgb(cr, 0xEAF1FF, 0xEB / 255.0);
    draw_text(cr, "Vistrel", 18 * s, true, 0.02 * W, 0.03 * H);
    set_rgb(cr, 0x96AAD2, 0xCD / 255.0);
    draw_text_centred(cr, "Vistrel - your screen as a network camera", 15 * s, false, W, 0.93 * H);
}

}  // namespace

std::vector<uint8_t> paint_paused_picture(int width, int height) {
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return {};
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4, 0);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(px.data(), CAIRO_FORMAT_RGB24,
                                                                   width, height, width * 4);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return {};
    }
    cairo_t* cr = cairo_create(surface);
    paint(cr, width, height);
    bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    if (!ok) return {};
    return px;
}

bool write_png(const std::string& path, const uint8_t* bgrx, int width, int height) {
    if (!bgrx || width < 1 || height < 1) return false;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        const_cast<uint8_t*>(bgrx), CAIRO_FORMAT_RGB24, width, height, width * 4);
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
              cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

bool dump_screens(const std::string& dir) {
    struct Shot {
        int w, h;
        const char* name;
    };
    const Shot shots[] = {{1280, 720, "dump_paused_16x9.png"},
                          {1024, 768, "dump_paused_4x3.png"},
                          {1280, 1024, "dump_paused_5x4.png"},
                          {1920, 1080, "dump_paused_1080p.png"}};
    bool all = true;
    for (const Shot& shot : shots) {
        std::vector<uint8_t> px = paint_paused_picture(shot.w, shot.h);
        std::string path = dir.empty() ? shot.name : dir + "/" + shot.name;
        if (px.empty() || !write_png(path, px.data(), shot.w, shot.h)) all = false;
    }
    return all;
}
