// Test helper: drives the control panel of a running zeb_onvif.exe the way a
// user would, with window messages to its controls (by control id):
//   panel_driver WRONG_PASSWORD PASSWORD FPS
// waits for the login window, tries the wrong password (the window must say
// so), logs in, waits for the panel, tries fps 0 (the settings check must
// refuse it), then sets fps to FPS, switches the language (the window comes
// back mirrored with the entry kept) and presses Apply & restart. One line per
// step on standard output; exit 1 at the first step that fails.
//   panel_driver cancel
// presses Cancel in the login window;
//   panel_driver quit
// closes a running camera's message window and waits until it is gone.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ui/panel_win.h"

namespace {

HWND wait_window(const wchar_t* cls, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        HWND w = FindWindowW(cls, nullptr);
        if (w && IsWindowVisible(w)) return w;
        Sleep(100);
    }
    return nullptr;
}

bool send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(w, msg, wp, lp, SMTO_NORMAL, 30000, &result) != 0;
}

bool set_text(HWND parent, int id, const std::wstring& text) {
    HWND c = GetDlgItem(parent, id);
    return c && send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool click(HWND parent, int id) {
    HWND c = GetDlgItem(parent, id);
    return c && send(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c));
}

std::string text_of(HWND parent, int id) {
    wchar_t buf[1024] = {};
    HWND c = GetDlgItem(parent, id);
    if (!c || !send(c, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf))) return {};
    char out[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, buf, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

int fail(const char* what) {
    std::printf("FAIL %s\n", what);
    return 1;
}

std::wstring wide(const char* s) {
    return std::wstring(s, s + strlen(s));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "cancel") {
        HWND login = wait_window(L"ZEBLoginWnd", 60);
        if (!login || !click(login, panel_ids::login_cancel)) return fail("no login window");
        std::printf("cancelled\n");
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "quit") {
        // As the message window's WM_CLOSE ends a camera's loop.
        HWND msg = FindWindowExW(HWND_MESSAGE, nullptr, L"ZEBAdminMsg", nullptr);
        if (!msg || !PostMessageW(msg, WM_CLOSE, 0, 0)) return fail("no camera to end");
        for (int i = 0; i < 600 && FindWindowExW(HWND_MESSAGE, nullptr, L"ZEBAdminMsg", nullptr);
             ++i)
            Sleep(100);
        if (FindWindowExW(HWND_MESSAGE, nullptr, L"ZEBAdminMsg", nullptr))
            return fail("the camera did not end");
        std::printf("ended\n");
        return 0;
    }
    if (argc != 4) return fail("usage: panel_driver WRONG_PASSWORD PASSWORD FPS | cancel");
    HWND login = wait_window(L"ZEBLoginWnd", 60);
    if (!login) return fail("no login window");
    std::printf("login window\n");
    if (!set_text(login, panel_ids::login_password, wide(argv[1])) ||
        !click(login, panel_ids::login_ok))
        return fail("login controls");
    if (FindWindowW(L"ZEBAdminWnd", nullptr)) return fail("the wrong password opened the panel");
    std::printf("wrong password: %s\n", text_of(login, panel_ids::login_error).c_str());
    if (!set_text(login, panel_ids::login_password, wide(argv[2])) ||
        !click(login, panel_ids::login_ok))
        return fail("login controls");
    HWND panel = wait_window(L"ZEBAdminWnd", 60);
    if (!panel) return fail("no control panel after logging in");
    RECT r{};
    GetWindowRect(panel, &r);
    const LONG style = GetWindowLongW(panel, GWL_STYLE);
    std::printf("panel %ldx%ld at %ld,%ld screen %dx%d caption=%d sysmenu=%d minimize=%d\n",
                r.right - r.left, r.bottom - r.top, r.left, r.top, GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN), (style & WS_CAPTION) == WS_CAPTION,
                (style & WS_SYSMENU) != 0, (style & WS_MINIMIZEBOX) != 0);
    const int fps_id = panel_ids::field_first;  // fps is the first field
    std::printf("fps shown: %s\n", text_of(panel, fps_id).c_str());
    if (!set_text(panel, fps_id, L"0") || !click(panel, panel_ids::apply))
        return fail("panel controls");
    std::printf("refused: %s\n", text_of(panel, panel_ids::error).c_str());
    // The language button rebuilds the window mirrored, keeping the entry.
    if (!set_text(panel, fps_id, wide(argv[3])) || !click(panel, panel_ids::lang))
        return fail("panel controls");
    HWND again = nullptr;
    for (int i = 0; i < 600 && !again; ++i) {
        HWND w = FindWindowW(L"ZEBAdminWnd", nullptr);
        if (w && w != panel && IsWindowVisible(w))
            again = w;
        else
            Sleep(100);
    }
    if (!again) return fail("no panel after the language switch");
    panel = again;
    std::printf("switched: rtl=%d fps=%s\n",
                (GetWindowLongW(panel, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0,
                text_of(panel, fps_id).c_str());
    if (!click(panel, panel_ids::apply)) return fail("panel controls");
    std::printf("applied\n");
    return 0;
}
