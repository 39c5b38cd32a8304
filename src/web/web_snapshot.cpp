#include "web/web_snapshot.h"

#include <memory>

#include "engine/screen_metrics.h"
#include "onvif/onvif_snapshot.h"
#include "rtsp/rtsp_engine.h"
#include "video/jpeg_encoder.h"
#include "video/painter.h"

std::vector<uint8_t> paint_web_paused_picture(int width, int height) {
    if (width < 1 || height < 1) return {};
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
    std::unique_ptr<Canvas> c = Canvas::over(px.data(), width, height, PixelLayout::bgrx);
    if (!c->ok()) return {};
    c->fill({0x0F0F14});
    const double big = height / 12, small = height / 22;
    const std::string ar = "البث متوقّف";
    const TextBox box = measure_text(ar, big, true);
    c->draw_text_centred(ar, big, true, (height - box.height) / 2, {0xEBEBEB});
    c->draw_text_centred("Stream paused - Vistrel", small, false, height * 58 / 100, {0x96A0AF});
    c->flush();
    return px;
}

std::string web_snapshot() {
    static StillCapturer still;
    if (streaming_paused.load() != 0) {
        const ScreenSize s = primary_screen_size();
        std::vector<uint8_t> px = paint_web_paused_picture(s.width, s.height);
        return px.empty() ? std::string()
                          : encode_jpeg_bgrx(px.data(), s.width, s.height, k_web_snapshot_quality);
    }
    return still.jpeg(0, 0, k_web_snapshot_quality);
}
