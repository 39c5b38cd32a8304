// Primary screen size from user32's system metrics.
#include <windows.h>

#include "engine/screen_metrics.h"

ScreenSize primary_screen_size() {
    ScreenSize s;
    s.width = GetSystemMetrics(SM_CXSCREEN);
    s.height = GetSystemMetrics(SM_CYSCREEN);
    if (s.width < 1 || s.height < 1) s = ScreenSize{};
    return s;
}

std::string screen_unavailable_reason() {
    return "no desktop screen in this session (GetSystemMetrics gave 0x0)";
}
