// The desktop interface as start-up sees it: the control-panel loop of an
// interactive start (tray icon, control panel, login window), the welcome
// window, the end-user agreement, and the one-shot --dump-welcome and
// --selftest-strings modes. The toolkit stays behind this header.
#pragma once

#include <string>

#include "host/panel_loop.h"

struct DesktopInfo {
    std::string cfg_path;
    std::string lang;  // "ar" or "en"
    std::string version;
    std::string admin_user;
    std::string admin_pass;  // in clear; the login window checks it
    std::string sub_stream;  // empty when the sub stream is off
    bool background = false;
};

struct WelcomeValues {
    std::string address;
    int rtsp_port = 8554;
    int onvif_port = 8000;
    int web_port = 8080;
    bool web_on = true;
    std::string stream = "live";
};

// Interactive run of the main thread: returns the exit code. Ends on
// SIGINT/SIGTERM, on Exit from the tray, or after Apply & restart.
int run_desktop_loop(const PanelLoopArgs& args, const DesktopInfo& info);

// True when a desktop can be shown (the toolkit connected to the display).
bool desktop_available();
// Shows the welcome window until the user closes it.
void show_welcome_window(const WelcomeValues& v, bool arabic);
// Shows the agreement; true when accepted.
bool show_agreement(bool arabic);

// The welcome picture, 720 px wide, as a PNG file.
bool write_welcome_png(const WelcomeValues& v, bool arabic, const std::string& path);
// --dump-welcome DIR: welcome_ar.png and welcome_en.png with sample values.
int dump_welcome(const std::string& dir);
// --selftest-strings [FILE]: 0 when every text passes; the report goes to
// standard output and, when given, to FILE.
int selftest_strings_mode(const std::string* report_file);
