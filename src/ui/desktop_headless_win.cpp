// The desktop interface of the Windows build, until its Win32 windows exist:
// no control panel, tray, welcome window or badge. An interactive start runs
// the headless control-panel loop, as --background does.
#include <cstdio>

#include "engine/log.h"
#include "ui/desktop.h"
#include "ui/stream_badge.h"

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

int run_desktop_loop(const PanelLoopArgs& args, const DesktopInfo&) {
    engine_log(
        "UI: the desktop panel is not in this build - the camera runs without it "
        "(Ctrl+C ends it)\n");
    return run_control_panel_loop(args);
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

bool arm_stream_badge(const BadgeSettings&, std::function<int()>) {
    engine_log("OSD: the local streaming warning is not in this build\n");
    return false;
}
