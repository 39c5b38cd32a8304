// The control panel window, for the desktop loop: one set of calls, defined
// by the GTK panel on Linux and the Win32 panel on Windows. Every call
// belongs on the thread that runs the desktop loop.
#pragma once

#include <functional>
#include <string>

#include "ui/desktop.h"

struct Panel;

// exit_for_restart is called after Apply & restart has saved the settings
// and asked for the engine restart; the desktop loop then ends.
Panel* panel_new(const PanelLoopArgs& args, const DesktopInfo& info,
                 std::function<void()> exit_for_restart);
// Opens the window (creating it when needed) or brings it forward; on
// Windows the admin password is asked first, once per run.
void panel_show(Panel& p);
// Switches the window's language live, keeping unsaved entries.
void panel_set_language(Panel& p, bool arabic);
void panel_toggle_pause(Panel& p);
std::string panel_main_link(const Panel& p);
bool panel_arabic(const Panel& p);
// True when a tray icon is on show (defined by the desktop loop).
bool panel_tray_present();
