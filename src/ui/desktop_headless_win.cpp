// The desktop interface of the Windows build: the control panel and its login
// window (panel_window_win.cpp) on the control-panel loop; no tray, welcome
// window or agreement yet (the badge is in stream_badge_win.cpp).
#include <windows.h>

#include <cstdio>

#include "engine/log.h"
#include "host/admin_windows.h"
#include "ui/desktop.h"
#include "ui/panel_win.h"

namespace {

int not_in_build(const char* option) {
    std::fprintf(stderr,
                 "%s: not available in this build of zeb_onvif.exe (no desktop interface)\n",
                 option);
    std::fflush(stderr);
    return 1;
}

}  // namespace

bool desktop_available() {
    return false;
}

bool panel_tray_present() {
    return false;
}

int run_desktop_loop(const PanelLoopArgs& args, const DesktopInfo& info) {
    engine_log(
        "UI: no tray icon in this build - a second start opens the control panel "
        "(Ctrl+C ends the camera)\n");
    Panel* panel = panel_new(args, info, [] {
        engine_log("UI: Apply & restart - this process ends for the relaunched one\n");
        PostQuitMessage(0);
    });
    set_show_panel_handler([panel] { panel_show(*panel); });
    // Shown before the loop runs; its messages wait in the queue until then.
    if (args.open_window || args.panel_only) panel_show(*panel);
    const int code = run_control_panel_loop(args);
    set_show_panel_handler(nullptr);
    return code;
}

void show_welcome_window(const WelcomeValues&, bool) {
    engine_log("UI: the welcome window is not in this build\n");
}

bool show_agreement(bool) {
    engine_log("UI: the agreement window is not in this build\n");
    return false;
}

bool write_welcome_png(const WelcomeValues&, bool, const std::string&) {
    return false;
}

int dump_welcome(const std::string&) {
    return not_in_build("--dump-welcome");
}

int selftest_strings_mode(const std::string*) {
    return not_in_build("--selftest-strings");
}
