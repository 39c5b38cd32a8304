// Checks the Windows screen grab and the loopback-audio set-up under Wine (or
// on a real PC) while show_window.exe shows its four quadrants.
//
//   capture_check.exe X Y WIDTH HEIGHT OUT.ppm [FRAMES]
//       grabs the primary screen until the quadrants of the window at X Y
//       WIDTH HEIGHT read back in their colours (up to 20 s), with the pointer
//       moved onto the red quadrant; checks the pointer's hot spot; writes the
//       frame as a PPM; times FRAMES more grabs (default 30).
//   capture_check.exe --audio
//       starts the loopback capture twice, prints whether it ran.
// Exit status 0 when every check holds.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/clock.h"
#include "video/motion_detector.h"
#include "video/motion_taskbar.h"
#include "video/screen_capture.h"
#include "video/system_audio.h"

// The engine's clock and the plates are not linked into this check: the
// plates stay off here, so their drawing has nothing to do.
uint64_t tick_ms() {
    return GetTickCount64();
}
void sleep_ms(uint32_t ms) {
    Sleep(static_cast<DWORD>(ms));
}
void draw_overlays(uint8_t*, int, int, const OverlaySettings&) {}
int overlay_prepare(int, int, const OverlaySettings&, OverlayRect*) {
    return 0;
}
void overlay_compose(uint8_t*, int, int) {}
uint64_t overlay_generation() {
    return 0;
}

namespace {

struct Rgb {
    int r, g, b;
};

Rgb pixel_at(const uint8_t* px, int width, int x, int y) {
    const uint8_t* p = px + (static_cast<size_t>(y) * width + x) * 4;
    return Rgb{p[2], p[1], p[0]};
}

bool close_to(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) <= 8 && std::abs(a.g - b.g) <= 8 && std::abs(a.b - b.b) <= 8;
}

bool write_ppm(const char* path, const uint8_t* px, int width, int height) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    std::string row(static_cast<size_t>(width) * 3, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = px + (static_cast<size_t>(y) * width + x) * 4;
            row[size_t(x) * 3] = char(p[2]);
            row[size_t(x) * 3 + 1] = char(p[1]);
            row[size_t(x) * 3 + 2] = char(p[0]);
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    return std::fclose(f) == 0;
}

// The system reports the cursor of the foreground window's thread. Wine keeps
// cursor handles per process, so this program shows the arrow from a 1x1
// window of its own (in the screen's top-left corner) for its pointer check.
void own_the_pointer() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = L"VistrelCaptureCheck";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                             nullptr, wc.hInstance, nullptr);
    if (!w) return;
    ShowWindow(w, SW_SHOW);
    SetForegroundWindow(w);
    SetCursor(wc.hCursor);
}

int check_audio() {
    LoopbackAudio audio;
    int packets = 0;
    auto on_packet = [&packets](const uint8_t*, size_t, uint32_t) { ++packets; };
    const bool first = audio.start(on_packet);
    const bool second = first ? !audio.start(on_packet) : !audio.start(on_packet);
    if (first) {
        const uint64_t until = tick_ms() + 500;
        while (tick_ms() < until) sleep_ms(10);
        audio.stop();
    }
    std::printf("capture_check: audio %s, second start refused: %s, packets %d\n",
                first ? "started" : "not started", second ? "yes" : "no", packets);
    std::fflush(stdout);
    return second ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--audio") == 0) return check_audio();
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: capture_check.exe X Y WIDTH HEIGHT OUT.ppm [FRAMES] | --audio\n");
        return 2;
    }
    const int wx = std::atoi(argv[1]), wy = std::atoi(argv[2]);
    const int ww = std::atoi(argv[3]), wh = std::atoi(argv[4]);
    const char* out = argv[5];
    const int frames = argc > 6 ? std::atoi(argv[6]) : 30;

    ScreenCapturer capturer;
    if (!capturer.init()) {
        std::printf("capture_check: init failed\n");
        return 1;
    }
    const int W = capturer.width(), H = capturer.height();
    // Points well inside each quadrant, and the pointer on the red one.
    const Rgb want[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const int qx[4] = {wx + ww / 4, wx + 3 * ww / 4, wx + ww / 4, wx + 3 * ww / 4};
    const int qy[4] = {wy + wh / 4, wy + wh / 4, wy + 3 * wh / 4, wy + 3 * wh / 4};
    for (int i = 0; i < 4; ++i)
        if (qx[i] < 0 || qy[i] < 0 || qx[i] >= W || qy[i] >= H) {
            std::printf("capture_check: window outside the %dx%d screen\n", W, H);
            return 1;
        }
    const int hx = wx + ww / 8, hy = wy + wh / 8;  // the pointer's hot spot
    own_the_pointer();
    SetCursorPos(hx, hy);
    cursor_on = true;

    const uint8_t* px = nullptr;
    bool seen = false;
    const uint64_t deadline = tick_ms() + 20000;
    while (!seen && tick_ms() < deadline) {
        px = capturer.capture();
        seen = px != nullptr;
        for (int i = 0; seen && i < 4; ++i) seen = close_to(pixel_at(px, W, qx[i], qy[i]), want[i]);
        if (!seen) sleep_ms(100);
    }
    int failures = 0;
    if (!px) {
        std::printf("capture_check: no frame\n");
        return 1;
    }
    for (int i = 0; i < 4; ++i) {
        const Rgb got = pixel_at(px, W, qx[i], qy[i]);
        const bool ok = close_to(got, want[i]);
        failures += !ok;
        std::printf("capture_check: quadrant %d at %d,%d reads %d,%d,%d: %s\n", i, qx[i], qy[i],
                    got.r, got.g, got.b, ok ? "ok" : "WRONG");
    }
    // The arrow's tip is its hot spot: the pixel there is the pointer's, the
    // one just above and to the left of it is still the red quadrant.
    const Rgb tip = pixel_at(px, W, hx, hy), before = pixel_at(px, W, hx - 2, hy - 2);
    const bool pointer_ok = !close_to(tip, want[0]) && close_to(before, want[0]);
    failures += !pointer_ok;
    std::printf("capture_check: pointer tip at %d,%d reads %d,%d,%d (before it %d,%d,%d): %s\n", hx,
                hy, tip.r, tip.g, tip.b, before.r, before.g, before.b, pointer_ok ? "ok" : "WRONG");
    if (!write_ppm(out, px, W, H)) {
        std::printf("capture_check: cannot write %s\n", out);
        ++failures;
    }

    const auto t0 = std::chrono::steady_clock::now();
    int grabbed = 0;
    for (int i = 0; i < frames; ++i) grabbed += capturer.capture() != nullptr;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("capture_check: %d of %d grabs of %dx%d, %.1f ms per frame\n", grabbed, frames, W,
                H, frames > 0 ? ms / frames : 0.0);
    failures += grabbed != frames;
    capturer.release();
    MotionRect bar;
    if (motion_query_taskbar(&bar))
        std::printf("capture_check: taskbar at %d,%d-%d,%d\n", bar.left, bar.top, bar.right,
                    bar.bottom);
    else
        std::printf("capture_check: no taskbar\n");
    std::printf("capture_check: %s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
