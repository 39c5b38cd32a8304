// The welcome picture: title, a short explanation and the camera's addresses,
// drawn with pango on cairo so Arabic joins and reads right to left. The
// welcome window shows it; --dump-welcome writes it as PNG files.
#include <pango/pangocairo.h>

#include "engine/ui_strings.h"
#include "ui/desktop.h"
#include "ui/ui_internal.h"
#include "video/text_painter.h"

namespace {

constexpr int k_width = 720;

// Lays out a wrapped paragraph at y and returns its height.
int paragraph(cairo_t* cr, const std::string& text, double px, bool bold, bool arabic, int y,
              bool draw) {
    PangoLayout* l = pango_cairo_create_layout(cr);
    PangoFontDescription* f =
        pango_font_description_from_string("Segoe UI, Noto Sans, DejaVu Sans");
    pango_font_description_set_absolute_size(f, px * PANGO_SCALE);
    pango_font_description_set_weight(f, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(l, f);
    pango_layout_set_width(l, (k_width - 80) * PANGO_SCALE);
    pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_auto_dir(l, FALSE);
    pango_context_set_base_dir(pango_layout_get_context(l),
                               arabic ? PANGO_DIRECTION_RTL : PANGO_DIRECTION_LTR);
    pango_layout_context_changed(l);
    pango_layout_set_alignment(l, arabic ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT);
    pango_layout_set_text(l, text.c_str(), -1);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(l, &w, &h);
    if (draw) {
        cairo_move_to(cr, 40, y);
        pango_cairo_show_layout(cr, l);
    }
    pango_font_description_free(f);
    g_object_unref(l);
    return h;
}

int draw_all(cairo_t* cr, const WelcomeValues& v, bool ar, bool draw) {
    const std::string lrm = "\u200E";
    auto latin = [&](const std::string& s) { return ar ? lrm + s + lrm : s; };
    int y = 96;
    if (draw) {
        cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, 80);
        cairo_pattern_add_color_stop_rgb(g, 0, 0.10, 0.20, 0.40);
        cairo_pattern_add_color_stop_rgb(g, 1, 0.05, 0.10, 0.25);
        cairo_rectangle(cr, 0, 0, k_width, 80);
        cairo_set_source(cr, g);
        cairo_fill(cr);
        cairo_pattern_destroy(g);
        set_rgb(cr, 0xFFFFFF);
    }
    paragraph(cr, ui_text("welcome_title", ar), 26, true, ar, 22, draw);
    if (draw) set_rgb(cr, 0x202530);
    y += paragraph(cr, ui_text("welcome_body", ar), 16, false, ar, y, draw) + 18;
    const std::string rows[][2] = {
        {ui_text("rtsp_main", ar),
         "rtsp://" + v.address + ":" + std::to_string(v.rtsp_port) + "/" + v.stream},
        {ui_text("onvif_link", ar),
         "http://" + v.address + ":" + std::to_string(v.onvif_port) + "/onvif/device_service"},
        {ui_text("web_link", ar), "http://" + v.address + ":" + std::to_string(v.web_port) + "/"},
    };
    for (int i = 0; i < (v.web_on ? 3 : 2); ++i) {
        if (draw) set_rgb(cr, 0x505a6e);
        y += paragraph(cr, rows[i][0], 14, true, ar, y, draw) + 2;
        if (draw) set_rgb(cr, 0x1040a0);
        y += paragraph(cr, latin(rows[i][1]), 17, false, ar, y, draw) + 12;
    }
    return y + 20;
}

}  // namespace

cairo_surface_t* render_welcome(const WelcomeValues& v, bool arabic) {
    cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, k_width, 10);
    cairo_t* m = cairo_create(probe);
    const int height = draw_all(m, v, arabic, false);
    cairo_destroy(m);
    cairo_surface_destroy(probe);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, k_width, height);
    cairo_t* cr = cairo_create(s);
    set_rgb(cr, 0xF4F6FA);
    cairo_paint(cr);
    draw_all(cr, v, arabic, true);
    cairo_destroy(cr);
    return s;
}

bool write_welcome_png(const WelcomeValues& v, bool arabic, const std::string& path) {
    cairo_surface_t* s = render_welcome(v, arabic);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}
