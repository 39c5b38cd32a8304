#include "onvif/onvif_snapshot.h"

#include <turbojpeg.h>

#include <memory>
#include <mutex>
#include <vector>

#include "video/overlay.h"
#include "video/screen_capture.h"

std::string encode_jpeg_bgrx(const unsigned char* bgrx, int width, int height, int quality) {
    if (!bgrx || width < 1 || height < 1) return {};
    tjhandle tj = tjInitCompress();
    if (!tj) return {};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::string jpeg;
    if (tjCompress2(tj, bgrx, width, width * 4, height, TJPF_BGRX, &out, &size, TJSAMP_420, quality,
                    TJFLAG_FASTDCT) == 0)
        jpeg.assign(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

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
