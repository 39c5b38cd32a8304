// Portable half of the capturer: the 30-frame size check, re-initialisation,
// pointer and overlays. The grab itself is in the platform file.
#include "video/screen_capture.h"

#include "engine/log.h"
#include "video/screen_capture_platform.h"

std::atomic<bool> cursor_on{false};

bool ScreenCapturer::init() {
    release();
    int w = 0, h = 0;
    if (!capture_screen_size(*platform_, w, h) || w < 1 || h < 1) return false;
    width_ = w;
    height_ = h;
    dpi_aware_ = true;  // X11 reports physical pixels; nothing is scaled behind our back
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
    uint8_t* px = capture_grab(*platform_);
    if (!px) {
        // A released capturer (failed rebuild) waits for the regular check,
        // so a lasting failure does not re-initialise (and log) every frame.
        if (!capture_ready(*platform_) || !check_size()) return nullptr;
        px = capture_grab(*platform_);
        if (!px) return nullptr;
    }
    if (cursor_on.load()) capture_draw_pointer(*platform_, px, width_, height_);
    OverlaySettings ov;
    {
        std::lock_guard<std::mutex> lock(overlay_lock_);
        ov = overlay_;
    }
    draw_overlays(px, width_, height_, ov);
    return px;
}
