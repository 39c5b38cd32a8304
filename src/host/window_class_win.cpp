#include "host/window_class_win.h"

HICON program_icon(bool small) {
    const int w = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    const int h = GetSystemMetrics(small ? SM_CYSMICON : SM_CYICON);
    // Shared: the system keeps one copy, and nobody has to destroy it.
    HANDLE icon =
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, w, h, LR_SHARED);
    return icon ? static_cast<HICON>(icon) : LoadIconW(nullptr, IDI_APPLICATION);
}

bool register_window_class(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = program_icon(false);
    wc.hIconSm = program_icon(true);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
