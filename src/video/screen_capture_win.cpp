// GDI grab of the primary screen: BitBlt of the screen into a compatible
// bitmap (layered windows included), GetDIBits of that bitmap into our own
// top-down BGRX buffer. The pointer is drawn with DrawIconEx into a small
// DIB section holding the pixels under it, so a monochrome (inverting) pointer
// mixes with the real picture, and then copied back into the buffer. Every
// object is made once per screen size; a frame allocates nothing.
//
// GDI reports no changed areas: capture_damage_ready is false, so every frame
// is read whole and counts as all changed.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/log.h"
#include "video/screen_capture_platform.h"

struct ScreenCapturer::Platform {
    HDC screen = nullptr;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old_bitmap = nullptr;
    BITMAPINFO info{};
    int width = 0;
    int height = 0;
    bool ready = false;
    bool blit_failing = false;
    std::vector<uint8_t> pixels;
    // The pointer fetched by capture_pointer_rect, drawn by capture_draw_pointer.
    bool have_pointer = false;
    HCURSOR cursor = nullptr;
    POINT position{};  // top-left corner on the screen (position minus hot spot)
    int size = 32;
    // Scratch for drawing the pointer: a DIB section as large as the pointer.
    HDC pointer_dc = nullptr;
    HBITMAP pointer_bitmap = nullptr;
    HGDIOBJ pointer_old = nullptr;
    uint8_t* pointer_bits = nullptr;
    int pointer_size = 0;
};

namespace {

// SRCCOPY | CAPTUREBLT: layered and transparent windows as the user sees them.
constexpr DWORD k_capture_rop = 0x40CC0020;

int cursor_size() {
    const int n = GetSystemMetrics(SM_CXCURSOR);
    return n > 0 ? n : 32;
}

void drop_pointer_scratch(ScreenCapturer::Platform& p) {
    if (p.pointer_dc) {
        if (p.pointer_old) SelectObject(p.pointer_dc, p.pointer_old);
        DeleteDC(p.pointer_dc);
    }
    if (p.pointer_bitmap) DeleteObject(p.pointer_bitmap);
    p.pointer_dc = nullptr;
    p.pointer_bitmap = nullptr;
    p.pointer_old = nullptr;
    p.pointer_bits = nullptr;
    p.pointer_size = 0;
}

bool make_pointer_scratch(ScreenCapturer::Platform& p, int size) {
    if (p.pointer_dc && p.pointer_size == size) return true;
    drop_pointer_scratch(p);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    p.pointer_dc = CreateCompatibleDC(p.screen);
    p.pointer_bitmap = CreateDIBSection(p.screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!p.pointer_dc || !p.pointer_bitmap || !bits) {
        drop_pointer_scratch(p);
        return false;
    }
    p.pointer_old = SelectObject(p.pointer_dc, p.pointer_bitmap);
    p.pointer_bits = static_cast<uint8_t*>(bits);
    p.pointer_size = size;
    return true;
}

// The current pointer, when it shows; false when hidden or unknown.
bool fetch_pointer(ScreenCapturer::Platform& p) {
    p.have_pointer = false;
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    if (!GetCursorInfo(&ci) || !(ci.flags & CURSOR_SHOWING) || !ci.hCursor) return false;
    ICONINFO ii{};
    if (!GetIconInfo(ci.hCursor, &ii)) return false;
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    p.cursor = ci.hCursor;
    p.size = cursor_size();
    p.position.x = ci.ptScreenPos.x - static_cast<LONG>(ii.xHotspot);
    p.position.y = ci.ptScreenPos.y - static_cast<LONG>(ii.yHotspot);
    p.have_pointer = true;
    return true;
}

}  // namespace

ScreenCapturer::ScreenCapturer() : platform_(std::make_unique<Platform>()) {}

ScreenCapturer::~ScreenCapturer() {
    release();
}

bool capture_make_dpi_aware(ScreenCapturer::Platform&) {
    // Looked up at run time: Windows before 10 (1607) has no such call.
    using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return false;
    auto set_context = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    if (!set_context) return false;
    // Version 2 first; Windows 10 before 1703 (and Wine) know only version 1,
    // which still gives physical pixels for the grab.
    return set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != nullptr ||
           set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE) != nullptr;
}

bool capture_screen_size(ScreenCapturer::Platform&, int& width, int& height) {
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
    return width > 0 && height > 0;
}

