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

std::string onvif_snapshot(int width, int height) {
    if (width < 1 || height < 1) return {};
    static std::mutex lock;
    static std::unique_ptr<ScreenCapturer> capturer;
    std::lock_guard<std::mutex> g(lock);
    if (!capturer) {
        auto c = std::make_unique<ScreenCapturer>();
        if (!c->init()) return {};
        OverlaySettings none;
        none.name_on = false;
        none.clock_on = false;
        c->set_overlay(none);
        capturer = std::move(c);
    }
    const uint8_t* frame = capturer->capture();
    if (!frame) {
        capturer.reset();  // the next request starts over (screen gone or resized)
        return {};
    }
    const int sw = capturer->width(), sh = capturer->height();
    if (sw == width && sh == height) return encode_jpeg_bgrx(frame, width, height, 80);
    std::vector<uint8_t> scaled(static_cast<size_t>(width) * height * 4);
    scale_nearest(frame, sw, sh, scaled.data(), width, height);
    return encode_jpeg_bgrx(scaled.data(), width, height, 80);
}
