// Painter and JPEG check for the Windows build, run under Wine: draws the
// overlay plates (Latin and Arabic), the four paused pictures and a JPEG into
// the directory given, checks what can be checked by numbers, and leaves the
// files for a look. Exit status 0 when every check passed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "video/jpeg_encoder.h"
#include "video/local_time.h"
#include "video/overlay.h"
#include "video/painter.h"
#include "video/paused_picture.h"

// A fixed clock keeps the plate text, and so the pictures, the same every run.
bool local_time_now(std::tm& out) {
    out = std::tm{};
    out.tm_year = 2026 - 1900;
    out.tm_mon = 11;
    out.tm_mday = 7;
    out.tm_hour = 13;
    out.tm_min = 45;
    out.tm_sec = 9;
    return true;
}

namespace {

int g_failures = 0;

void expect(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

uint32_t pixel(const std::vector<uint8_t>& px, int w, int x, int y) {
    const uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
    return (p[2] << 16) | (p[1] << 8) | p[0];
}

// A grey-blue ramp, so translucent plates show what is under them.
std::vector<uint8_t> backdrop(int w, int h) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>(90 + 120 * x / w);
            p[1] = static_cast<uint8_t>(90 + 60 * y / h);
            p[2] = 80;
            p[3] = 0;
        }
    return px;
}

void check_overlays(const std::string& dir) {
    const int W = 1920, H = 1080;
    std::vector<uint8_t> frame = backdrop(W, H);
    OverlaySettings s;
    draw_overlays(frame.data(), W, H, s);
    OverlayRect r[2];
    const int n = overlay_rectangles(r, 2);
    expect(n == 2, "two plates on 1080p");
    if (n == 2) {
        expect(r[0].right == W - 16 && r[0].bottom == H - 16, "name plate bottom-right, margin 16");
        expect(r[0].bottom - r[0].top == 53, "plate height trunc(28.08 * 1.9) = 53");
        expect(r[0].right - r[0].left > 39 + 40, "name plate wider than its padding");
        expect(r[1].right == W - 16 && r[1].top == 16, "clock plate top-right");
        expect(r[1].right - r[1].left > r[0].right - r[0].left, "clock wider than the name");
        // The plate's dark fill shows in its middle-left, the picture outside.
        const uint32_t inside = pixel(frame, W, r[0].left + 6, (r[0].top + r[0].bottom) / 2);
        const uint32_t outside = pixel(frame, W, r[0].left - 6, (r[0].top + r[0].bottom) / 2);
        expect(inside != outside && (inside & 0xFF) < (outside & 0xFF),
               "plate darkens the picture");
    }
    expect(write_png(dir + "/overlay_default.png", frame.data(), W, H), "overlay_default.png");

    // The next grab rewrites the same buffer: the plates go onto the new pixels.
    std::vector<uint8_t> first = frame;
    std::fill(frame.begin(), frame.end(), uint8_t{0xF0});
    draw_overlays(frame.data(), W, H, s);
    if (n == 2) {
        const int y = (r[0].top + r[0].bottom) / 2;
        expect(pixel(frame, W, r[0].left - 6, y) == 0xF0F0F0, "new grab kept outside the plate");
        expect(pixel(frame, W, r[0].left + 6, y) != pixel(first, W, r[0].left + 6, y) &&
                   (pixel(frame, W, r[0].left + 6, y) & 0xFF) < 0xF0,
               "plate composed over the new grab");
    }

    frame = backdrop(1280, 720);
    s.name_text = "كاميرا المكتب 7";
    s.name_pos = 0;
    s.name_color = 1;
    s.name_size = 2;
    s.clock_pos = 0;
    s.clock_color = 4;
    s.clock_opacity = 100;
    draw_overlays(frame.data(), 1280, 720, s);
    expect(overlay_rectangles(r, 2) == 2 && r[1].top - r[0].bottom == 6,
           "Arabic name and clock stacked top-left, 6 px apart");
    expect(write_png(dir + "/overlay_arabic.png", frame.data(), 1280, 720), "overlay_arabic.png");
}

