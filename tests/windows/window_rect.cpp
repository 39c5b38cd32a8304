// Test helper: where the streaming-warning badge is. Prints one line
// "visible=V left=L top=T right=R bottom=B work=L,T,R,B" for the first window of
// class "ZEBStreamWarn", or "none" when there is no such window.
#include <windows.h>

#include <cstdio>

int main() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND w = FindWindowW(L"ZEBStreamWarn", nullptr);
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
    return 0;
}
