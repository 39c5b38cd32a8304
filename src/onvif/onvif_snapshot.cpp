#include "onvif/onvif_snapshot.h"

#include <memory>
#include <mutex>
#include <vector>

#include "video/jpeg_encoder.h"
#include "video/overlay.h"
#include "video/screen_capture.h"

StillCapturer::StillCapturer() = default;
StillCapturer::~StillCapturer() = default;

std::string StillCapturer::jpeg(int width, int height, int quality) {
    std::lock_guard<std::mutex> g(lock_);
    if (!capturer_) {
        auto c = std::make_unique<ScreenCapturer>();
        if (!c->init()) return {};
        OverlaySettings none;
        none.name_on = false;
        none.clock_on = false;
        c->set_overlay(none);
        capturer_ = std::move(c);
    }
    const uint8_t* frame = capturer_->capture();
    if (!frame) {
        capturer_.reset();  // the next request starts over
        return {};
    }
    const int sw = capturer_->width(), sh = capturer_->height();
    if (width < 1 || height < 1 || (sw == width && sh == height))
        return encode_jpeg_bgrx(frame, sw, sh, quality);
    std::vector<uint8_t> scaled(static_cast<size_t>(width) * height * 4);
    scale_nearest(frame, sw, sh, scaled.data(), width, height);
    return encode_jpeg_bgrx(scaled.data(), width, height, quality);
}

std::string onvif_snapshot(int width, int height) {
    if (width < 1 || height < 1) return {};
    static StillCapturer still;
    return still.jpeg(width, height, 80);
}
