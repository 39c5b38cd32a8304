// Test helper: where a window of the desktop interface is, and a stand-in for
// a click on it.
//   window_rect.exe                 the streaming-warning badge ("ZEBStreamWarn")
//   window_rect.exe CLASS           the first window of CLASS (top-level or message-only)
//   window_rect.exe CLASS ID        also posts WM_COMMAND ID to it (a button, a menu item)
//   window_rect.exe CLASS NAME      also posts the registered message NAME to it
// Prints one line "visible=V left=L top=T right=R bottom=B exstyle=X work=L,T,R,B"
// (then "posted" when it posted), or "none work=..." when there is no such window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    const wchar_t* cls = argc > 1 ? argv[1] : L"ZEBStreamWarn";
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND w = FindWindowW(cls, nullptr);
    if (!w) w = FindWindowExW(HWND_MESSAGE, nullptr, cls, nullptr);
    if (!w) {
        std::printf("none work=%ld,%ld,%ld,%ld\n", work.left, work.top, work.right, work.bottom);
        return 0;
    }
    RECT r{};
    GetWindowRect(w, &r);
    const LONG_PTR ex = GetWindowLongPtrW(w, GWL_EXSTYLE);
    std::printf(
        "visible=%d left=%ld top=%ld right=%ld bottom=%ld exstyle=0x%llx work=%ld,%ld,%ld,%ld\n",
        IsWindowVisible(w) ? 1 : 0, r.left, r.top, r.right, r.bottom,
        static_cast<unsigned long long>(ex), work.left, work.top, work.right, work.bottom);
    if (argc > 2) {
        const bool named = argv[2][0] < L'0' || argv[2][0] > L'9';
        const UINT msg = named ? RegisterWindowMessageW(argv[2]) : WM_COMMAND;
        const WPARAM id = named ? 0 : static_cast<WPARAM>(wcstoul(argv[2], nullptr, 10));
        if (!PostMessageW(w, msg, id, 0)) {
            std::printf("post failed %lu\n", static_cast<unsigned long>(GetLastError()));
            return 1;
        }
        std::printf("posted\n");
    }
    std::fflush(stdout);
    return 0;
}
