// Control-panel loop without the desktop panel: a message loop on the main
// thread with the message-only window "ZEBAdminMsg" that a second start posts
// "ZEB_ShowAdmin_Orvanta" to. It ends on Ctrl+C, Ctrl+Break, closing the
// console, signing out or shutting down (SetConsoleCtrlHandler), and on
// WM_CLOSE to the window or WM_QUIT to the thread.
// (The descriptor helpers of panel_loop.h serve the GTK desktop only.)
#include <windows.h>

#include <atomic>

#include "engine/log.h"
#include "host/panel_loop.h"

namespace {

std::atomic<DWORD> g_loop_thread{0};
HANDLE g_loop_done = nullptr;  // set when the loop has returned
UINT g_show_msg = 0;

BOOL WINAPI on_console_event(DWORD type) {
    const DWORD thread = g_loop_thread.load();
    if (!thread) return FALSE;
    PostThreadMessageW(thread, WM_QUIT, 0, 0);
    // Closing the console, signing out and shutting down end the process as
    // soon as this returns: give the loop a moment to finish first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        if (g_loop_done) WaitForSingleObject(g_loop_done, 4000);
    return TRUE;
}

LRESULT CALLBACK message_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (g_show_msg && msg == g_show_msg) {
        engine_log("Panel: show-panel request received (the desktop panel is not in this build)\n");
        return 0;
    }
    if (msg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND create_message_window() {
    g_show_msg = RegisterWindowMessageW(L"ZEB_ShowAdmin_Orvanta");
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = message_window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZEBAdminMsg";
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    HWND hwnd = CreateWindowExW(0, L"ZEBAdminMsg", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    // A start at another integrity level may still ask for the panel.
    if (hwnd && g_show_msg) ChangeWindowMessageFilterEx(hwnd, g_show_msg, MSGFLT_ALLOW, nullptr);
    return hwnd;
}

}  // namespace

void block_stop_signals() {
    // Console events arrive on a thread of their own; nothing to block.
}

int run_control_panel_loop(const PanelLoopArgs& args) {
    MSG msg;
    // Makes this thread's message queue before anyone can post to it.
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    g_loop_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_loop_thread.store(GetCurrentThreadId());
    // Fails harmlessly when the process has no console.
    SetConsoleCtrlHandler(on_console_event, TRUE);
    HWND window = args.listen_for_show && !args.panel_only ? create_message_window() : nullptr;
    if (args.listen_for_show && !args.panel_only && !window)
        engine_log("Panel: cannot create the ZEBAdminMsg window (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (window) DestroyWindow(window);
    g_loop_thread.store(0);
    if (g_loop_done) SetEvent(g_loop_done);
    return 0;
}
