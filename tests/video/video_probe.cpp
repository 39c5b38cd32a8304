// Command-line driver of the video pipeline for the X-server tests: captures
// from $DISPLAY and writes what it saw.
//   video_probe capture OUT.bgrx [overlay] [cursor]  one frame, overlay rectangles printed
//   video_probe watch FRAMES INTERVAL_MS             size of every frame, one line each
//   video_probe encode FRAMES KBPS OUT.h264 SRC.yuv  10 fps capture+encode; last source as I420
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "video/h264_encoder.h"
#include "video/screen_capture.h"

namespace {

bool write_raw(const std::string& path, const uint8_t* bgrx, int w, int h) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok =
        std::fwrite(bgrx, 4, static_cast<size_t>(w) * h, f) == static_cast<size_t>(w) * h;
    return std::fclose(f) == 0 && ok;
}

OverlaySettings no_overlays() {
    OverlaySettings s;
    s.name_on = s.clock_on = false;
    return s;
}

int capture_one(int argc, char** argv) {
    if (argc < 3) return 2;
    bool overlay = false;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "overlay")) overlay = true;
        if (!std::strcmp(argv[i], "cursor")) cursor_on = true;
    }
    ScreenCapturer cap;
    if (!cap.init()) return 1;
    cap.set_overlay(overlay ? OverlaySettings{} : no_overlays());
    const uint8_t* px = cap.capture();
    if (!px) return 1;
    OverlayRect r[2];
    int n = overlay_rectangles(r, 2);
    for (int i = 0; i < n; ++i)
        std::printf("rect %d %d %d %d\n", r[i].left, r[i].top, r[i].right, r[i].bottom);
    std::printf("size %d %d\n", cap.width(), cap.height());
    return write_raw(argv[2], px, cap.width(), cap.height()) ? 0 : 1;
}

int watch(int argc, char** argv) {
    if (argc < 4) return 2;
    int frames = std::atoi(argv[2]);
    int interval = std::atoi(argv[3]);
    ScreenCapturer cap;
    if (!cap.init()) return 1;
    cap.set_overlay(no_overlays());
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    for (int i = 0; i < frames; ++i) {
        const uint8_t* px = cap.capture();
        bool changed = cap.take_size_changed();
        std::printf("frame %d %s %dx%d%s\n", i, px ? "ok" : "null", cap.width(), cap.height(),
                    changed ? " changed" : "");
        std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    }
    return 0;
}

int encode(int argc, char** argv) {
    if (argc < 6) return 2;
    int frames = std::atoi(argv[2]);
    int kbps = std::atoi(argv[3]);
    ScreenCapturer cap;
    if (!cap.init()) return 1;
    cap.set_overlay(no_overlays());
    H264Encoder enc;
    if (!enc.open(cap.width(), cap.height(), 10, kbps)) return 1;
    FILE* out = std::fopen(argv[4], "wb");
    if (!out) return 1;
    const uint8_t* px = nullptr;
    for (int i = 0; i < frames; ++i) {
        px = cap.capture();
        if (!px) return 1;
        std::vector<uint8_t> au;
        if (!enc.encode(px, cap.width(), i == 0, au)) return 1;
        std::fwrite(au.data(), 1, au.size(), out);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::fclose(out);
    int w = enc.width(), h = enc.height();
    std::vector<uint8_t> yuv(static_cast<size_t>(w) * h * 3 / 2);
    bgrx_to_i420(px, cap.width() * 4, w, h, yuv.data(), yuv.data() + w * h,
                 yuv.data() + w * h + w * h / 4);
    FILE* src = std::fopen(argv[5], "wb");
    if (!src) return 1;
    std::fwrite(yuv.data(), 1, yuv.size(), src);
    std::fclose(src);
    std::printf("size %d %d\n", w, h);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "capture") return capture_one(argc, argv);
    if (cmd == "watch") return watch(argc, argv);
    if (cmd == "encode") return encode(argc, argv);
    std::fprintf(stderr, "usage: video_probe capture|watch|encode ...\n");
    return 2;
}
