// Taskbar rectangle on Windows: the shell tells where the taskbar sits
// (SHAppBarMessage, ABM_GETTASKBARPOS). The question is asked as a
// per-monitor DPI-aware thread, so the rectangle is in the same physical
// pixels as the captured picture even on a scaled screen.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include "video/motion_detector.h"
#include "video/motion_taskbar.h"

namespace {

using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);

SetContext dpi_setter() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return nullptr;
    return reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
}

}  // namespace

bool motion_query_taskbar(MotionRect* rect) {
    if (!rect) return false;
    static const SetContext set_context = dpi_setter();
    DPI_AWARENESS_CONTEXT previous = nullptr;
    if (set_context) {
        previous = set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        if (!previous) previous = set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    }
    APPBARDATA data{};
    data.cbSize = sizeof data;
    const bool answered = SHAppBarMessage(ABM_GETTASKBARPOS, &data) != 0;
    if (previous) set_context(previous);
    const RECT& r = data.rc;
    if (!answered || r.right <= r.left || r.bottom <= r.top) return false;
    *rect = MotionRect{static_cast<int32_t>(r.left), static_cast<int32_t>(r.top),
                       static_cast<int32_t>(r.right), static_cast<int32_t>(r.bottom)};
    return true;
}
