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
