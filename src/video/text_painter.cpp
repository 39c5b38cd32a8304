#include "video/text_painter.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <numbers>

namespace {

const char* const k_families = "Segoe UI,Noto Sans,Noto Sans Arabic,DejaVu Sans";

PangoLayout* make_layout(cairo_t* cr, const std::string& text, double px, bool bold) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), fo);
    cairo_font_options_destroy(fo);
    pango_layout_context_changed(layout);
    PangoFontDescription* fd = pango_font_description_new();
    pango_font_description_set_family(fd, k_families);
    pango_font_description_set_weight(fd, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(fd, px * PANGO_SCALE);
    pango_layout_set_font_description(layout, fd);
    pango_font_description_free(fd);
    // Settings files may carry text that is not UTF-8 (for example Latin-1);
    // pango would warn and drop it, so show replacement characters instead.
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    } else {
        gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
        pango_layout_set_text(layout, valid, -1);
        g_free(valid);
    }
    return layout;
}

TextBox extents(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE,
            static_cast<double>(logical.height) / PANGO_SCALE};
}

}  // namespace

TextBox measure_text(cairo_t* cr, const std::string& text, double px, bool bold) {
    PangoLayout* layout = make_layout(cr, text, px, bold);
    TextBox box = extents(layout);
    g_object_unref(layout);
    return box;
}

void draw_text(cairo_t* cr, const std::string& text, double px, bool bold, double x, double y) {
    PangoLayout* layout = make_layout(cr, text, px, bold);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

void draw_text_centred(cairo_t* cr, const std::string& text, double px, bool bold, double width,
                       double y) {
    PangoLayout* layout = make_layout(cr, text, px, bold);
    TextBox box = extents(layout);
    cairo_move_to(cr, (width - box.width) * 0.5, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its font caches for the life of the process by design;
// without this every sanitizer build would report them as leaks at exit.
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
extern "C" __attribute__((weak, used)) const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif

void set_rgb(cairo_t* cr, uint32_t rgb, double alpha) {
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                          (rgb & 0xFF) / 255.0, alpha);
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min(r, std::min(w, h) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -std::numbers::pi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, std::numbers::pi / 2);
    cairo_arc(cr, x + r, y + h - r, r, std::numbers::pi / 2, std::numbers::pi);
    cairo_arc(cr, x + r, y + r, r, std::numbers::pi, 3 * std::numbers::pi / 2);
    cairo_close_path(cr);
}
