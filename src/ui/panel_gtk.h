// The control panel window, for the desktop loop (toolkit-side header).
#pragma once

#include <functional>
#include <string>

#include "ui/desktop.h"

struct Panel;

Panel* panel_new(const PanelLoopArgs& args, const DesktopInfo& info,
                 std::function<void()> exit_for_restart);
// Opens the window (creating it when needed) or brings it forward.
void panel_show(Panel& p);
// Switches the window's language live, keeping unsaved entries.
void panel_set_language(Panel& p, bool arabic);
void panel_toggle_pause(Panel& p);
std::string panel_main_link(const Panel& p);
bool panel_arabic(const Panel& p);
// True when a tray icon is on show (defined by the desktop loop).
bool panel_tray_present();
