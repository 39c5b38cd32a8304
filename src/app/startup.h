// Engine start-up: the command line, settings, single instance, ports,
// announced address, banner, then the subsystems (start_subsystems) and the
// control-panel loop. StartupValues is filled once on the main thread and lives
// until the process ends; subsystems copy or keep a reference to it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/engine_config.h"
#include "engine/net_socket.h"

struct StartupValues {
    EngineConfig config;
    ConfigMap settings;  // the settings file as read at start-up

    std::string data_dir;
    std::string program_dir;
    std::string cfg_path;           // data_dir + "/zeb.cfg"
    std::vector<std::string> args;  // the command line, args[0] = program

    std::string address;      // advertised IPv4 address
    std::string address_log;  // the "  net: ..." lines that explain it

    // Ports actually bound (the configured one when the server is not running).
    int rtsp_port = 0;
    int onvif_port = 0;
    int web_port = 0;
    // Listening sockets; k_invalid_socket when the server has none.
    socket_t rtsp_socket = k_invalid_socket;
    socket_t onvif_socket = k_invalid_socket;
    socket_t web_socket = k_invalid_socket;

    // Primary screen, each rounded down to even; 0x0 without a display.
    int screen_width = 0;
    int screen_height = 0;
    // Main encode size when downscaled; 0/0 for full screen.
    int main_width = 0;
    int main_height = 0;
    // Sub stream; name empty when the sub stream is off.
    std::string sub_stream;
    int sub_width = 0;
    int sub_height = 0;

    std::string admin_pass;  // in clear (or the lock-out value when tampered)
    bool admin_pass_tampered = false;
    std::string lang;  // "ar" or "en"

    bool background = false;
    bool relaunch = false;
    bool logon_screen = false;
    bool panel_only = false;
};

// Process-wide run flags, set once by start-up.
extern std::atomic<bool> logon_screen;
extern std::atomic<bool> panel_only;

// Version text shown by the panels.
constexpr const char* k_version_text = "2.0.5 for Windows Server";

// Starts every server thread in order; see server_threads.cpp.
using StartSubsystemsFn = void (*)(StartupValues&);

// The whole start-up and run of the program; returns the exit code.
int run_engine(int argc, char** argv, StartSubsystemsFn start_subsystems);

// ---- Pieces of start-up, pure, for tests -----------------------------------

// Positional port default from a command-line word: the number when all digits
// and 1..65535, else fallback.
int positional_port(const std::string& word, int fallback);

struct StreamSizes {
    int screen_width = 0, screen_height = 0;
    int main_width = 0, main_height = 0;  // 0/0 when not downscaled
    bool sub_on = false;
    int sub_width = 0, sub_height = 0;
};
StreamSizes compute_stream_sizes(int screen_w, int screen_h, bool substream, int sub_width,
                                 int main_width);

// Duplicate-port warnings for the enabled servers (web only when web_admin).
std::vector<ConfigWarning> duplicate_port_warnings(int rtsp, int onvif, int web, bool web_on);

// The banner text (every line with its '\n').
std::string banner_text(const StartupValues& v);

// What the command line asks beyond the run modes: --help or -h, --version,
// and the words that look like options but are none (each reported, then
// ignored). Words that are the argument of an option never count.
struct CommandLineScan {
    bool help = false;
    bool version = false;
    std::vector<std::string> unknown;
};
CommandLineScan scan_command_line(const std::vector<std::string>& args);
// --help: one line per option; --version: name and version.
std::string help_text();
std::string version_text();
