// The welcome picture through the painter: title band, a short explanation
// and the camera's addresses, wrapped to the picture's width; Arabic lines
// are right-aligned (the painter shapes them right to left). The same layout
// as the cairo/pango picture of the GTK desktop; each line is drawn on its
// own, so the addresses need no direction marks (fonts without a glyph for
// U+200E would show a box).
#include <string>
#include <vector>

#include "engine/ui_strings.h"
#include "ui/welcome_canvas.h"

namespace {

constexpr int k_width = 720;
constexpr double k_margin = 40;
constexpr double k_text_width = k_width - 2 * k_margin;

// Greedy word wrap; a word longer than the line stays on a line of its own.
std::vector<std::string> wrap(const std::string& text, double px, bool bold) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        const std::string para = text.substr(start, nl - start);
        std::string line;
        size_t pos = 0;
        while (pos <= para.size()) {
            size_t sp = para.find(' ', pos);
            if (sp == std::string::npos) sp = para.size();
            const std::string word = para.substr(pos, sp - pos);
            const std::string tried = line.empty() ? word : line + " " + word;
            if (!line.empty() && measure_text(tried, px, bold).width > k_text_width) {
                lines.push_back(line);
                line = word;
            } else {
                line = tried;
            }
            pos = sp + 1;
        }
        lines.push_back(line);
        start = nl + 1;
    }
    return lines;
}

// Lays out a wrapped paragraph at y and returns its height.
double paragraph(Canvas* c, const std::string& text, double px, bool bold, bool arabic, double y,
                 uint32_t rgb) {
    double h = 0;
    for (const std::string& line : wrap(text, px, bold)) {
        const TextBox box = measure_text(line.empty() ? " " : line, px, bold);
        if (c && !line.empty()) {
            const double x = arabic ? k_margin + k_text_width - box.width : k_margin;
            c->draw_text(line, px, bold, x, y + h, PaintColor{rgb, 1.0});
        }
        h += box.height;
    }
    return h;
}

double draw_all(Canvas* c, const WelcomeValues& v, bool ar) {
    if (c) {
        auto band = Canvas::make(k_width, 80, PixelLayout::bgrx);
        band->fill_linear_gradient(0, 0, 0, 80, PaintColor{0x1A3366, 1.0},
                                   PaintColor{0x0D1A40, 1.0});
        c->draw_canvas(*band, 0, 0);
    }
    paragraph(c, ui_text("welcome_title", ar), 26, true, ar, 22, 0xFFFFFF);
    double y = 96;
    y += paragraph(c, ui_text("welcome_body", ar), 16, false, ar, y, 0x202530) + 18;
    const std::string rows[][2] = {
        {ui_text("rtsp_main", ar),
         "rtsp://" + v.address + ":" + std::to_string(v.rtsp_port) + "/" + v.stream},
        {ui_text("onvif_link", ar),
         "http://" + v.address + ":" + std::to_string(v.onvif_port) + "/onvif/device_service"},
        {ui_text("web_link", ar), "http://" + v.address + ":" + std::to_string(v.web_port) + "/"},
    };
    for (int i = 0; i < (v.web_on ? 3 : 2); ++i) {
        y += paragraph(c, rows[i][0], 14, true, ar, y, 0x505a6e) + 2;
        y += paragraph(c, rows[i][1], 17, false, ar, y, 0x1040a0) + 12;
    }
    return y + 20;
}

}  // namespace

std::unique_ptr<Canvas> render_welcome_canvas(const WelcomeValues& v, bool arabic) {
    const int height = static_cast<int>(draw_all(nullptr, v, arabic) + 0.5);
    auto c = Canvas::make(k_width, height, PixelLayout::bgrx);
    if (!c || !c->ok()) return nullptr;
    c->fill(PaintColor{0xF4F6FA, 1.0});
    draw_all(c.get(), v, arabic);
    c->flush();
    return c->ok() ? std::move(c) : nullptr;
}

bool write_welcome_png(const WelcomeValues& v, bool arabic, const std::string& path) {
    auto c = render_welcome_canvas(v, arabic);
    return c && c->write_png(path);
}
