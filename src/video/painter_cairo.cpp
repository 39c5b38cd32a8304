// The painter on cairo image surfaces; text through pango (see text_painter.h).
// cairo's ARGB32 and RGB24 formats are the BGRA and BGRX byte orders on the
// little-endian machines we build for.
#include <cairo.h>

#include <cstring>
#include <numbers>

#include "video/painter.h"
#include "video/text_painter.h"

namespace {

cairo_format_t format_of(PixelLayout layout) {
    return layout == PixelLayout::bgrx ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
}

void set_color(cairo_t* cr, PaintColor c) {
    set_rgb(cr, c.rgb, c.alpha);
}

void add_stop(cairo_pattern_t* p, double offset, PaintColor c) {
    cairo_pattern_add_color_stop_rgba(p, offset, ((c.rgb >> 16) & 0xFF) / 255.0,
                                      ((c.rgb >> 8) & 0xFF) / 255.0, (c.rgb & 0xFF) / 255.0,
                                      c.alpha);
}

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

struct PngReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

cairo_status_t read_bytes(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->size - r->pos < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
    return CAIRO_STATUS_SUCCESS;
}

class CairoCanvas final : public Canvas {
  public:
    // Takes the surface (null or failed: a canvas that is not ok()).
    CairoCanvas(cairo_surface_t* surface, int width, int height, PixelLayout layout)
        : Canvas(width, height, layout), surface_(surface) {
        if (surface_ && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS) {
            cr_ = cairo_create(surface_);
            cairo_set_antialias(cr_, CAIRO_ANTIALIAS_GRAY);
        }
    }
    ~CairoCanvas() override {
        if (cr_) cairo_destroy(cr_);
        if (surface_) cairo_surface_destroy(surface_);
    }

    bool ok() const override { return cr_ && cairo_status(cr_) == CAIRO_STATUS_SUCCESS; }
    uint8_t* pixels() override {
        flush();
        return surface_ ? cairo_image_surface_get_data(surface_) : nullptr;
    }
    void pixels_changed() override {
        if (surface_) cairo_surface_mark_dirty(surface_);
    }
    void flush() override {
        if (surface_) cairo_surface_flush(surface_);
    }

    void fill(PaintColor c) override {
        if (!cr_) return;
        set_color(cr_, c);
        cairo_paint(cr_);
    }

    void fill_rounded_rect(double x, double y, double w, double h, double r,
                           PaintColor c) override {
        if (!cr_) return;
        rounded_rect(cr_, x, y, w, h, r);
        set_color(cr_, c);
        cairo_fill(cr_);
    }

    void fill_linear_gradient(double x0, double y0, double x1, double y1, PaintColor from,
                              PaintColor to) override {
        if (!cr_) return;
        cairo_pattern_t* p = cairo_pattern_create_linear(x0, y0, x1, y1);
        add_stop(p, 0, from);
        add_stop(p, 1, to);
        cairo_set_source(cr_, p);
        cairo_paint(cr_);
        cairo_pattern_destroy(p);
    }

    void fill_radial_ellipse(double cx, double cy, double rx, double ry, PaintColor centre,
                             PaintColor edge) override {
        if (!cr_ || rx <= 0 || ry <= 0) return;
        // A radial gradient on the unit circle, stretched to the ellipse.
        cairo_save(cr_);
        cairo_translate(cr_, cx, cy);
        cairo_scale(cr_, rx, ry);
        cairo_pattern_t* p = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
        add_stop(p, 0, centre);
        add_stop(p, 1, edge);
        cairo_arc(cr_, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_set_source(cr_, p);
        cairo_fill(cr_);
        cairo_pattern_destroy(p);
        cairo_restore(cr_);
    }

    void draw_text(const std::string& text, double px, bool bold, double x, double y,
                   PaintColor c) override {
        if (!cr_) return;
        set_color(cr_, c);
        ::draw_text(cr_, text, px, bold, x, y);
    }

    void draw_canvas(Canvas& src, double x, double y, double scale) override {
        auto* s = dynamic_cast<CairoCanvas*>(&src);
        // No flush of the source: cairo reads its own pending drawing.
        if (!cr_ || !s || !s->surface_ || scale <= 0) return;
        if (scale == 1.0) {
            cairo_set_source_surface(cr_, s->surface_, x, y);
            cairo_paint(cr_);
            return;
        }
        cairo_save(cr_);
        cairo_translate(cr_, x, y);
        cairo_scale(cr_, scale, scale);
        cairo_set_source_surface(cr_, s->surface_, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }

    std::string encode_png() override {
        std::string out;
        if (!surface_ || cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return out;
        flush();
        if (cairo_surface_write_to_png_stream(surface_, append_bytes, &out) != CAIRO_STATUS_SUCCESS)
            out.clear();
        return out;
    }

    bool write_png(const std::string& path) override {
        if (!surface_ || cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return false;
        flush();
        return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
    }

  private:
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

}  // namespace

TextBox measure_text(const std::string& text, double px, bool bold) {
    cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(probe);
    TextBox box = measure_text(cr, text, px, bold);
    cairo_destroy(cr);
    cairo_surface_destroy(probe);
    return box;
}

void Canvas::draw_text_centred(const std::string& text, double px, bool bold, double y,
                               PaintColor c) {
    const TextBox box = measure_text(text, px, bold);
    draw_text(text, px, bold, (width() - box.width) * 0.5, y, c);
}

std::unique_ptr<Canvas> Canvas::over(uint8_t* pixels, int width, int height, PixelLayout layout) {
    cairo_surface_t* s = nullptr;
    if (pixels && width > 0 && height > 0)
        s = cairo_image_surface_create_for_data(pixels, format_of(layout), width, height,
                                                width * 4);
    return std::make_unique<CairoCanvas>(s, width, height, layout);
}

std::unique_ptr<Canvas> Canvas::make(int width, int height, PixelLayout layout) {
    cairo_surface_t* s = nullptr;
    if (width > 0 && height > 0) s = cairo_image_surface_create(format_of(layout), width, height);
    return std::make_unique<CairoCanvas>(s, width, height, layout);
}

std::unique_ptr<Canvas> Canvas::decode_png(const uint8_t* data, size_t size) {
    if (!data) return nullptr;
    PngReader reader{data, size, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(read_bytes, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    // A PNG without alpha decodes as an opaque picture.
    const PixelLayout layout = cairo_image_surface_get_format(s) == CAIRO_FORMAT_RGB24
                                   ? PixelLayout::bgrx
                                   : PixelLayout::bgra_premul;
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    return std::make_unique<CairoCanvas>(s, w, h, layout);
}
