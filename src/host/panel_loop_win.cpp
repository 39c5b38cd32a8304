// Control-panel loop without the desktop panel: a message loop on the main
// thread with the desktop interface's windows (admin_windows.h): the
// message-only window "ZEBAdminMsg" that a second start posts
// "ZEB_ShowAdmin_Orvanta" to, the "ZEBAdminWnd" class and the "ZEBTrayWatch"
// pop-up. It ends on Ctrl+C, Ctrl+Break, closing the console, signing out or
// shutting down (SetConsoleCtrlHandler), and on WM_CLOSE to the message window
// or WM_QUIT to the thread.
// (The descriptor helpers of panel_loop.h serve the GTK desktop only.)
#include <windows.h>

#include <atomic>
#include <functional>

#include "engine/log.h"
#include "host/admin_windows.h"
#include "host/panel_loop.h"

namespace {

std::atomic<DWORD> g_loop_thread{0};
HANDLE g_loop_done = nullptr;        // set when the loop has returned
std::function<void()> g_show_panel;  // the desktop interface's panel, if any

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

}  // namespace

void set_show_panel_handler(std::function<void()> show) {
    g_show_panel = std::move(show);
}

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
    bool windows = false;
    if (args.listen_for_show && !args.panel_only) {
        // No tray icon yet, so nothing to restore when the taskbar comes back.
        AdminWindowHandlers h;
        h.show_panel = [] {
            if (!g_show_panel) {
                engine_log(
                    "Panel: show-panel request received (the desktop panel is not in this "
                    "build)\n");
                return;
            }
            engine_log("Panel: show-panel request received\n");
            g_show_panel();
        };
        windows = setup_admin_windows(h);
    }
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab, Enter and Esc in the panel and login windows, as in a dialog.
        HWND active = GetActiveWindow();
        if (active && IsDialogMessageW(active, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (windows) destroy_admin_windows();
    g_loop_thread.store(0);
    if (g_loop_done) SetEvent(g_loop_done);
    return 0;
}
