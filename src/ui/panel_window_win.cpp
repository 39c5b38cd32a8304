// The Win32 control panel ("ZEBAdminWnd"): status, video, network, users and
// about pages switched by a row of buttons, refreshed every second, with
// Apply & restart through the shared settings check, export and import of a
// settings file and a live language switch; and the login window
// ("ZEBLoginWnd") that asks for the administrator password before the panel
// opens the first time.
#include <windows.h>

#include <map>
#include <vector>

#include "engine/log.h"
#include "engine/paths.h"
#include "engine/ui_strings.h"
#include "engine/wide_text_win.h"
#include "host/relaunch.h"
#include "host/service.h"
#include "host/window_class_win.h"
#include "rtsp/digest_auth.h"
#include "ui/panel_model.h"
#include "ui/panel_win.h"

namespace {

const wchar_t k_panel_class[] = L"ZEBAdminWnd";
const wchar_t k_login_class[] = L"ZEBLoginWnd";
const UINT_PTR k_refresh_timer = 1;
// Posted by the language button: the window is rebuilt once the button's own
// message has returned.
const UINT k_switch_language = WM_APP + 1;
const int k_width = 760;
const int k_height = 660;

std::string window_text(HWND w) {
    const int n = GetWindowTextLengthW(w);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(w, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return wide_to_utf8(s);
}

void set_text(HWND w, const std::string& text) {
    // An unchanged text costs no repaint (the status page refreshes every second).
    if (window_text(w) != text) SetWindowTextW(w, utf8_to_wide(text).c_str());
}

// A window centred on the primary screen with caption, system menu and
// minimise box; client_w x client_h is the outer size.
HWND make_top_window(const wchar_t* cls, const std::string& title, int w, int h, bool arabic) {
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    return CreateWindowExW(arabic ? WS_EX_LAYOUTRTL : 0, cls, utf8_to_wide(title).c_str(),
                           WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, x < 0 ? 0 : x,
                           y < 0 ? 0 : y, w, h, nullptr, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

HWND child(HWND parent, const wchar_t* cls, DWORD style, int id, int x, int y, int w, int h,
           DWORD ex = 0) {
    HWND c = CreateWindowExW(ex, cls, L"", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    if (c)
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    return c;
}

}  // namespace

struct Panel : PanelModel {
    bool logged_in = false;
    HWND window = nullptr;
    HWND login = nullptr;
    HWND error = nullptr;
    HWND status = nullptr;
    HWND viewers = nullptr;
    HWND motion = nullptr;
    HWND ports = nullptr;
    HWND pause = nullptr;
    HWND file_path = nullptr;
    HWND file_result = nullptr;
    std::map<std::string, HWND> inputs;
    std::vector<HWND> pages[5];
    int page = 0;
    std::map<int, std::string> copy_links;  // control id -> link
    // Texts that follow the language: control, text id, untranslated tail.
    struct Text {
        HWND control;
        const char* id;
        std::string tail;
    };
    std::vector<Text> texts;
};

namespace {

const std::string k_lrm = "\u200E";

std::string t(const Panel& p, const char* id) {
    return panel_text(p, id);
}

HWND tr(Panel& p, HWND w, const char* id, const std::string& tail = "") {
    p.texts.push_back({w, id, tail});
    set_text(w, ui_text(id, p.arabic) + tail);
    return w;
}

bool is_flag(HWND w) {
    return (GetWindowLongW(w, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
}

std::map<std::string, std::string> read_form(Panel& p) {
    std::map<std::string, std::string> form;
    for (auto& [key, w] : p.inputs)
        form.emplace(
            key, is_flag(w)
                     ? std::string(1, SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED ? '1' : '0')
                     : window_text(w));
    return form;
}

void set_inputs(Panel& p, const std::map<std::string, std::string>& values) {
    for (auto& [key, w] : p.inputs) {
        auto it = values.find(key);
        if (it == values.end()) continue;
        if (is_flag(w))
            SendMessageW(w, BM_SETCHECK, it->second == "1" ? BST_CHECKED : BST_UNCHECKED, 0);
        else
            set_text(w, it->second);
    }
}

void fill_inputs(Panel& p) {
    set_inputs(p, panel_file_values(p));
}

void refresh(Panel& p) {
    if (!p.window || !IsWindowVisible(p.window)) return;
    const PanelStatus s = panel_status(p, "\r\n");
    set_text(p.status, s.state);
    set_text(p.pause, s.pause_button);
    set_text(p.viewers, s.viewers);
    set_text(p.motion, s.motion);
    set_text(p.ports, s.ports);
}

void show_page(Panel& p, int page) {
    p.page = page;
    for (int i = 0; i < 5; ++i)
        for (HWND w : p.pages[i]) ShowWindow(w, i == page ? SW_SHOW : SW_HIDE);
}

void copy_to_clipboard(HWND owner, const std::string& text) {
    const std::wstring w = utf8_to_wide(text);
    if (!OpenClipboard(owner)) return;
    EmptyClipboard();
    const size_t bytes = (w.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* dst = GlobalLock(mem)) {
            memcpy(dst, w.c_str(), bytes);
            GlobalUnlock(mem);
            if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
        } else {
            GlobalFree(mem);
        }
    }
    CloseClipboard();
}

void message_box(const Panel& p, const char* title_id, const char* text_id) {
    MessageBoxW(p.window, utf8_to_wide(t(p, text_id)).c_str(), utf8_to_wide(t(p, title_id)).c_str(),
                MB_OK | MB_ICONINFORMATION | (p.arabic ? MB_RTLREADING | MB_RIGHT : 0));
}

void on_apply(Panel& p) {
    const std::string error = panel_save(p, read_form(p));
    set_text(p.error, error);
    if (!error.empty()) return;
    if (p.args.panel_only) {
        // The engine runs in another session: the service picks the request
        // up, or a relaunched start becomes the engine. The panel stays open.
        if (!request_engine_restart(p.args.data_dir)) {
            set_text(p.error, "Could not request the restart (" + file_error_text() + ")");
            return;
        }
        message_box(p, "restart_title", "restart_remote");
        return;
    }
    std::string dir = p.info.cfg_path;
    const size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash);
    if (!relaunch_engine(false, dir)) {
        set_text(p.error, "relaunch failed");
        return;
    }
    if (p.on_exit_for_restart) p.on_exit_for_restart();
}

void on_export(Panel& p) {
    set_text(p.file_result, t(p, panel_export(p, window_text(p.file_path))));
}

void on_import(Panel& p) {
    const bool written = panel_import(p, window_text(p.file_path));
    if (written) fill_inputs(p);
    set_text(p.file_result, t(p, written ? "imported" : "import_failed"));
}

Panel* from(HWND hwnd) {
    return reinterpret_cast<Panel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK panel_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Panel* pp = from(hwnd);
    if (!pp) return DefWindowProcW(hwnd, msg, wp, lp);
    Panel& p = *pp;
    switch (msg) {
        case WM_TIMER:
            if (wp == k_refresh_timer) refresh(p);
            return 0;
        case k_switch_language:
            panel_set_language(p, !p.arabic);
            return 0;
        case WM_COMMAND: {
            const int id = LOWORD(wp);
            if (HIWORD(wp) != BN_CLICKED) break;
            if (id >= panel_ids::tab_first && id < panel_ids::tab_first + 5)
                show_page(p, id - panel_ids::tab_first);
            else if (id == panel_ids::lang)
                PostMessageW(hwnd, k_switch_language, 0, 0);
            else if (id == panel_ids::apply)
                on_apply(p);
            else if (id == panel_ids::pause)
                panel_toggle_pause(p);
            else if (id == panel_ids::file_export)
                on_export(p);
            else if (id == panel_ids::file_import)
                on_import(p);
            else if (p.copy_links.count(id))
                copy_to_clipboard(hwnd, p.copy_links[id]);
            return 0;
        }
        case WM_CLOSE:
            // Without a tray the panel stays on the taskbar so it can be found again.
            if (p.args.show_icon && panel_tray_present())
                ShowWindow(hwnd, SW_HIDE);
            else
                ShowWindow(hwnd, SW_MINIMIZE);
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd, k_refresh_timer);
            if (p.window == hwnd) p.window = nullptr;
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Layout: a label column and an input column, one row per 30 px.
const int k_top = 52;
const int k_row = 30;
const int k_label_x = 16;
const int k_input_x = 240;
const int k_full_w = 712;

void status_page(Panel& p, HWND w) {
    auto& page = p.pages[0];
    int y = k_top;
    auto text_row = [&](int h) {
        HWND l = child(w, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, k_label_x, y, k_full_w, h);
        page.push_back(l);
        y += h + 6;
        return l;
    };
    tr(p, text_row(22), "address", ": " + k_lrm + p.args.address + k_lrm);
    int copy_id = 2400;
    for (const PanelLink& l : panel_links(p)) {
        page.push_back(tr(p, child(w, L"STATIC", SS_LEFT, 0, k_label_x, y + 4, 210, 22), l.id));
        HWND url = child(w, L"EDIT", ES_READONLY | ES_AUTOHSCROLL, 0, k_input_x, y, 380, 24,
                         WS_EX_CLIENTEDGE);
        set_text(url, l.url);
        page.push_back(url);
        page.push_back(tr(p, child(w, L"BUTTON", BS_PUSHBUTTON, copy_id, 630, y, 98, 24), "copy"));
        p.copy_links[copy_id++] = l.url;
        y += k_row + 2;
    }
    if (p.args.panel_only) tr(p, text_row(22), "remote_panel");
    p.status = child(w, L"STATIC", SS_LEFT, 0, k_label_x, y + 4, 500, 22);
    p.pause = child(w, L"BUTTON", BS_PUSHBUTTON, panel_ids::pause, 560, y, 168, 26);
    page.push_back(p.status);
    page.push_back(p.pause);
    y += k_row + 4;
    p.motion = text_row(22);
    p.ports = text_row(60);
    tr(p, text_row(22), "viewers", ":");
    p.viewers = text_row(150);
}

void settings_page(Panel& p, HWND w, int tab) {
    int y = k_top;
    int index = 0;
    for (const PanelField& f : k_panel_fields) {
        const int id = panel_ids::field_first + index++;
        if (f.tab != tab) continue;
        HWND input;
        if (f.kind == PanelFieldKind::flag) {
            input = tr(
                p,
                child(w, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, id, k_label_x, y, k_full_w, 24),
                f.key);
        } else {
            p.pages[tab].push_back(
                tr(p, child(w, L"STATIC", SS_LEFT, 0, k_label_x, y + 4, 215, 22), f.key));
            input = child(w, L"EDIT",
                          ES_AUTOHSCROLL | WS_TABSTOP |
                              (f.kind == PanelFieldKind::password ? ES_PASSWORD : 0),
                          id, k_input_x, y, 488, 24, WS_EX_CLIENTEDGE);
        }
        p.pages[tab].push_back(input);
        p.inputs[f.key] = input;
        y += k_row + 4;
    }
}

void about_page(Panel& p, HWND w) {
    auto& page = p.pages[4];
    int y = k_top;
    auto line = [&](const char* id, const std::string& tail) {
        page.push_back(tr(p,
                          child(w, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, k_label_x, y, k_full_w, 22),
                          id, tail));
        y += k_row;
    };
    line("app_title", "");
    line("version", ": " + k_lrm + p.info.version + k_lrm);
    line("data_dir", ": " + k_lrm + p.args.data_dir + k_lrm);
    page.push_back(tr(p, child(w, L"STATIC", SS_LEFT, 0, k_label_x, y + 4, 215, 22), "file_path"));
    p.file_path = child(w, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, panel_ids::file_path, k_input_x, y,
                        488, 24, WS_EX_CLIENTEDGE);
    page.push_back(p.file_path);
    y += k_row + 4;
    page.push_back(
        tr(p, child(w, L"BUTTON", BS_PUSHBUTTON, panel_ids::file_export, k_label_x, y, 160, 26),
           "export"));
    page.push_back(tr(
        p, child(w, L"BUTTON", BS_PUSHBUTTON, panel_ids::file_import, k_label_x + 170, y, 160, 26),
        "import"));
    y += k_row + 6;
    p.file_result =
        child(w, L"STATIC", SS_LEFT, panel_ids::file_result, k_label_x, y, k_full_w, 22);
    page.push_back(p.file_result);
}

void panel_build(Panel& p) {
    HWND w = p.window;
    const char* tabs[] = {"tab_status", "tab_video", "tab_network", "tab_users", "tab_about"};
    for (int i = 0; i < 5; ++i)
        tr(p,
           child(w, L"BUTTON", BS_PUSHBUTTON, panel_ids::tab_first + i, 12 + i * 116, 10, 110, 30),
           tabs[i]);
    tr(p, child(w, L"BUTTON", BS_PUSHBUTTON, panel_ids::lang, 612, 10, 120, 30), "lang_switch");
    status_page(p, w);
    for (int tab = 1; tab <= 3; ++tab) settings_page(p, w, tab);
    about_page(p, w);
    p.error =
        child(w, L"STATIC", SS_LEFT | SS_NOPREFIX, panel_ids::error, k_label_x, 520, k_full_w, 44);
    tr(p, child(w, L"BUTTON", BS_DEFPUSHBUTTON, panel_ids::apply, 528, 572, 200, 32),
       "apply_restart");
    fill_inputs(p);
    show_page(p, 0);
}

bool create_panel_window(Panel& p, bool log_open = true) {
    register_window_class(k_panel_class, DefWindowProcW);
    p.window = make_top_window(k_panel_class, t(p, "app_title"), k_width, k_height, p.arabic);
    if (!p.window) {
        engine_log("UI: cannot create the control panel window (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        return false;
    }
    // The class may have been registered without the panel's procedure (the
    // window set-up of the desktop loop): the window takes it over here.
    SetWindowLongPtrW(p.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&p));
    SetWindowLongPtrW(p.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(panel_proc));
    panel_build(p);
    SetTimer(p.window, k_refresh_timer, 1000, nullptr);
    if (log_open) engine_log("UI: control panel opened\n");
    return true;
}

void open_panel_window(Panel& p) {
    if (!p.window && !create_panel_window(p)) return;
    ShowWindow(p.window, IsIconic(p.window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(p.window);
    refresh(p);
}

// --- login window ---------------------------------------------------------

HWND login_control(const Panel& p, int id) {
    return GetDlgItem(p.login, id);
}

void login_try(Panel& p) {
    HWND entry = login_control(p, panel_ids::login_password);
    if (equal_constant_time(window_text(entry), p.info.admin_pass)) {
        p.logged_in = true;
        DestroyWindow(p.login);
        open_panel_window(p);
        return;
    }
    engine_log("UI: wrong password in the login window\n");
    set_text(login_control(p, panel_ids::login_error), t(p, "login_wrong"));
    SetWindowTextW(entry, L"");
    SetFocus(entry);
}

// A panel-only start has nothing else to show: without the login it ends
// rather than stay on with no window. An engine keeps running.
void login_give_up(Panel& p) {
    DestroyWindow(p.login);
    if (p.args.panel_only && !p.logged_in) {
        engine_log("UI: login cancelled - the panel-only start ends\n");
        PostQuitMessage(0);
    }
}

LRESULT CALLBACK login_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Panel* pp = from(hwnd);
    if (!pp) return DefWindowProcW(hwnd, msg, wp, lp);
    Panel& p = *pp;
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wp) != BN_CLICKED) break;
            if (LOWORD(wp) == panel_ids::login_ok || LOWORD(wp) == IDOK)
                login_try(p);
            else if (LOWORD(wp) == panel_ids::login_cancel || LOWORD(wp) == IDCANCEL)
                login_give_up(p);
            return 0;
        case WM_CLOSE:
            login_give_up(p);
            return 0;
        case WM_DESTROY:
            p.login = nullptr;
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Not modal: the message loop goes on serving the engine's windows while the
// login window waits; a second request brings it forward.
void open_login_window(Panel& p) {
    if (p.login) {
        ShowWindow(p.login, SW_RESTORE);
        SetForegroundWindow(p.login);
        return;
    }
    register_window_class(k_login_class, login_proc);
    p.login = make_top_window(k_login_class, t(p, "login_title"), 440, 230, p.arabic);
    if (!p.login) {
        engine_log("UI: cannot create the login window (error %lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        return;
    }
    SetWindowLongPtrW(p.login, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&p));
    HWND w = p.login;
    set_text(child(w, L"STATIC", SS_LEFT, 0, 16, 14, 400, 22), t(p, "login_prompt"));
    HWND entry = child(w, L"EDIT", ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP,
                       panel_ids::login_password, 16, 42, 400, 24, WS_EX_CLIENTEDGE);
    child(w, L"STATIC", SS_LEFT, panel_ids::login_error, 16, 74, 400, 22);
    set_text(
        child(w, L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, panel_ids::login_ok, 206, 112, 100, 30),
        t(p, "login"));
    set_text(
        child(w, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, panel_ids::login_cancel, 316, 112, 100, 30),
        t(p, "cancel"));
    ShowWindow(w, SW_SHOW);
    SetForegroundWindow(w);
    SetFocus(entry);
}

}  // namespace

Panel* panel_new(const PanelLoopArgs& args, const DesktopInfo& info,
                 std::function<void()> exit_for_restart) {
    Panel* p = new Panel;
    panel_model_init(*p, args, info, std::move(exit_for_restart));
    return p;
}

void panel_show(Panel& p) {
    if (!p.logged_in)
        open_login_window(p);
    else
        open_panel_window(p);
}

namespace {

// The window again in the other reading direction (a mirrored layout is
// fixed when a window is made), with what the user typed and the page shown.
void rebuild_mirrored(Panel& p) {
    const std::map<std::string, std::string> form = read_form(p);
    const std::string path = window_text(p.file_path);
    const int page = p.page;
    const bool visible = IsWindowVisible(p.window);
    const bool iconic = IsIconic(p.window);
    HWND old = p.window;
    p.window = nullptr;
    p.inputs.clear();
    p.texts.clear();
    p.copy_links.clear();
    for (auto& list : p.pages) list.clear();
    DestroyWindow(old);
    if (!create_panel_window(p, false)) return;
    set_inputs(p, form);
    set_text(p.file_path, path);
    show_page(p, page);
    if (visible) ShowWindow(p.window, iconic ? SW_SHOWMINNOACTIVE : SW_SHOW);
    refresh(p);
}

}  // namespace

// Switches the texts and the reading direction; entries keep what the user
// typed.
void panel_set_language(Panel& p, bool arabic) {
    const bool changed = arabic != p.arabic;
    p.arabic = arabic;
    if (!p.window) return;
    if (changed) {
        rebuild_mirrored(p);
        return;
    }
    set_text(p.window, t(p, "app_title"));
    for (const Panel::Text& x : p.texts) set_text(x.control, ui_text(x.id, arabic) + x.tail);
    for (HWND l : {p.error, p.file_result}) set_text(l, "");
    refresh(p);
}

void panel_toggle_pause(Panel& p) {
    panel_model_toggle_pause(p);
    refresh(p);
}

std::string panel_main_link(const Panel& p) {
    return panel_link_main(p);
}

bool panel_arabic(const Panel& p) {
    return p.arabic;
}