bool capture_setup(ScreenCapturer::Platform& p, int width, int height) {
    capture_teardown(p);
    p.width = width;
    p.height = height;
    p.screen = GetDC(nullptr);
    if (p.screen) p.memory = CreateCompatibleDC(p.screen);
    if (p.memory) p.bitmap = CreateCompatibleBitmap(p.screen, width, height);
    if (!p.screen || !p.memory || !p.bitmap) {
        engine_log("Capture: GDI objects not created (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        capture_teardown(p);
        return false;
    }
    p.old_bitmap = SelectObject(p.memory, p.bitmap);
    BITMAPINFOHEADER& h = p.info.bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = -height;  // rows top-down
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    p.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    p.ready = true;
    return true;
}

bool capture_ready(const ScreenCapturer::Platform& p) {
    return p.ready;
}

uint8_t* capture_grab(ScreenCapturer::Platform& p) {
    if (!p.ready) return nullptr;
    // While the screen cannot be read (the secure desktop of a lock screen or
    // an elevation prompt), the bitmap keeps the last picture and the stream
    // goes on with it instead of stalling its viewers.
    if (!BitBlt(p.memory, 0, 0, p.width, p.height, p.screen, 0, 0, k_capture_rop)) {
        if (!p.blit_failing)
            engine_vlog("Capture: screen not readable (error %lu), repeating the last picture\n",
                        static_cast<unsigned long>(GetLastError()));
        p.blit_failing = true;
    } else {
        p.blit_failing = false;
    }
    // GetDIBits wants the bitmap not selected anywhere while it reads it.
    SelectObject(p.memory, p.old_bitmap);
    const int rows = GetDIBits(p.memory, p.bitmap, 0, static_cast<UINT>(p.height), p.pixels.data(),
                               &p.info, DIB_RGB_COLORS);
    SelectObject(p.memory, p.bitmap);
    return rows == p.height ? p.pixels.data() : nullptr;
}

PixelRect capture_pointer_rect(ScreenCapturer::Platform& p, uint64_t& signature) {
    if (!fetch_pointer(p)) return PixelRect{};
    signature = (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p.cursor)) << 32) ^
                (static_cast<uint64_t>(static_cast<uint16_t>(p.position.x)) << 16) ^
                static_cast<uint16_t>(p.position.y);
    return PixelRect{p.position.x, p.position.y, p.position.x + p.size, p.position.y + p.size};
}

void capture_draw_pointer(ScreenCapturer::Platform& p, uint8_t* pixels, int width, int height) {
    if (!p.have_pointer && !fetch_pointer(p)) return;
    p.have_pointer = false;  // fetched again for the next frame
    if (!p.screen || !pixels) return;
    int x0 = p.position.x, y0 = p.position.y, size = p.size;
    // A picture of another size than the screen gets the pointer scaled to it.
    if (p.width > 0 && p.height > 0 && (width != p.width || height != p.height)) {
        x0 = static_cast<int>(static_cast<long long>(x0) * width / p.width);
        y0 = static_cast<int>(static_cast<long long>(y0) * height / p.height);
        size = std::max(8, static_cast<int>(static_cast<long long>(size) * width / p.width));
    }
    const PixelRect r = clip_rect(PixelRect{x0, y0, x0 + size, y0 + size}, width, height);
    if (r.empty() || !make_pointer_scratch(p, size)) return;
    // The pixels under the pointer go into the scratch at the pointer's offset,
    // the pointer is drawn over them, and the result goes back.
    const size_t row = static_cast<size_t>(r.right - r.left) * 4;
    const size_t stride = static_cast<size_t>(size) * 4;
    const int dx = r.left - x0;
    for (int y = r.top; y < r.bottom; ++y)
        std::memcpy(p.pointer_bits + static_cast<size_t>(y - y0) * stride + size_t(dx) * 4,
                    pixels + (static_cast<size_t>(y) * width + r.left) * 4, row);
    GdiFlush();
    if (!DrawIconEx(p.pointer_dc, 0, 0, p.cursor, size, size, 0, nullptr, DI_NORMAL)) return;
    GdiFlush();
    for (int y = r.top; y < r.bottom; ++y)
        std::memcpy(pixels + (static_cast<size_t>(y) * width + r.left) * 4,
                    p.pointer_bits + static_cast<size_t>(y - y0) * stride + size_t(dx) * 4, row);
}

bool capture_damage_ready(const ScreenCapturer::Platform&) {
    return false;
}

uint8_t* capture_pixels(ScreenCapturer::Platform& p) {
    return p.ready ? p.pixels.data() : nullptr;
}

uint8_t* capture_grab_damage(ScreenCapturer::Platform&, bool, std::vector<PixelRect>&, bool& all) {
    all = false;
    return nullptr;
}

void capture_teardown(ScreenCapturer::Platform& p) {
    drop_pointer_scratch(p);
    if (p.memory && p.old_bitmap) SelectObject(p.memory, p.old_bitmap);
    if (p.bitmap) DeleteObject(p.bitmap);
    if (p.memory) DeleteDC(p.memory);
    if (p.screen) ReleaseDC(nullptr, p.screen);
    p.bitmap = nullptr;
    p.memory = nullptr;
    p.screen = nullptr;
    p.old_bitmap = nullptr;
    p.have_pointer = false;
    p.blit_failing = false;
    p.ready = false;
    p.pixels.clear();
    p.pixels.shrink_to_fit();
}
