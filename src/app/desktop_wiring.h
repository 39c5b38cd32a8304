// Start-up's calls into the desktop interface: one-shot renderings, the
// welcome window, the agreement, the streaming-warning badge and the choice of
// the main thread's loop.
#pragma once

#include <string>
#include <vector>

#include "app/startup.h"
#include "host/panel_loop.h"

// --dump-welcome DIR and --selftest-strings [FILE]; true when one ran (*code set).
bool desktop_one_shot(const std::vector<std::string>& args, int* code);
// --welcome [--lang ar|en]: the welcome window alone; returns the exit code.
int welcome_only_mode(const StartupValues& v);
// First interactive start: the welcome window, then welcomed.flag.
void first_run_welcome(const StartupValues& v);
// Interactive start: the agreement unless accepted before. False when declined.
bool agreement_accepted(const StartupValues& v);
// Arms the badge when warn_live is on (not on the sign-in screen).
void arm_warning_badge(const StartupValues& v);
// The main thread's loop: the desktop on an interactive start, else headless.
int run_main_loop(const PanelLoopArgs& pl, const StartupValues& v);
