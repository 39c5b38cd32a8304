// The badge window on Windows: a layered, click-through, topmost tool window of
// class "ZEBStreamWarn" that never takes focus, excluded from screen capture
// where the system allows it. GDI+ draws the picture straight into a 32-bit
// premultiplied DIB section that UpdateLayeredWindow shows with per-pixel
// alpha. Placed in the primary work area. Its own thread owns the window.
// clang-format off
#include <windows.h>
// GDI+ needs the COM stream interfaces that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "engine/clock.h"
#include "engine/log.h"
#include "engine/wide_text_win.h"
#include "host/window_class_win.h"
#include "ui/stream_badge.h"

namespace {

const wchar_t k_class[] = L"ZEBStreamWarn";
// WDA_EXCLUDEFROMCAPTURE: older headers do not name it.
const DWORD k_exclude_from_capture = 0x11;

std::atomic<bool> g_armed{false};

Gdiplus::Color argb(int alpha, uint32_t rgb) {
    return Gdiplus::Color(static_cast<BYTE>(std::clamp(alpha, 0, 255)), (rgb >> 16) & 0xFF,
                          (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The first family of the list that this system has. A system without any of
// them still has some font: take the first installed one rather than the
// generic sans-serif family, which is not to be relied on everywhere.
// The Arabic second line prefers families that carry Arabic letters.
std::unique_ptr<Gdiplus::FontFamily> badge_font_family(bool arabic) {
    static const wchar_t* const k_latin[] = {L"Segoe UI", L"Arial", L"Liberation Sans",
                                             L"DejaVu Sans"};
    static const wchar_t* const k_arabic[] = {L"Segoe UI", L"Arial", L"DejaVu Sans",
                                              L"Liberation Sans"};
    for (const wchar_t* name : arabic ? k_arabic : k_latin) {
        auto f = std::make_unique<Gdiplus::FontFamily>(name);
        if (f->GetLastStatus() == Gdiplus::Ok && f->IsAvailable()) return f;
    }
    Gdiplus::InstalledFontCollection installed;
    if (installed.GetFamilyCount() > 0) {
        auto f = std::make_unique<Gdiplus::FontFamily>();
        int found = 0;
        if (installed.GetFamilies(1, f.get(), &found) == Gdiplus::Ok && found == 1) return f;
    }
    return nullptr;
}

std::unique_ptr<Gdiplus::Font> make_font(const Gdiplus::FontFamily& fam, double px, bool bold) {
    int style = bold && fam.IsStyleAvailable(Gdiplus::FontStyleBold) ? Gdiplus::FontStyleBold
                                                                     : Gdiplus::FontStyleRegular;
    return std::make_unique<Gdiplus::Font>(&fam, static_cast<Gdiplus::REAL>(px), style,
                                           Gdiplus::UnitPixel);
}

// The picture in a top-down 32-bit DIB section, premultiplied BGRA.
struct BadgePicture {
    HBITMAP bitmap = nullptr;
    int width = 0, height = 0;

    ~BadgePicture() {
        if (bitmap) DeleteObject(bitmap);
    }
};

Gdiplus::RectF measure(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::Font& f,
                       const Gdiplus::StringFormat* fmt) {
    Gdiplus::RectF box;
    g.MeasureString(text.c_str(), -1, &f, Gdiplus::PointF(0, 0), fmt, &box);
    return box;
}

std::unique_ptr<BadgePicture> render_badge_picture(const BadgeSettings& s) {
    const BadgeLines lines = badge_lines(s.text);
    const std::wstring title = utf8_to_wide(lines.title), second = utf8_to_wide(lines.second);
    const double px = badge_title_px(s.size);
    const BadgeAlpha alpha = badge_alpha(s.opacity);
    auto family = badge_font_family(false);
    auto second_family = badge_font_family(true);
    if (!family || !second_family) return nullptr;
    auto title_font = make_font(*family, px, true);
    auto second_font = make_font(*second_family, px * 0.8, false);
    Gdiplus::StringFormat rtl;
    // Right to left, the near edge is the right one.
    rtl.SetFormatFlags(Gdiplus::StringFormatFlagsDirectionRightToLeft);
    rtl.SetAlignment(Gdiplus::StringAlignmentNear);

    Gdiplus::RectF title_box, second_box;
    {
        Gdiplus::Bitmap probe(1, 1, PixelFormat32bppPARGB);
        Gdiplus::Graphics g(&probe);
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
        title_box = measure(g, title, *title_font, nullptr);
        if (!second.empty()) second_box = measure(g, second, *second_font, &rtl);
    }
    auto pic = std::make_unique<BadgePicture>();
    pic->width = static_cast<int>(std::max(title_box.Width, second_box.Width) + 36);
    pic->height = static_cast<int>(title_box.Height + second_box.Height + 22);

    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = pic->width;
    bi.bmiHeader.biHeight = -pic->height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    pic->bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!pic->bitmap || !bits) return nullptr;
    std::fill_n(static_cast<uint32_t*>(bits), size_t(pic->width) * pic->height, 0u);

    Gdiplus::Bitmap canvas(pic->width, pic->height, pic->width * 4, PixelFormat32bppPARGB,
                           static_cast<BYTE*>(bits));
    {
        Gdiplus::Graphics g(&canvas);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
        const Gdiplus::REAL w = static_cast<Gdiplus::REAL>(pic->width);
        const Gdiplus::REAL h = static_cast<Gdiplus::REAL>(pic->height);
        const Gdiplus::REAL d = 0.6f * h;
        Gdiplus::GraphicsPath box;
        box.AddArc(0.0f, 0.0f, d, d, 180, 90);
        box.AddArc(w - d, 0.0f, d, d, 270, 90);
        box.AddArc(w - d, h - d, d, d, 0, 90);
        box.AddArc(0.0f, h - d, d, d, 90, 90);
        box.CloseFigure();
        Gdiplus::SolidBrush back(argb(alpha.background, 0x0E121E));
        g.FillPath(&back, &box);

        Gdiplus::SolidBrush white(argb(alpha.text, 0xFFFFFF));
        g.DrawString(title.c_str(), -1, title_font.get(), Gdiplus::PointF(18, 8), &white);
        // The dot covers the circle character in the chosen colour.
        const Gdiplus::REAL dot = static_cast<Gdiplus::REAL>(0.72 * px);
        Gdiplus::SolidBrush dot_brush(argb(alpha.text, badge_dot_colour(s.colour)));
        g.FillEllipse(&dot_brush, 18.0f, title_box.Height * 0.28f + 8, dot, dot);

        if (!second.empty()) {
            Gdiplus::SolidBrush grey(argb(alpha.second, 0xD2DAEB));
            Gdiplus::RectF r(18, title_box.Height + 10, w - 36, second_box.Height + 4);
            g.DrawString(second.c_str(), -1, second_font.get(), r, &rtl, &grey);
        }
        g.Flush(Gdiplus::FlushIntentionSync);
    }
    return pic;
}

WorkArea primary_work_area() {
    RECT rc{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0))
        rc = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return {int(rc.left), int(rc.top), int(rc.right - rc.left), int(rc.bottom - rc.top)};
}

HWND create_badge_window() {
    if (!register_window_class(k_class, DefWindowProcW)) return nullptr;
    return CreateWindowExW(
        WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE,
        k_class, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Draws the badge and moves it to its corner of the current work area.
bool draw_badge(HWND hwnd, const BadgeSettings& s) {
    auto pic = render_badge_picture(s);
    if (!pic) return false;
    const BadgePoint p = badge_position(primary_work_area(), s.corner, pic->width, pic->height);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, pic->bitmap);
    POINT dst{p.x, p.y}, src{0, 0};
    SIZE size{pic->width, pic->height};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    const BOOL ok = UpdateLayeredWindow(hwnd, screen, &dst, &size, mem, &src, 0, &blend, ULW_ALPHA);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok != FALSE;
}

// Dispatches this thread's window messages for the given time.
void pump_messages_for(unsigned ms) {
    const uint64_t until = tick_ms() + ms;
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        const uint64_t now = tick_ms();
        if (now >= until) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    }
}

void badge_thread(BadgeSettings s, std::function<int()> viewers) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR gdiplus = 0;
    const bool have_gdiplus = Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr) == Gdiplus::Ok;
    HWND hwnd = have_gdiplus ? create_badge_window() : nullptr;
    if (!hwnd) {
        engine_log("OSD: cannot create the streaming warning window (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
    } else if (!SetWindowDisplayAffinity(hwnd, k_exclude_from_capture)) {
        // Older systems and Wine cannot leave the window out of a capture: the
        // badge then shows in the stream too, which is better than no badge.
        engine_log(
            "OSD: cannot exclude the streaming warning from screen capture (error %lu) - "
            "it shows in the stream\n",
            static_cast<unsigned long>(GetLastError()));
    }
    bool shown = false, drawn = false;
    uint64_t drawn_at = 0;
    while (g_armed.load()) {
        pump_messages_for(500);
        const int n = viewers();
        if (n > 0 && !shown) {
            if (hwnd) {
                drawn = draw_badge(hwnd, s);
                if (drawn)
                    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
                else
                    engine_log("OSD: cannot draw the streaming warning\n");
            }
            drawn_at = tick_ms();
            shown = true;
            engine_log("OSD: streaming warning shown (viewers=%d)\n", n);
        } else if (n > 0 && shown && hwnd && tick_ms() - drawn_at > 5000) {
            // Follows changes of the work area (taskbar moved, resolution).
            if (draw_badge(hwnd, s) && !drawn) {
                ShowWindow(hwnd, SW_SHOWNOACTIVATE);
                drawn = true;
            }
            drawn_at = tick_ms();
        } else if (n <= 0 && shown) {
            if (hwnd) ShowWindow(hwnd, SW_HIDE);
            shown = false;
            engine_log("OSD: streaming warning hidden\n");
        }
    }
    if (hwnd) DestroyWindow(hwnd);
    UnregisterClassW(k_class, GetModuleHandleW(nullptr));
    if (have_gdiplus) Gdiplus::GdiplusShutdown(gdiplus);
}

}  // namespace

bool arm_stream_badge(const BadgeSettings& s, std::function<int()> viewers) {
    if (g_armed.exchange(true)) return false;
    std::thread(badge_thread, s, std::move(viewers)).detach();
    return true;
}
