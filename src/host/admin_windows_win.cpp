// Window set-up of the Windows desktop interface: the message-only window a
// second start posts to, the control panel's class and the tray watch.
#include <windows.h>

#include "engine/log.h"
#include "host/admin_windows.h"
#include "host/window_class_win.h"

namespace {

const wchar_t k_msg_class[] = L"ZEBAdminMsg";
const wchar_t k_panel_class[] = L"ZEBAdminWnd";
const wchar_t k_watch_class[] = L"ZEBTrayWatch";

AdminWindowHandlers g_handlers;  // used on the loop thread only
UINT g_show_msg = 0;
UINT g_taskbar_msg = 0;
HWND g_msg_window = nullptr;
HWND g_watch_window = nullptr;

void call(const std::function<void()>& f) {
    if (f) f();
}

LRESULT CALLBACK message_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (g_show_msg && msg == g_show_msg) {
        call(g_handlers.show_panel);
        return 0;
    }
    if (msg == k_tray_callback_message && g_handlers.tray_event) {
        g_handlers.tray_event(static_cast<long long>(lp));
        return 0;
    }
    if (msg == WM_COMMAND && g_handlers.command) {
        g_handlers.command(LOWORD(wp));
        return 0;
    }
    if (msg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK watch_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (g_taskbar_msg && msg == g_taskbar_msg) {
        call(g_handlers.taskbar_created);
        return 0;
    }
    if (msg == WM_QUERYENDSESSION) {
        call(g_handlers.session_ending);
        return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// A start of another integrity level (an elevated prompt, a restricted one)
// may still post the message.
void allow_message(HWND hwnd, UINT msg) {
    if (hwnd && msg && !ChangeWindowMessageFilterEx(hwnd, msg, MSGFLT_ALLOW, nullptr))
        engine_log("Panel: cannot let window message 0x%X through the filter (error %lu)\n", msg,
                   static_cast<unsigned long>(GetLastError()));
}

}  // namespace

bool setup_admin_windows(const AdminWindowHandlers& handlers) {
    g_handlers = handlers;
    const HINSTANCE inst = GetModuleHandleW(nullptr);

    g_show_msg = RegisterWindowMessageW(L"ZEB_ShowAdmin_Orvanta");
    if (register_window_class(k_msg_class, message_window_proc))
        g_msg_window = CreateWindowExW(0, k_msg_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       inst, nullptr);
    if (!g_msg_window) {
        engine_log("Panel: cannot create the ZEBAdminMsg window (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        return false;
    }
    allow_message(g_msg_window, g_show_msg);

    // The control panel's windows are made of this class when it opens.
    if (!register_window_class(k_panel_class, DefWindowProcW))
        engine_log("Panel: cannot register the ZEBAdminWnd class (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));

    // "TaskbarCreated" goes to top-level windows only, hence a hidden pop-up
    // rather than a second message-only window.
    g_taskbar_msg = RegisterWindowMessageW(L"TaskbarCreated");
    if (register_window_class(k_watch_class, watch_window_proc))
        g_watch_window = CreateWindowExW(WS_EX_TOOLWINDOW, k_watch_class, L"", WS_POPUP, 0, 0, 0, 0,
                                         nullptr, nullptr, inst, nullptr);
    if (!g_watch_window)
        engine_log("Panel: cannot create the ZEBTrayWatch window (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
    allow_message(g_watch_window, g_taskbar_msg);
    return true;
}

void* admin_message_window() {
    return g_msg_window;
}

void* admin_watch_window() {
    return g_watch_window;
}

void destroy_admin_windows() {
    if (g_watch_window) DestroyWindow(g_watch_window);
    if (g_msg_window) DestroyWindow(g_msg_window);
    g_watch_window = g_msg_window = nullptr;
    g_handlers = {};
}
