// The windows of the Windows desktop interface that other processes and the
// shell talk to: the message-only window "ZEBAdminMsg" that receives the
// registered "ZEB_ShowAdmin_Orvanta" from a second start, the class
// "ZEBAdminWnd" of the control panel, and the hidden pop-up "ZEBTrayWatch"
// that receives "TaskbarCreated" when the shell re-creates the taskbar. Made
// and used on the thread that runs the message loop.
#pragma once

#include <functional>

struct AdminWindowHandlers {
    std::function<void()> show_panel;       // a second start asked for the panel
    std::function<void()> taskbar_created;  // the shell lost the tray icons
    std::function<void()> session_ending;   // the user signs out or shuts down
    // A WM_COMMAND to the message window (a tray-menu item, or a test's
    // stand-in for one): the item's id.
    std::function<void(unsigned id)> command;
    // A notification of the tray icon (its lParam: the mouse message).
    std::function<void(long long event)> tray_event;
};

// The callback message of the tray icon, sent to the message window (WM_APP + 1).
constexpr unsigned k_tray_callback_message = 0x8001;

// Registers the messages and classes and creates both windows, letting the two
// registered messages through their message filters. False when the message
// window cannot be made (logged); the tray watch failing is logged only.
bool setup_admin_windows(const AdminWindowHandlers& handlers);
// The message window (an HWND), null before setup_admin_windows.
void* admin_message_window();
// The hidden "ZEBTrayWatch" pop-up (an HWND, may be null): a top-level window
// that can take the foreground, as the owner of the tray menu must.
void* admin_watch_window();
// Destroys the windows made above.
void destroy_admin_windows();

// What run_control_panel_loop does on a show-panel request: the desktop
// interface registers its panel here (host does not know the panel). Without
// one the request is only logged. Call before the loop runs.
void set_show_panel_handler(std::function<void()> show);
