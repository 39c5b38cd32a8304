// Test helper: stands in for a camera that runs in another session. It holds
// the camera's single-instance mutex but has no "ZEBAdminMsg" window, so a start
// beside it cannot deliver the show-panel request. Prints "held" once it owns
// the name and keeps it until its standard input closes.
#include <windows.h>

#include <cstdio>

int main() {
    HANDLE m = CreateMutexW(nullptr, FALSE, L"Global\\Orvanta.Vistrel.SingleInstance");
    if (!m) {
        std::printf("error %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
