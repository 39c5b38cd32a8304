// Wiring of the settings lifecycle into the running engine: the live-settings
// watcher's hooks (capturer overlays, pointer, pause flag, ONVIF name and OSD
// layout), the revert watcher for a change still on hold at start-up, and the
// start-up's bind-failure rule.
#pragma once

#include "app/startup.h"
#include "engine/live_settings.h"

// Applies the live keys of a settings file to the running subsystems.
LiveSwitches apply_live_settings(const ConfigMap& m);

// The live-settings watcher thread (not in panel-only mode).
void start_live_settings_watcher(const StartupValues& v);

// A remote change whose hold is still running at start-up (typically the
// restart that put it into effect) gets its revert watcher again.
void start_revert_watcher_if_pending(const StartupValues& v);

// After the listeners tried their ports: reverts a pending change that made a
// server miss its port, then relaunches (or, in sign-in-screen mode, exits).
// Returns only when nothing was reverted.
void apply_bind_failure_rule(StartupValues& v);

// Ends this process after starting a new engine (a sign-in-screen camera only exits).
[[noreturn]] void relaunch_engine_and_exit(const std::string& program_dir, bool logon_screen,
                                           bool background);