void check_canvas() {
    std::unique_ptr<Canvas> c = Canvas::make(40, 20, PixelLayout::bgra_premul);
    expect(c->ok(), "own translucent canvas");
    c->fill_rounded_rect(0, 0, 40, 20, 5, {0x336699, 0.5});
    c->flush();
    const uint8_t* mid = c->pixels() + (10 * 40 + 20) * 4;
    // Premultiplied half-alpha 0x336699: about (0x33, 0x4C ...) / 2.
    expect(mid[3] >= 126 && mid[3] <= 129 && mid[0] >= 0x4A && mid[0] <= 0x4E,
           "premultiplied fill in the middle");
    expect(c->pixels()[3] < 40, "rounded corner stays nearly clear");
    const std::string png = c->encode_png();
    expect(png.size() > 8 && png.compare(1, 3, "PNG") == 0, "PNG encode to memory");
    std::unique_ptr<Canvas> back =
        Canvas::decode_png(reinterpret_cast<const uint8_t*>(png.data()), png.size());
    expect(back && back->width() == 40 && back->height() == 20, "PNG decodes back");
    if (back) {
        const uint8_t* b = back->pixels() + (10 * 40 + 20) * 4;
        expect(std::abs(b[3] - mid[3]) <= 1 && std::abs(b[0] - mid[0]) <= 2, "same pixel back");
    }
    const std::string junk = "\x89PNG\r\n\x1a\n truncated";
    expect(!Canvas::decode_png(reinterpret_cast<const uint8_t*>(junk.data()), junk.size()),
           "a truncated PNG is not decoded");
    std::unique_ptr<Canvas> none = Canvas::make(0, 10, PixelLayout::bgrx);
    none->fill({0xFFFFFF});
    expect(!none->ok() && none->encode_png().empty(), "no canvas of a zero size");
    const TextBox a = measure_text("Vistrel", 28, true), b = measure_text("Vistrel", 28, false);
    std::printf("     text box 'Vistrel' 28 px: bold %.1f x %.1f, regular %.1f x %.1f\n", a.width,
                a.height, b.width, b.height);
    expect(a.width > 60 && a.width < 160 && a.height > 25 && a.height < 45, "text box in range");
    expect(a.width > b.width, "bold is wider");
    const TextBox bad = measure_text("caf\xE9", 28, false);
    expect(bad.width > 20, "invalid UTF-8 measured with replacement characters");
}

void check_paused(const std::string& dir) {
    expect(dump_screens(dir), "dump_screens wrote four PNGs");
    std::vector<uint8_t> px = paint_paused_picture(1280, 720);
    expect(px.size() == 1280u * 720 * 4, "paused picture 1280x720");
    if (px.empty()) return;
    // Background gradient: dark blue at the left edge.
    const uint32_t left = pixel(px, 1280, 2, 700);
    expect(((left >> 16) & 0xFF) < 0x20 && (left & 0xFF) > 0x28 && (left & 0xFF) < 0x50,
           "dark blue background");
    const std::string jpeg = encode_jpeg_bgrx(px.data(), 1280, 720, 80);
    expect(jpeg.size() > 2000 && static_cast<uint8_t>(jpeg[0]) == 0xFF &&
               static_cast<uint8_t>(jpeg[1]) == 0xD8,
           "JPEG quality 80");
    const std::string low = encode_jpeg_bgrx(px.data(), 1280, 720, 20);
    // Wine's encoder ignores the quality (both come out the same); Windows' does not.
    std::printf("     JPEG bytes at quality 80: %zu, at 20: %zu\n", jpeg.size(), low.size());
    expect(!low.empty() && low.size() <= jpeg.size(), "quality 20 is not larger than 80");
    expect(encode_jpeg_bgrx(px.data(), 0, 720, 80).empty(), "no JPEG of a zero size");
    if (FILE* f = std::fopen((dir + "/paused_q80.jpg").c_str(), "wb")) {
        std::fwrite(jpeg.data(), 1, jpeg.size(), f);
        std::fclose(f);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    check_canvas();
    check_overlays(dir);
    check_paused(dir);
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
