// The painter: anti-aliased drawing into top-down 32-bit pixel buffers for the
// overlay plates, the paused pictures and PNG files. Shapes, gradients, shaped
// text (bold, pixel sizes, Arabic joined and right to left), decoded PNG
// images drawn scaled, and one canvas composed onto another. cairo + pango on
// Linux, GDI+ on Windows. A canvas is used by one thread at a time; canvases
// and images may be made on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Memory layout of a canvas's pixels, stride width * 4, top-down.
enum class PixelLayout {
    bgrx,        // opaque picture: the fourth byte is ignored and not kept
    bgra_premul  // translucent picture: alpha in the fourth byte, colours premultiplied
};

// 0xRRGGBB with an alpha from 0 (clear) to 1 (opaque).
struct PaintColor {
    uint32_t rgb = 0;
    double alpha = 1.0;
};

struct TextBox {
    double width = 0;
    double height = 0;
};

// Logical box of one line of text in the given pixel size. Text that is not
// valid UTF-8 is shown with replacement characters.
TextBox measure_text(const std::string& text, double px, bool bold);

class Canvas {
  public:
    // Draws into the caller's buffer, which must outlive the canvas.
    static std::unique_ptr<Canvas> over(uint8_t* pixels, int width, int height, PixelLayout layout);
    // A canvas with its own buffer, transparent (bgra_premul) or black (bgrx).
    static std::unique_ptr<Canvas> make(int width, int height, PixelLayout layout);
    // Decodes a PNG (bgra_premul, or bgrx when it has no alpha); null when it
    // is not a PNG.
    static std::unique_ptr<Canvas> decode_png(const uint8_t* data, size_t size);
    virtual ~Canvas() = default;

    int width() const { return width_; }
    int height() const { return height_; }
    PixelLayout layout() const { return layout_; }
    // The buffer, after flush(): what has been drawn so far.
    virtual uint8_t* pixels() = 0;
    // Call after the buffer was written by something other than this canvas.
    virtual void pixels_changed() = 0;
    // Makes everything drawn so far visible in the buffer.
    virtual void flush() = 0;

    // The whole canvas in one colour (alpha blended over what is there).
    virtual void fill(PaintColor c) = 0;
    // Rectangle with corners of radius r (at most half the shorter side).
    virtual void fill_rounded_rect(double x, double y, double w, double h, double r,
                                   PaintColor c) = 0;
    // The whole canvas with a linear gradient from (x0, y0) to (x1, y1).
    virtual void fill_linear_gradient(double x0, double y0, double x1, double y1, PaintColor from,
                                      PaintColor to) = 0;
    // The ellipse centred at (cx, cy) with radii rx and ry, shaded from
    // `centre` at its middle to `edge` at its border.
    virtual void fill_radial_ellipse(double cx, double cy, double rx, double ry, PaintColor centre,
                                     PaintColor edge) = 0;
    // One line of text with the top-left of its logical box at (x, y).
    virtual void draw_text(const std::string& text, double px, bool bold, double x, double y,
                           PaintColor c) = 0;
    // One line of text centred across the canvas, its box's top at y.
    void draw_text_centred(const std::string& text, double px, bool bold, double y, PaintColor c);
    // Draws src over this canvas with its top-left at (x, y), scaled by
    // `scale` with smooth filtering (1: pixel for pixel).
    virtual void draw_canvas(Canvas& src, double x, double y, double scale = 1.0) = 0;
    // False when the canvas could not be made or a drawing call failed.
    virtual bool ok() const = 0;

    // PNG of the canvas (opaque for bgrx); empty on failure.
    virtual std::string encode_png() = 0;
    // Writes encode_png() to a file (UTF-8 path). False on failure.
    virtual bool write_png(const std::string& path) = 0;

  protected:
    Canvas(int width, int height, PixelLayout layout)
        : width_(width), height_(height), layout_(layout) {}

  private:
    int width_;
    int height_;
    PixelLayout layout_;
};
