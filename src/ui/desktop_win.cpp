// The desktop loop of an interactive start on Windows: the admin windows'
// message loop on the main thread, the tray icon (Shell_NotifyIconW) and its
// menu, the show-panel request of a second start, the icon's return when the
// shell re-creates the taskbar, and Ctrl+C or the console closing; the control
// panel and its login window are panel_window_win.cpp's. Also the
// welcome window (the welcome picture and a Start button) and the end-user
// agreement (accept or decline), both run modally before the loop.
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/ui_strings.h"
#include "engine/wide_text_win.h"
#include "host/admin_windows.h"
#include "host/window_class_win.h"
#include "rtsp/rtsp_engine.h"
#include "ui/desktop.h"
#include "ui/panel_win.h"
#include "ui/welcome_canvas.h"

namespace {

// Tray-menu items; a WM_COMMAND with one of these ids to the "ZEBAdminMsg"
// window does what the item does.
constexpr unsigned k_cmd_open = 1001;
constexpr unsigned k_cmd_pause = 1002;
constexpr unsigned k_cmd_copy = 1003;
constexpr unsigned k_cmd_exit = 1004;
constexpr unsigned k_cmd_lang = 1005;

const wchar_t k_welcome_class[] = L"ZEBWelcomeWnd";
const wchar_t k_agreement_class[] = L"ZEBAgreementWnd";

std::atomic<DWORD> g_ui_thread{0};  // the thread whose windows are on show
std::atomic<bool> g_stop{false};    // Ctrl+C, Ctrl+Break, the console closing
HANDLE g_loop_done = nullptr;

BOOL WINAPI on_console_event(DWORD type) {
    const DWORD thread = g_ui_thread.load();
    if (!thread) return FALSE;
    g_stop = true;
    PostThreadMessageW(thread, WM_QUIT, 0, 0);
    // Closing the console, signing out and shutting down end the process as
    // soon as this returns: give the loop a moment to finish first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        if (g_loop_done) WaitForSingleObject(g_loop_done, 4000);
    return TRUE;
}

// The calling thread becomes the one that a console event ends.
void watch_console() {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
    if (g_ui_thread.exchange(GetCurrentThreadId()) == 0)
        SetConsoleCtrlHandler(on_console_event, TRUE);  // fails harmlessly without a console
}

// Start-up windows run before the loop: a console stop there ends the process.
void exit_if_stopped() {
    if (!g_stop) return;
    engine_log("UI: stop signal - exiting\n");
    std::fflush(stdout);
    std::_Exit(0);
}

HFONT ui_font() {
    static HFONT f = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                 DEFAULT_PITCH, L"Segoe UI");
    return f ? f : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// ---- modal windows: welcome and agreement ----

struct ModalState {
    int result = 0;  // IDOK, IDCANCEL, or 0 while open
    Canvas* picture = nullptr;
};

LRESULT CALLBACK modal_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* st = reinterpret_cast<ModalState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(
                hwnd, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
            break;
        case WM_COMMAND:
            if (st && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
                st->result = LOWORD(wp);
                DestroyWindow(hwnd);
                return 0;
            }
            break;
        case WM_CLOSE:
            if (st) st->result = IDCANCEL;
            DestroyWindow(hwnd);
            return 0;
        case WM_PAINT:
            if (st && st->picture) {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hwnd, &ps);
                Canvas& c = *st->picture;
                BITMAPINFO bi{};
                bi.bmiHeader.biSize = sizeof bi.bmiHeader;
                bi.bmiHeader.biWidth = c.width();
                bi.bmiHeader.biHeight = -c.height();  // top-down
                bi.bmiHeader.biPlanes = 1;
                bi.bmiHeader.biBitCount = 32;
                bi.bmiHeader.biCompression = BI_RGB;
                SetDIBitsToDevice(dc, 0, 0, c.width(), c.height(), 0, 0, 0, c.height(), c.pixels(),
                                  &bi, DIB_RGB_COLORS);
                EndPaint(hwnd, &ps);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// A top-level window with the given client size, centred on the primary screen.
HWND make_modal(const wchar_t* cls, const std::string& title, int cw, int ch, bool arabic,
                ModalState* st) {
    if (!register_window_class(cls, modal_proc)) return nullptr;
    const DWORD style = WS_CAPTION | WS_SYSMENU;
    const DWORD ex = WS_EX_DLGMODALFRAME | (arabic ? WS_EX_LAYOUTRTL : 0);
    RECT r{0, 0, cw, ch};
    AdjustWindowRectEx(&r, style, FALSE, ex);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    return CreateWindowExW(ex, cls, utf8_to_wide(title).c_str(), style, x > 0 ? x : 0,
                           y > 0 ? y : 0, w, h, nullptr, nullptr, GetModuleHandleW(nullptr), st);
}

HWND add_child(HWND parent, const wchar_t* cls, const std::string& text, DWORD style, int x, int y,
               int w, int h, int id) {
    HWND c = CreateWindowExW(0, cls, utf8_to_wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x,
                             y, w, h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    if (c) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font()), TRUE);
    return c;
}

// Runs the window until it is closed; IDCANCEL when it could not be shown.
int run_modal(HWND hwnd, ModalState& st) {
    if (!hwnd) return IDCANCEL;
    watch_console();
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
    MSG msg;
    while (!st.result) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (IsWindow(hwnd)) DestroyWindow(hwnd);
            exit_if_stopped();
            if (!st.result) st.result = IDCANCEL;
            break;
        }
        if (IsDialogMessageW(hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return st.result;
}

// ---- the tray icon ----

struct Desktop {
    PanelLoopArgs args;
    DesktopInfo info;
    bool tray = false;         // the icon is on show
    bool tray_wanted = false;  // the icon belongs on show (restored on "TaskbarCreated")
    NOTIFYICONDATAW nid{};
    Panel* panel = nullptr;
};

Desktop g_desktop;

// The panel's language, which its language switch changes.
bool arabic() {
    return g_desktop.panel ? panel_arabic(*g_desktop.panel) : g_desktop.info.lang == "ar";
}

bool add_tray_icon() {
    Desktop& d = g_desktop;
    d.nid = {};
    d.nid.cbSize = sizeof d.nid;
    d.nid.hWnd = static_cast<HWND>(admin_message_window());
    d.nid.uID = 1;
    d.nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    d.nid.uCallbackMessage = k_tray_callback_message;
    d.nid.hIcon = program_icon(true);
    const std::wstring tip = utf8_to_wide(ui_text("app_title", arabic()));
    wcsncpy(d.nid.szTip, tip.c_str(), sizeof d.nid.szTip / sizeof d.nid.szTip[0] - 1);
    d.tray = d.nid.hWnd && Shell_NotifyIconW(NIM_ADD, &d.nid);
    return d.tray;
}

// The tooltip follows the language.
void retitle_tray_icon() {
    Desktop& d = g_desktop;
    if (!d.tray) return;
    const std::wstring tip = utf8_to_wide(ui_text("app_title", arabic()));
    d.nid.szTip[0] = L'\0';
    wcsncpy(d.nid.szTip, tip.c_str(), sizeof d.nid.szTip / sizeof d.nid.szTip[0] - 1);
    d.nid.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &d.nid);
    d.nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
}

void remove_tray_icon() {
    if (g_desktop.tray) Shell_NotifyIconW(NIM_DELETE, &g_desktop.nid);
    g_desktop.tray = false;
}

// The login window (once per run), then the control panel.
void open_panel() {
    if (g_desktop.panel) panel_show(*g_desktop.panel);
}

void copy_link() {
    if (!g_desktop.panel) return;
    const std::wstring link = utf8_to_wide(panel_main_link(*g_desktop.panel));
    if (!OpenClipboard(static_cast<HWND>(admin_message_window()))) return;
    EmptyClipboard();
    const size_t bytes = (link.size() + 1) * sizeof(wchar_t);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (mem) {
        std::memcpy(GlobalLock(mem), link.c_str(), bytes);
        GlobalUnlock(mem);
        if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
    }
    CloseClipboard();
}

// The protect_mode setting, read when the menu opens: no Exit item then.
bool protect_mode() {
    return get_flag(load(g_desktop.info.cfg_path), "protect_mode", false);
}

void on_command(unsigned id) {
    switch (id) {
        case k_cmd_open:
            open_panel();
            break;
        case k_cmd_pause:
            if (g_desktop.panel) panel_toggle_pause(*g_desktop.panel);
            break;
        case k_cmd_copy:
            copy_link();
            break;
        case k_cmd_lang:
            if (g_desktop.panel) panel_set_language(*g_desktop.panel, !arabic());
            retitle_tray_icon();
            engine_log("UI: language switched to %s from the tray\n", arabic() ? "ar" : "en");
            break;
        case k_cmd_exit:
            if (protect_mode()) {
                engine_log("UI: exit refused - protect_mode is on\n");
                break;
            }
            engine_log("UI: exit from the tray menu\n");
            PostQuitMessage(0);
            break;
        default:
            break;
    }
}

void show_tray_menu() {
    const bool ar = arabic();
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    auto item = [&](unsigned id, const char* text) {
        AppendMenuW(menu, MF_STRING, id, utf8_to_wide(ui_text(text, ar)).c_str());
    };
    item(k_cmd_open, "tray_open");
    item(k_cmd_pause, streaming_paused.load() ? "resume" : "pause");
    item(k_cmd_copy, "tray_copy");
    item(k_cmd_lang, "lang_switch");
    if (!protect_mode()) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        item(k_cmd_exit, "tray_exit");
    }
    SetMenuDefaultItem(menu, k_cmd_open, FALSE);
    POINT pt;
    GetCursorPos(&pt);
    HWND owner = static_cast<HWND>(admin_watch_window());
    if (!owner) owner = static_cast<HWND>(admin_message_window());
    SetForegroundWindow(owner);
    const UINT flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON |
                       (ar ? TPM_LAYOUTRTL | TPM_RIGHTALIGN : TPM_LEFTALIGN);
    const unsigned id = TrackPopupMenu(menu, flags, pt.x, pt.y, 0, owner, nullptr);
    PostMessageW(owner, WM_NULL, 0, 0);  // lets the menu close when the user clicks elsewhere
    DestroyMenu(menu);
    if (id) on_command(id);
}

