// The Win32 control panel ("ZEBAdminWnd") and its login window, for the
// desktop loop of the Windows build (the same calls as the GTK panel).
// Every call belongs on the thread that runs the message loop.
#pragma once

#include <functional>
#include <string>

#include "ui/desktop.h"

struct Panel;

// exit_for_restart is called after Apply & restart has saved the settings
// and asked for the engine restart; the desktop loop then ends.
Panel* panel_new(const PanelLoopArgs& args, const DesktopInfo& info,
                 std::function<void()> exit_for_restart);
// Asks for the admin password (once per run), then opens the window
// (creating it when needed) or brings it forward.
void panel_show(Panel& p);
// Switches the window's language live, keeping unsaved entries.
void panel_set_language(Panel& p, bool arabic);
void panel_toggle_pause(Panel& p);
std::string panel_main_link(const Panel& p);
bool panel_arabic(const Panel& p);
// True when a tray icon is on show (defined by the desktop loop).
bool panel_tray_present();

// Control ids of the login window (class "ZEBLoginWnd") and of the control
// panel (class "ZEBAdminWnd"), for keyboard-free automation and tests.
namespace panel_ids {
constexpr int login_password = 1001;
constexpr int login_ok = 1002;
constexpr int login_cancel = 1003;
constexpr int login_error = 1004;

constexpr int tab_first = 2000;  // status, video, network, users, about
constexpr int lang = 2010;
constexpr int apply = 2011;
constexpr int error = 2012;
constexpr int pause = 2013;
// One per settings field, in this order: fps, bitrate, main_width,
// substream, sub_width, stream, show_cursor, rtsp_port, onvif_port,
// web_admin, web_port, announce_ip, device_name, admin_user, admin_pass,
// stream_auth.
constexpr int field_first = 2100;
constexpr int file_path = 2200;
constexpr int file_export = 2201;
constexpr int file_import = 2202;
constexpr int file_result = 2203;
}  // namespace panel_ids
