// The web panel's HTTP server: one listener thread, one detached thread per
// connection, one request per connection. WebAdminContext is filled once by
// start-up; afterwards only its sessions (own mutex) and the connection
// counters (own mutex) change. route_request turns a request into the whole
// answer without a socket, for tests and the fuzzer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "engine/net_socket.h"
#include "web/settings_api.h"
#include "web/web_request.h"
#include "web/web_sessions.h"

// Bounds that keep slow or idle clients from starving the panel. Connections
// share 64 slots, at most 16 per client address; a client holding fewer than
// 4 may still come in up to the hard ceiling of 128 (so a browser gets in
// while others hold the shared slots); a whole request must arrive within
// 10 s (each receive also waits at most 6 s). Threads: one per connection.
constexpr int k_web_max_connections = 64;
constexpr int k_web_max_per_client = 16;
constexpr int k_web_reserved_per_client = 4;
constexpr int k_web_hard_max_connections = 128;
constexpr uint32_t k_web_request_deadline_ms = 10000;
constexpr uint32_t k_web_io_timeout_ms = 6000;

struct WebAdminContext {
    socket_t listen_socket = k_invalid_socket;  // bound by the port fallback
    std::string advertised_address;
    std::string program_dir;
    std::string cfg_path;
    std::string data_dir;
    std::string machine_id;
    std::string version_text;
    std::string admin_user;
    std::string admin_pass;
    int web_port = 0;
    uint64_t start_tick = 0;
    WebSessions sessions;
    SettingsApiContext settings;
    // Picture producers, replaceable by tests and benchmarks.
    std::function<std::string()> snapshot;
    std::function<std::string()> log_text;

    std::mutex conn_lock;  // guards the two counters below
    int connections = 0;
    std::map<std::string, int> per_client;
};

// Fills the derived fields (settings context, check_login, producers) and
// loads the stored sessions. Call once after the plain fields are set.
void web_context_init(WebAdminContext& ctx);

struct WebAnswer {
    std::string bytes;  // status line, headers and body
    AfterAnswer after = AfterAnswer::none;
};

// The common writer: status, Content-Type, Content-Length, nosniff, close.
std::string web_response(const std::string& status, const std::string& body,
                         const std::string& content_type);
WebAnswer route_request(WebAdminContext& ctx, const WebRequest& req, const std::string& client_ip);
// The answer to a request that could not be read; empty: close silently.
std::string answer_for_read_failure(ReadOutcome outcome);

// Listener thread body; returns only after a bind failure.
void web_server(WebAdminContext& ctx);
// Serves one accepted connection and closes it (may end the process after a
// restart or recovery answer).
void web_connection(WebAdminContext& ctx, socket_t s, const std::string& peer);
