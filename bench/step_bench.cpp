// The camera's per-frame work at a real frame rate, as the distribution loop
// does it: capture with the default overlays, encode at the given bit rate,
// sleep to the next frame. Prints the process CPU time per frame and the bit
// rate of the encoded stream, so it can stand beside a GStreamer pipeline run
// on the same screen.
//   step_bench FRAMES FPS KBPS [OUT.h264]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "video/h264_encoder.h"
#include "video/screen_capture.h"

static double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: step_bench FRAMES FPS KBPS [OUT.h264]\n");
        return 2;
    }
    const int frames = std::atoi(argv[1]);
    const int fps = std::atoi(argv[2]);
    const int kbps = std::atoi(argv[3]);
    FILE* out = argc > 4 ? std::fopen(argv[4], "wb") : nullptr;
    ScreenCapturer cap;
    H264Encoder enc;
    if (!cap.init() || !enc.open(cap.width(), cap.height(), fps, kbps)) {
        std::fprintf(stderr, "no X screen or no encoder\n");
        return 1;
    }
    cap.set_overlay(OverlaySettings{});
    std::vector<uint8_t> au;
    size_t bytes = 0;
    double cpu0 = cpu_seconds();
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        au.clear();
        const uint8_t* px = cap.capture();
        if (px) enc.encode(px, cap.width(), i == 0, au);
        bytes += au.size();
        if (out) std::fwrite(au.data(), 1, au.size(), out);
        next += std::chrono::milliseconds(1000 / fps);
        std::this_thread::sleep_until(next);
    }
    double cpu = cpu_seconds() - cpu0;
    if (out) std::fclose(out);
    std::printf(
        "frames %d  cpu_ms_per_frame %.2f  kbit_per_s %.0f  (%dx%d, %d fps, target %d kbit/s)\n",
        frames, cpu * 1000 / frames, bytes * 8.0 / 1000 / (static_cast<double>(frames) / fps),
        cap.width(), cap.height(), fps, kbps);
    return 0;
}
