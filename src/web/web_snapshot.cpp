#include "web/web_snapshot.h"

#include <cairo.h>

#include <cstring>

#include "engine/screen_metrics.h"
#include "onvif/onvif_snapshot.h"
#include "rtsp/rtsp_engine.h"
#include "video/text_painter.h"

std::vector<uint8_t> paint_web_paused_picture(int width, int height) {
    if (width < 1 || height < 1) return {};
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(px.data(), CAIRO_FORMAT_RGB24,
                                                                   width, height, width * 4);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return {};
    }
    cairo_t* cr = cairo_create(surface);
    set_rgb(cr, 0x0F0F14);
    cairo_paint(cr);
    const double big = height / 12, small = height / 22;
    set_rgb(cr, 0xEBEBEB);
    const std::string ar = "البث متوقّف";
    const TextBox box = measure_text(cr, ar, big, true);
    draw_text_centred(cr, ar, big, true, width, (height - box.height) / 2);
    set_rgb(cr, 0x96A0AF);
    draw_text_centred(cr, "Stream paused - Vistrel", small, false, width, height * 58 / 100);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    return px;  // cairo's RGB24 is BGRX in memory on little-endian machines
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
