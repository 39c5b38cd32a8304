// The badge's rules shared by every platform's badge window: alpha, colours,
// lines and placement.
#include <algorithm>

#include "ui/stream_badge.h"

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
