// Cost of the overlays on a 1920x1080 frame: composing the cached plates (what
// every frame pays) and rendering both plates afresh (what the clock pays once
// a second), in CPU milliseconds of this thread.
#include <time.h>

#include <cstdio>
#include <vector>

#include "video/overlay.h"

namespace {

double thread_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

int main() {
    const int W = 1920, H = 1080;
    std::vector<uint8_t> frame(size_t(W) * H * 4, 0x80);
    const OverlaySettings s;
    draw_overlays(frame.data(), W, H, s);  // warm the caches and fonts

    const int compose_n = 2000;
    OverlayRect rects[2];
    overlay_prepare(W, H, s, rects);
    double t = thread_ms();
    for (int i = 0; i < compose_n; ++i) overlay_compose(frame.data(), W, H);
    const double compose = (thread_ms() - t) / compose_n;

    const int render_n = 200;
    t = thread_ms();
    for (int i = 0; i < render_n; ++i) {
        reset_overlays_for_tests();
        draw_overlays(frame.data(), W, H, s);
    }
    const double render = (thread_ms() - t) / render_n;
    std::printf("1920x1080 overlays: compose %.4f ms/frame, render both plates + compose %.3f ms\n",
                compose, render);
    return 0;
}
