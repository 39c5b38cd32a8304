// Portable half of the capturer: the 30-frame size check, re-initialisation,
// pointer and overlays, and the damage path that keeps the grab buffer as a
// mirror of the screen (the pixels under the pointer and the plates are kept
// aside and put back before the next grab). The grab itself is in the
// platform file.
#include "video/screen_capture.h"

#include <cstring>

#include "engine/log.h"
#include "video/screen_capture_platform.h"

std::atomic<bool> cursor_on{false};
std::atomic<bool> damage_capture_on{true};

namespace {
// The whole screen is compared with the mirror every 30 frames (3 s at 10 fps),
// so an area whose change was never reported is not left stale for long.
constexpr int k_reread_frames = 30;
}  // namespace

bool ScreenCapturer::init() {
    release();
    dpi_aware_ = capture_make_dpi_aware(*platform_);
    int w = 0, h = 0;
    if (!capture_screen_size(*platform_, w, h) || w < 1 || h < 1) return false;
    width_ = w;
    height_ = h;
    mirror_valid_ = false;
    under_rects_.clear();
    under_pixels_.clear();
    pointer_rect_ = PixelRect{};
    overlay_count_ = 0;
    engine_log("Capture: %dx%d  (DPI-aware thread: %s)\n", w, h,
               dpi_aware_ ? "yes" : "NO - Windows 7/8, scaling may crop the stream");
    if (!capture_setup(*platform_, w, h)) {
        capture_teardown(*platform_);
        return false;
    }
    return true;
}

void ScreenCapturer::release() {
    capture_teardown(*platform_);
}

void ScreenCapturer::set_overlay(const OverlaySettings& settings) {
    std::lock_guard<std::mutex> lock(overlay_lock_);
    overlay_ = settings;
}

const uint8_t* ScreenCapturer::capture() {
    // The size check also runs at once when a grab fails: a shrunken screen
    // makes every grab fail until the capturer is rebuilt.
    auto check_size = [this]() -> bool {
        size_check_counter_ = 0;
        int w = 0, h = 0;
        if (capture_screen_size(*platform_, w, h) && w > 0 && h > 0 &&
            (w != width_ || h != height_)) {
            engine_log("Capture: screen size changed %dx%d -> %dx%d (re-initialising)\n", width_,
                       height_, w, h);
            size_changed_ = true;
            release();
            return init();
        }
        // A capturer left released by a failed rebuild is retried at each check.
        if (!capture_ready(*platform_)) return init();
        return true;
    };

    if (++size_check_counter_ >= 30 && !check_size()) return nullptr;
    auto grab = [this]() {
        if (damage_capture_on.load() && capture_damage_ready(*platform_)) return capture_changes();
        return capture_whole();
    };
    const uint8_t* px = grab();
    if (!px) {
        // A released capturer (failed rebuild) waits for the regular check,
        // so a lasting failure does not re-initialise (and log) every frame.
        if (!capture_ready(*platform_) || !check_size()) return nullptr;
        px = grab();
    }
    return px;
}

// Today's path: the whole screen read, the pointer and plates drawn on it.
const uint8_t* ScreenCapturer::capture_whole() {
    mirror_valid_ = false;
    under_rects_.clear();
    all_changed_ = true;
    changed_.clear();
    uint8_t* px = capture_grab(*platform_);
    if (!px) return nullptr;
    if (cursor_on.load()) capture_draw_pointer(*platform_, px, width_, height_);
    OverlaySettings ov;
    {
        std::lock_guard<std::mutex> lock(overlay_lock_);
        ov = overlay_;
    }
    draw_overlays(px, width_, height_, ov);
    return px;
}

void ScreenCapturer::save_under(uint8_t* px, const PixelRect& r) {
    under_rects_.push_back(r);
    const size_t row = size_t(r.right - r.left) * 4;
    for (int y = r.top; y < r.bottom; ++y) {
        const uint8_t* s = px + (size_t(y) * width_ + r.left) * 4;
        under_pixels_.insert(under_pixels_.end(), s, s + row);
    }
}

// Puts back the screen's pixels under what the last frame drew, newest first.
void ScreenCapturer::restore_under() {
    uint8_t* px = capture_pixels(*platform_);
    size_t end = under_pixels_.size();
    for (size_t i = under_rects_.size(); px && i-- > 0;) {
        const PixelRect& r = under_rects_[i];
        const size_t row = size_t(r.right - r.left) * 4;
        size_t at = end - row * size_t(r.bottom - r.top);
        end = at;
        for (int y = r.top; y < r.bottom; ++y, at += row)
            std::memcpy(px + (size_t(y) * width_ + r.left) * 4, under_pixels_.data() + at, row);
    }
    under_rects_.clear();
    under_pixels_.clear();
}

// The damage path: only what changed is read; the pointer and plates add the
// areas where they moved or changed.
const uint8_t* ScreenCapturer::capture_changes() {
    if (mirror_valid_) restore_under();
    under_rects_.clear();
    under_pixels_.clear();
    const bool full = !mirror_valid_ || ++reread_counter_ >= k_reread_frames;
    if (full) reread_counter_ = 0;
    changed_.clear();
    bool all = false;
    uint8_t* px = capture_grab_damage(*platform_, full, changed_, all);
    if (!px) {
        mirror_valid_ = false;
        return nullptr;
    }
    all_changed_ = all || !mirror_valid_;
    mirror_valid_ = true;

    PixelRect pointer;
    uint64_t signature = 0;
    if (cursor_on.load())
        pointer = clip_rect(capture_pointer_rect(*platform_, signature), width_, height_);
    if (!(pointer == pointer_rect_) || signature != pointer_signature_) {
        changed_.push_back(pointer_rect_);
        changed_.push_back(pointer);
    }
    pointer_rect_ = pointer;
    pointer_signature_ = signature;
    if (!pointer.empty()) {
        save_under(px, pointer);
        capture_draw_pointer(*platform_, px, width_, height_);
    }

    OverlaySettings ov;
    {
        std::lock_guard<std::mutex> lock(overlay_lock_);
        ov = overlay_;
    }
    OverlayRect rects[2];
    const int n = overlay_prepare(width_, height_, ov, rects);
    bool moved = n != overlay_count_;
    for (int i = 0; i < n && !moved; ++i)
        moved = rects[i].left != overlay_rects_[i].left || rects[i].top != overlay_rects_[i].top ||
                rects[i].right != overlay_rects_[i].right ||
                rects[i].bottom != overlay_rects_[i].bottom;
    if (moved || overlay_generation() != overlay_generation_) {
        for (int i = 0; i < overlay_count_; ++i)
            changed_.push_back(PixelRect{overlay_rects_[i].left, overlay_rects_[i].top,
                                         overlay_rects_[i].right, overlay_rects_[i].bottom});
        for (int i = 0; i < n; ++i)
            changed_.push_back(
                PixelRect{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
    }
    for (int i = 0; i < n; ++i) {
        overlay_rects_[i] = rects[i];
        save_under(px, PixelRect{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
    }
    overlay_count_ = n;
    overlay_generation_ = overlay_generation();
    overlay_compose(px, width_, height_);
    // Empty entries (a pointer that was or is hidden) carry no area.
    std::erase_if(changed_, [](const PixelRect& r) { return r.empty(); });
    return px;
}
