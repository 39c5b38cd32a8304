// The settings and control routes behind the web panel's session gate:
// /config.json, /save, /confirm, /pending.json, /restart, /restore, /stream and
// /motion_test. The web server owns the transport, the sessions and the lockout;
// these handlers read and write the settings file and say when the program must
// relaunch once the answer is out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Filled once by start-up before the web server starts; read-only afterwards.
struct SettingsApiContext {
    std::string advertised_address;
    std::string version_text;
    std::string cfg_path;     // settings file
    std::string data_dir;     // its folder (pending, backup and note files)
    std::string program_dir;  // working directory of a relaunch
    int screen_width = 0;     // primary screen, for "resolution"
    int screen_height = 0;
    uint64_t start_tick = 0;  // tick count when the web context was filled
    // Checks a user and password as the login does and records the attempt in
    // the web panel's lockout: 0 accepted, 1 refused, 2 locked out.
    std::function<int(const std::string& user, const std::string& pass)> check_login;
};

struct SettingsRequest {
    std::string method;     // "GET" or "POST"
    std::string path;       // already cut at '?' and '#'
    std::string body;       // the raw form body
    std::string client_ip;  // peer: IPv4 dotted, "::1", IPv4-mapped given as IPv4
};

// What the web server does after it has sent the answer and shut the socket.
enum class AfterAnswer { none, relaunch, save_sessions_then_relaunch };

struct SettingsAnswer {
    std::string status = "200 OK";  // status text for the response writer
    std::string body;               // JSON, sent as "application/json; charset=utf-8"
    AfterAnswer after = AfterAnswer::none;
};

// True when method and path name one of the eight routes above.
bool is_settings_route(const std::string& method, const std::string& path);

// Answers one of those routes.
SettingsAnswer handle_settings_route(SettingsApiContext& ctx, const SettingsRequest& req);

// Ends this process after starting the engine again ("--relaunch --background",
// working directory the program directory); a sign-in-screen camera only exits,
// its service starts it again.
[[noreturn]] void relaunch_and_exit(const SettingsApiContext& ctx);
