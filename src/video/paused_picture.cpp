// The "Stream paused" picture: dark blue gradient with a soft glow, the logo,
// two pause bars and the bilingual notice, laid out relative to a 1280x720
// design (scale s = min(W/1280, H/720)).
#include "video/paused_picture.h"

#include <algorithm>
#include <memory>

#include "video/logo_data.h"
#include "video/painter.h"

namespace {

void draw_logo(Canvas& c, double W, double H, double s) {
    std::unique_ptr<Canvas> logo = Canvas::decode_png(k_logo_png, k_logo_png_size);
    if (!logo || logo->width() < 1) return;
    c.draw_canvas(*logo, (W - 300 * s) / 2, 0.14 * H, 300 * s / logo->width());
}

void paint(Canvas& c, double W, double H) {
    const double s = std::min(W / 1280.0, H / 720.0);
    c.fill_linear_gradient(0, 0, W, 0, {0x0A1430}, {0x08243A});
    c.fill_radial_ellipse(W / 2, 0.4 * H, 0.45 * W, 0.5 * H, {0x2B78FF, 0x5F / 255.0},
                          {0x2B78FF, 0});
    draw_logo(c, W, H, s);

    c.fill_rounded_rect(W / 2 - 6 * s - 11 * s, 0.535 * H, 11 * s, 36 * s, 3 * s, {0x7FB4FF});
    c.fill_rounded_rect(W / 2 + 6 * s, 0.535 * H, 11 * s, 36 * s, 3 * s, {0x7FB4FF});

    c.draw_text_centred("البث متوقّف مؤقتًا", 46 * s, true, 0.605 * H, {0xEAF1FF});
    c.draw_text_centred("Stream paused", 26 * s, false, 0.705 * H, {0xBCD0F2});
    c.draw_text_centred("سيستأنف البث تلقائيًا عند إعادة التشغيل من لوحة التحكم", 17 * s, false,
                        0.78 * H, {0x9FB3D8});
    c.draw_text("Vistrel", 18 * s, true, 0.02 * W, 0.03 * H, {0xEAF1FF, 0xEB / 255.0});
    c.draw_text_centred("Vistrel - your screen as a network camera", 15 * s, false, 0.93 * H,
                        {0x96AAD2, 0xCD / 255.0});
}

}  // namespace

std::vector<uint8_t> paint_paused_picture(int width, int height) {
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return {};
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4, 0);
    std::unique_ptr<Canvas> c = Canvas::over(px.data(), width, height, PixelLayout::bgrx);
    if (!c->ok()) return {};
    paint(*c, width, height);
    c->flush();
    if (!c->ok()) return {};
    return px;
}

bool write_png(const std::string& path, const uint8_t* bgrx, int width, int height) {
    if (!bgrx || width < 1 || height < 1) return false;
    // The canvas only reads the buffer here.
    std::unique_ptr<Canvas> c =
        Canvas::over(const_cast<uint8_t*>(bgrx), width, height, PixelLayout::bgrx);
    return c->ok() && c->write_png(path);
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
