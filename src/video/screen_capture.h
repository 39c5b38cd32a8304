// Screen capture: the primary screen grabbed once per frame into a top-down
// BGRX buffer (stride width * 4, no padding), with the mouse pointer and the
// overlays drawn in. Owned and called by the engine thread only; set_overlay
// may come from the live-settings watcher (guarded by the overlay lock).
// Linux: X11 on $DISPLAY, MIT-SHM when available, XGetImage otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "video/overlay.h"

// Draw the pointer into captured frames (`show_cursor`); set at start-up and live.
extern std::atomic<bool> cursor_on;
// Read only the changed parts of the screen when the windowing system reports
// them (`damage_capture`, on by default); off: every frame is read and
// encoded whole.
extern std::atomic<bool> damage_capture_on;

class ScreenCapturer {
  public:
    ScreenCapturer();
    ~ScreenCapturer();
    ScreenCapturer(const ScreenCapturer&) = delete;
    ScreenCapturer& operator=(const ScreenCapturer&) = delete;

    // (Re)initialise for the current screen size; false without a usable screen.
    bool init();
    // Grabs one frame; the buffer belongs to the capturer and stays valid
    // until the next capture, release or re-initialisation. Null on failure.
    // Every 30th call re-reads the screen size and rebuilds on a change.
    const uint8_t* capture();
    void release();  // idempotent

    void set_overlay(const OverlaySettings& settings);

    int width() const { return width_; }
    int height() const { return height_; }
    bool dpi_aware() const { return dpi_aware_; }
    // Set when a size change rebuilt the capturer; the distribution loop
    // consumes it and re-creates its encoders.
    bool size_changed() const { return size_changed_; }
    void clear_size_changed() { size_changed_ = false; }
    bool take_size_changed() {
        bool v = size_changed_;
        size_changed_ = false;
        return v;
    }

    // What changed in the returned picture since the previous capture: every
    // pixel (all_changed) or only inside changed_rects. Both paths return
    // the same picture; only the full-frame path reports everything.
    bool all_changed() const { return all_changed_; }
    const std::vector<PixelRect>& changed_rects() const { return changed_; }

    struct Platform;  // the windowing-system side (X11 on Linux)

  private:
    int width_ = 0;
    int height_ = 0;
    int size_check_counter_ = 0;
    bool size_changed_ = false;
    bool dpi_aware_ = false;
    std::unique_ptr<Platform> platform_;

    const uint8_t* capture_whole();
    const uint8_t* capture_changes();
    void restore_under();
    void save_under(uint8_t* px, const PixelRect& r);
    bool mirror_valid_ = false;  // the grab buffer mirrors the screen (damage path)
    int reread_counter_ = 0;
    bool all_changed_ = true;
    std::vector<PixelRect> changed_;
    // Pixels under the pointer and the plates, put back before the next grab.
    std::vector<PixelRect> under_rects_;
    std::vector<uint8_t> under_pixels_;
    PixelRect pointer_rect_;
    uint64_t pointer_signature_ = 0;
    OverlayRect overlay_rects_[2];
    int overlay_count_ = 0;
    uint64_t overlay_generation_ = 0;
    std::mutex overlay_lock_;
    OverlaySettings overlay_;
};
