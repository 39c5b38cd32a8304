// A borderless, topmost Win32 window with known content for capture checks:
// four solid quadrants, top-left red, top-right green, bottom-left blue,
// bottom-right white.
//
//   show_window.exe [X Y WIDTH HEIGHT] [--event NAME] [--stdin]
//
// Prints "show_window: ready X Y WIDTH HEIGHT" once the window is painted and
// stays until it is killed, until the named event NAME is set, or (--stdin)
// until standard input reaches its end. The pointer over it is the arrow.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr COLORREF k_colours[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                   RGB(255, 255, 255)};

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r;
            GetClientRect(hwnd, &r);
            const int hw = r.right / 2, hh = r.bottom / 2;
            const RECT parts[4] = {{0, 0, hw, hh},
                                   {hw, 0, r.right, hh},
                                   {0, hh, hw, r.bottom},
                                   {hw, hh, r.right, r.bottom}};
            for (int i = 0; i < 4; ++i) {
                HBRUSH b = CreateSolidBrush(k_colours[i]);
                FillRect(dc, &parts[i], b);
                DeleteObject(b);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

struct Watch {
    HWND window;
    HANDLE event;
};

DWORD WINAPI wait_event(void* arg) {
    auto* w = static_cast<Watch*>(arg);
    WaitForSingleObject(w->event, INFINITE);
    PostMessageW(w->window, WM_CLOSE, 0, 0);
    return 0;
}

DWORD WINAPI wait_stdin(void* arg) {
    auto* w = static_cast<Watch*>(arg);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buf[256];
    DWORD got = 0;
    while (ReadFile(in, buf, sizeof buf, &got, nullptr) && got > 0) {
    }
    PostMessageW(w->window, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int geometry[4] = {100, 100, 400, 300};
    int given = 0;
    const wchar_t* event_name = nullptr;
    bool until_stdin = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--event") == 0 && i + 1 < argc) {
            event_name = argv[++i];
        } else if (std::wcscmp(argv[i], L"--stdin") == 0) {
            until_stdin = true;
        } else if (given < 4) {
            geometry[given++] = _wtoi(argv[i]);
        } else {
            std::fprintf(stderr,
                         "usage: show_window.exe [X Y WIDTH HEIGHT] [--event NAME] [--stdin]\n");
            return 2;
        }
    }
    if (given != 0 && given != 4) {
        std::fprintf(stderr, "show_window: give all of X Y WIDTH HEIGHT\n");
        return 2;
    }
    // Physical pixels, like the camera's capture.
    using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    if (auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext"))))
        set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = L"VistrelShowWindow";
    if (!RegisterClassW(&wc)) {
        std::fprintf(stderr, "show_window: RegisterClass failed (%lu)\n", GetLastError());
        return 1;
    }
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"Vistrel test window", WS_POPUP,
                                geometry[0], geometry[1], geometry[2], geometry[3], nullptr,
                                nullptr, instance, nullptr);
    if (!hwnd) {
        std::fprintf(stderr, "show_window: CreateWindowEx failed (%lu)\n", GetLastError());
        return 1;
    }
    // In front and active, so that the pointer over it is its arrow (the
    // system reports the cursor of the foreground window's thread).
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    SetCursor(wc.hCursor);
    UpdateWindow(hwnd);
    GdiFlush();

    Watch watch{hwnd, nullptr};
    if (event_name) {
        watch.event = CreateEventW(nullptr, TRUE, FALSE, event_name);
        if (!watch.event) {
            std::fprintf(stderr, "show_window: CreateEvent failed (%lu)\n", GetLastError());
            return 1;
        }
        CloseHandle(CreateThread(nullptr, 0, wait_event, &watch, 0, nullptr));
    }
    if (until_stdin) CloseHandle(CreateThread(nullptr, 0, wait_stdin, &watch, 0, nullptr));

    std::printf("show_window: ready %d %d %d %d\n", geometry[0], geometry[1], geometry[2],
                geometry[3]);
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
