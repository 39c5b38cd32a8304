#include "web/web_server.h"

#include <thread>

#include "engine/clock.h"
#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "video/local_time.h"
#include "web/qr_code.h"
#include "web/recovery.h"
#include "web/web_pages.h"
#include "web/web_resources.h"
#include "web/web_snapshot.h"
#include "web/web_text.h"

namespace {

constexpr const char* k_text = "text/plain; charset=utf-8";
constexpr const char* k_html = "text/html; charset=utf-8";
constexpr const char* k_json = "application/json; charset=utf-8";

std::string hand_built(const std::string& head, const std::string& body) {
    return head + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// A user-supplied text as it may enter the log: control characters (a line
// feed would forge a log line) become '?', and it is kept short.
std::string loggable(const std::string& text) {
    std::string out = text.substr(0, 64);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
    return out;
}

LoginPageInput login_input(const WebAdminContext& ctx, bool error) {
    LoginPageInput in;
    in.machine_id = ctx.machine_id;
    in.version = ctx.version_text;
    in.error = error;
    in.show_hint =
        ctx.admin_user == "admin" && ctx.admin_pass == "tolvu" && read_hint_count(ctx.data_dir) < 5;
    return in;
}

WebAnswer login_route(WebAdminContext& ctx, const WebRequest& req) {
    if (is_locked(ctx.sessions))
        return {web_response("429 Too Many Requests", login_page(login_input(ctx, true)), k_html)};
    auto form = parse_form(req.body);
    const std::string user = form["user"], pass = form["pass"];
    const bool ok = check_credentials(ctx.admin_user, ctx.admin_pass, user, pass);
    record_attempt(ctx.sessions, ok);
    if (!ok) {
        engine_log("Web: failed login attempt (user=%s)\n", loggable(user).c_str());
        return {web_response("401 Unauthorized", login_page(login_input(ctx, true)), k_html)};
    }
    if (ctx.admin_user == "admin" && ctx.admin_pass == "tolvu") bump_hint_count(ctx.data_dir);
    const std::string token = create_session(ctx.sessions);
    return {
        "HTTP/1.1 302 Found\r\nLocation: /\r\nSet-Cookie: zeb_sess=" + token +
        "; Path=/; HttpOnly; SameSite=Strict\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
}

std::string iso_utc(int64_t unix_s) {
    const time_t t = static_cast<time_t>(unix_s);
    std::tm tm_utc{};
    utc_time(t, tm_utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm_utc);
    return buf;
}

WebAnswer recover_route(WebAdminContext& ctx, const WebRequest& req) {
    if (is_locked(ctx.sessions))
        return {web_response("429 Too Many Requests", "{\"ok\":false}", k_json)};
    auto form = parse_form(req.body);
    const int64_t now = unix_now();
    const std::string code = form["code"];
    RecoveryVerdict v = check_recovery_code(recovery_key(ctx.data_dir), ctx.machine_id, code, now);
    const std::string canon = canonical_recovery_code(code);
    if (v == RecoveryVerdict::valid && recovery_code_used(ctx.data_dir, canon))
        v = RecoveryVerdict::used;
    record_attempt(ctx.sessions, v == RecoveryVerdict::valid);
    switch (v) {
        case RecoveryVerdict::invalid:
            return {web_response("400 Bad Request", "{\"ok\":false}", k_json)};
        case RecoveryVerdict::expired:
            engine_log("Web: recovery code expired (corrected-now=%s)\n", iso_utc(now).c_str());
            return {web_response("400 Bad Request", "{\"ok\":false,\"e\":\"expired\"}", k_json)};
        case RecoveryVerdict::used:
            engine_log("Web: recovery code already used (%s) -> replay rejected\n", canon.c_str());
            return {web_response("400 Bad Request", "{\"ok\":false,\"e\":\"used\"}", k_json)};
        case RecoveryVerdict::valid:
            break;
    }
    if (!mark_recovery_code_used(ctx.data_dir, canon, now))
        engine_log(
            "Web: recovery consumed-store not writable (single-use best-effort; fail-open)\n");
    if (!write_keys(ctx.cfg_path, {{"admin_user", "admin"}, {"admin_pass", "tolvu"}})) {
        // Nothing was reset: say so instead of restarting into the old login.
        engine_log("Web: recovery could not rewrite %s (%s)\n", ctx.cfg_path.c_str(),
                   file_error_text().c_str());
        return {
            web_response("500 Internal Server Error", "{\"ok\":false,\"e\":\"write\"}", k_json)};
    }
    write_pwenc_marker(ctx.data_dir, false);
    engine_log("Web: login reset to the factory user and password by a recovery code\n");
    return {web_response("200 OK", "{\"ok\":true}", k_json), AfterAnswer::relaunch};
}

WebAnswer resource_route(const std::string& head, const std::string& body, const char* missing) {
    if (body.empty()) return {web_response("404 Not Found", missing, k_text)};
    return {hand_built(head, body)};
}

// Routes that need no session; false when the request is not one of them.
bool open_route(WebAdminContext& ctx, const WebRequest& req, WebAnswer* out) {
    const std::string& m = req.method;
    const std::string& p = req.path;
    if (m == "GET" && p == "/login") {
        *out = {web_response("200 OK", login_page(login_input(ctx, false)), k_html)};
    } else if (m == "POST" && p == "/login") {
        *out = login_route(ctx, req);
    } else if (m == "POST" && p == "/logout") {
        end_session(ctx.sessions, req.header);
        *out = {
            "HTTP/1.1 302 Found\r\nLocation: /login\r\nSet-Cookie: zeb_sess=; Path=/; "
            "Max-Age=0\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
    } else if (m == "POST" && p == "/recover") {
        *out = recover_route(ctx, req);
    } else if (m == "GET" && p == "/qr.svg") {
        auto qr = qr_encode(support_link(ctx.machine_id));
        *out = qr ? WebAnswer{hand_built("HTTP/1.1 200 OK\r\nContent-Type: image/svg+xml; "
                                         "charset=utf-8\r\nCache-Control: max-age=3600\r\n"
                                         "Content-Length: ",
                                         qr_svg(*qr))}
                  : WebAnswer{web_response("404 Not Found", "no qr", k_text)};
    } else if (m == "GET" && p == "/login_bg.jpg") {
        *out = resource_route(
            "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: "
            "max-age=3600\r\nContent-Length: ",
            login_background(), "no image");
    } else if (m == "GET" && p == "/eula") {
        *out = resource_route(
            "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
            "Content-Length: ",
            eula_page(), "no eula");
    } else {
        return false;
    }
    return true;
}

WebAnswer settings_route(WebAdminContext& ctx, const WebRequest& req, const std::string& ip) {
    SettingsRequest sr{req.method, req.path, req.body, ip};
    SettingsAnswer a = handle_settings_route(ctx.settings, sr);
    if (req.method == "GET" && req.path == "/config.json" && a.status == "200 OK")
        return {hand_built("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
                           "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                           "Content-Length: ",
                           a.body),
                a.after};
    if (a.status == "404 Not Found" && a.body.empty())
        return {web_response(a.status, "not found", k_text), a.after};
    return {web_response(a.status, a.body, k_json), a.after};
}

}  // namespace

std::string web_response(const std::string& status, const std::string& body,
                         const std::string& content_type) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + content_type +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" + body;
}

std::string answer_for_read_failure(ReadOutcome outcome) {
    switch (outcome) {
        case ReadOutcome::header_too_large:
            return web_response("431 Request Header Fields Too Large", "too large", k_text);
        case ReadOutcome::body_too_large:
            return web_response("413 Payload Too Large", "too large", k_text);
        case ReadOutcome::incomplete_body:
            return web_response("400 Bad Request", "incomplete body", k_text);
        default:
            return "";
    }
}

WebAnswer route_request(WebAdminContext& ctx, const WebRequest& req, const std::string& client_ip) {
    WebAnswer out;
    if (open_route(ctx, req, &out)) return out;
    const bool snapshot = req.path == "/snapshot.jpg";
    if (!check_session(ctx.sessions, req.header, !snapshot)) {
        if (req.method == "GET" && req.path == "/")
            return {
                "HTTP/1.1 302 Found\r\nLocation: /login\r\nContent-Length: 0\r\nConnection: "
                "close\r\n\r\n"};
        return {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
    }
    const std::string& m = req.method;
    const std::string& p = req.path;
    if (m == "POST" && p == "/ping") return {web_response("200 OK", "{\"ok\":true}", k_json)};
    if (m == "GET" && p == "/log")
        return {web_response("200 OK", ctx.log_text ? ctx.log_text() : "", k_text)};
    if (m == "GET" && snapshot)
        return {
            hand_built("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: "
                       "no-store\r\nX-Content-Type-Options: nosniff\r\nContent-Length: ",
                       ctx.snapshot ? ctx.snapshot() : "")};
    if (m == "GET" && p == "/") return {web_response("200 OK", panel_page(), k_html)};
    if (is_settings_route(m, p)) return settings_route(ctx, req, client_ip);
    return {web_response("404 Not Found", "not found", k_text)};
}

void web_context_init(WebAdminContext& ctx) {
    if (!ctx.start_tick) ctx.start_tick = tick_ms();
    SettingsApiContext& s = ctx.settings;
    s.advertised_address = ctx.advertised_address;
    s.version_text = ctx.version_text;
    s.cfg_path = ctx.cfg_path;
    s.data_dir = ctx.data_dir;
    s.program_dir = ctx.program_dir;
    s.start_tick = ctx.start_tick;
    s.check_login = [&ctx](const std::string& user, const std::string& pass) {
        if (is_locked(ctx.sessions)) return 2;
        const bool ok = check_credentials(ctx.admin_user, ctx.admin_pass, user, pass);
        record_attempt(ctx.sessions, ok);
        return ok ? 0 : 1;
    };
    if (!ctx.snapshot) ctx.snapshot = web_snapshot;
    if (!ctx.log_text) ctx.log_text = [] { return LogRing::joined(); };
    load_sessions(ctx.sessions, ctx.data_dir);
}

namespace {

// Takes a connection slot for the peer; false when the server or this client
// already has all it may have.
bool take_slot(WebAdminContext& ctx, const std::string& peer) {
    std::lock_guard<std::mutex> g(ctx.conn_lock);
    int& mine = ctx.per_client[peer];
    const bool shared = ctx.connections < k_web_max_connections;
    const bool reserved =
        mine < k_web_reserved_per_client && ctx.connections < k_web_hard_max_connections;
    if (mine >= k_web_max_per_client || !(shared || reserved)) {
        if (mine == 0) ctx.per_client.erase(peer);
        return false;
    }
    ++ctx.connections;
    ++mine;
    return true;
}

void give_slot(WebAdminContext& ctx, const std::string& peer) {
    std::lock_guard<std::mutex> g(ctx.conn_lock);
    --ctx.connections;
    if (--ctx.per_client[peer] <= 0) ctx.per_client.erase(peer);
}

}  // namespace

void web_connection(WebAdminContext& ctx, socket_t s, const std::string& peer) {
    set_recv_timeout(s, k_web_io_timeout_ms);
    set_send_timeout(s, k_web_io_timeout_ms);
    const uint64_t deadline = tick_ms() + k_web_request_deadline_ms;
    WebByteSource source = [s, deadline](char* buf, size_t len) -> long {
        const uint64_t now = tick_ms();
        if (now >= deadline) return -1;
        const uint64_t left = std::min<uint64_t>(deadline - now, k_web_io_timeout_ms);
        if (wait_readable(s, static_cast<uint32_t>(left)) != 1) return -1;
        return recv_some(s, buf, len);
    };
    WebRequest req;
    const ReadOutcome got = read_web_request(source, &req);
    if (got != ReadOutcome::ok) {
        const std::string answer = answer_for_read_failure(got);
        if (!answer.empty()) send_all(s, answer);
        net_close(s);
        return;
    }
    const WebAnswer a = route_request(ctx, req, peer);
    send_all(s, a.bytes);
    if (a.after == AfterAnswer::none) {
        net_close(s);
        return;
    }
    net_shutdown(s);
    net_close(s);
    if (a.after == AfterAnswer::save_sessions_then_relaunch)
        save_sessions(ctx.sessions, ctx.data_dir);
    relaunch_and_exit(ctx.settings);
}

void web_server(WebAdminContext& ctx) {
    socket_t ls = ctx.listen_socket;
    if (ls == k_invalid_socket) {
        ls = tcp_listen(static_cast<uint16_t>(ctx.web_port), 8);
        if (ls == k_invalid_socket) {
            engine_log("Web admin bind failed on port %d: %d\n", ctx.web_port, net_last_error());
            port_slot(k_slot_web).requested.store(ctx.web_port);
            port_slot(k_slot_web).state.store(k_slot_state_down);
            return;
        }
    }
    engine_log("Web Admin ready -> http://%s:%d/  (login: %s)\n", ctx.advertised_address.c_str(),
               ctx.web_port, ctx.admin_user.c_str());
    for (;;) {
        std::string peer;
        socket_t c = tcp_accept(ls, &peer);
        if (c == k_invalid_socket) {
            sleep_ms(20);  // e.g. out of descriptors: do not spin
            continue;
        }
        if (!take_slot(ctx, peer)) {
            // Over the bound: refuse at once rather than queue behind slow clients.
            send_all(c,
                     "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 4\r\nConnection: "
                     "close\r\n\r\nbusy");
            net_close(c);
            continue;
        }
        try {
            std::thread([&ctx, c, peer] {
                web_connection(ctx, c, peer);
                give_slot(ctx, peer);
            }).detach();
        } catch (const std::system_error&) {
            engine_log("Web: cannot start a connection thread - connection refused\n");
            net_close(c);
            give_slot(ctx, peer);
        }
    }
}
