// Rectangles of a picture in pixels (right and bottom exclusive), used to say
// which parts of a frame changed since the previous one.
#pragma once

#include <algorithm>
#include <vector>

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    long long area() const { return empty() ? 0 : 1LL * (right - left) * (bottom - top); }
    bool operator==(const PixelRect&) const = default;
};

inline PixelRect clip_rect(const PixelRect& r, int width, int height) {
    PixelRect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width),
                std::min(r.bottom, height)};
    return c.empty() ? PixelRect{} : c;
}

inline bool rects_overlap(const PixelRect& a, const PixelRect& b) {
    return !a.empty() && !b.empty() && a.left < b.right && b.left < a.right && a.top < b.bottom &&
           b.top < a.bottom;
}

inline PixelRect bounding_rect(const std::vector<PixelRect>& rects) {
    PixelRect b;
    bool first = true;
    for (const PixelRect& r : rects) {
        if (r.empty()) continue;
        if (first) {
            b = r;
            first = false;
        } else {
            b = {std::min(b.left, r.left), std::min(b.top, r.top), std::max(b.right, r.right),
                 std::max(b.bottom, r.bottom)};
        }
    }
    return b;
}