void on_tray_event(long long lp) {
    switch (LOWORD(lp)) {
        case WM_LBUTTONDBLCLK:
            open_panel();
            break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
            show_tray_menu();
            break;
        default:
            break;
    }
}

}  // namespace

bool panel_tray_present() {
    return g_desktop.tray;
}

bool desktop_available() {
    return true;
}

int run_desktop_loop(const PanelLoopArgs& args, const DesktopInfo& info) {
    Desktop& d = g_desktop;
    d.args = args;
    d.info = info;
    watch_console();
    g_loop_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    d.panel = panel_new(args, info, [] {
        engine_log("UI: Apply & restart - this process ends for the relaunched one\n");
        PostQuitMessage(0);
    });
    bool windows = false;
    if (!args.panel_only) {
        AdminWindowHandlers h;
        h.show_panel = [] {
            engine_log("Panel: show-panel request received\n");
            open_panel();
        };
        h.taskbar_created = [] {
            if (!g_desktop.tray_wanted) return;
            remove_tray_icon();
            if (add_tray_icon()) engine_log("UI: taskbar re-created - tray icon added again\n");
        };
        h.session_ending = [] {
            g_desktop.tray_wanted = g_desktop.tray;
            remove_tray_icon();
        };
        h.command = on_command;
        h.tray_event = on_tray_event;
        // In sign-in-screen runs nobody asks for the panel, but the tray
        // still needs the message window for its notifications.
        windows = setup_admin_windows(h);
    }
    if (windows && args.show_icon) {
        d.tray_wanted = true;
        if (add_tray_icon())
            engine_log("UI: tray icon shown\n");
        else
            engine_log("UI: the tray icon could not be added (error %lu)\n",
                       static_cast<unsigned long>(GetLastError()));
    }
    if (args.open_window || args.panel_only || !d.tray) open_panel();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab, Enter and Esc in the panel and login windows, as in a dialog.
        HWND active = GetActiveWindow();
        if (active && IsDialogMessageW(active, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (g_stop) engine_log("UI: stop signal - exiting\n");
    remove_tray_icon();
    if (windows) destroy_admin_windows();
    g_ui_thread.store(0);
    if (g_loop_done) SetEvent(g_loop_done);
    return 0;
}

void show_welcome_window(const WelcomeValues& v, bool ar) {
    auto picture = render_welcome_canvas(v, ar);
    if (!picture) {
        engine_log("UI: the welcome picture could not be drawn\n");
        return;
    }
    ModalState st;
    st.picture = picture.get();
    const int pw = picture->width(), ph = picture->height();
    HWND w = make_modal(k_welcome_class, ui_text("welcome_title", ar), pw, ph + 52, ar, &st);
    if (!w) {
        engine_log("UI: the welcome window could not be made (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        return;
    }
    add_child(w, L"BUTTON", ui_text("welcome_ok", ar), WS_TABSTOP | BS_DEFPUSHBUTTON, pw - 136,
              ph + 10, 120, 32, IDOK);
    engine_log("UI: welcome window shown\n");
    run_modal(w, st);
}

bool show_agreement(bool ar) {
    ModalState st;
    HWND w = make_modal(k_agreement_class, ui_text("eula_title", ar), 560, 300, ar, &st);
    if (!w) {
        engine_log("UI: the agreement window could not be made (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        return false;
    }
    add_child(w, L"STATIC", ui_text("eula_body", ar), SS_LEFT, 16, 16, 528, 220, -1);
    add_child(w, L"BUTTON", ui_text("eula_decline", ar), WS_TABSTOP | BS_PUSHBUTTON, 16, 252, 140,
              32, IDCANCEL);
    add_child(w, L"BUTTON", ui_text("eula_accept", ar), WS_TABSTOP | BS_DEFPUSHBUTTON, 404, 252,
              140, 32, IDOK);
    engine_log("UI: end-user agreement shown\n");
    return run_modal(w, st) == IDOK;
}
