#include "onvif/onvif_server.h"

#include <algorithm>
#include <thread>

#include "engine/clock.h"
#include "engine/log.h"
#include "onvif/events_service.h"
#include "onvif/listen_backlog.h"
#include "onvif/onvif_actions.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_xml.h"
#include "rtsp/recent_clients.h"

namespace {

const char* const k_realm = "Vistrel";

std::string challenge_header(const OnvifContext& ctx) {
    return std::string("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"") + k_realm +
           "\", qop=\"auth\", nonce=\"" + ctx.nonce + "\"\r\n";
}

std::string snapshot_answer(OnvifContext& ctx, const HttpRequest& req) {
    if (ctx.stream_auth &&
        !check_http_auth(req.text, "GET", k_realm, ctx.nonce, ctx.user_name, ctx.password))
        return challenge_header(ctx) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
    std::string jpeg;
    if (ctx.snapshot)
        jpeg = ctx.snapshot(static_cast<int>(ctx.width), static_cast<int>(ctx.height));
    if (jpeg.empty())
        return "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: "
               "close\r\n\r\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-cache\r\n"
           "Content-Length: " +
           std::to_string(jpeg.size()) + "\r\nConnection: close\r\n\r\n" + jpeg;
}

std::string soap_answer(OnvifContext& ctx, const HttpRequest& req) {
    // A POST without a SOAP body (curl --digest sends its first request empty to
    // learn the challenge) gets the challenge rather than a fault, so HTTP
    // clients go on to send their credentials.
    const bool protect = needs_credentials(req.body) || !has_element(req.body, "Body");
    if (ctx.stream_auth && protect && !check_username_token(ctx, req.body) &&
        !check_http_auth(req.text, "POST", k_realm, ctx.nonce, ctx.user_name, ctx.password)) {
        const std::string env = soap_envelope(k_fault_not_authorized);
        return challenge_header(ctx) +
               "Content-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
               std::to_string(env.size()) + "\r\nConnection: close\r\n\r\n" + env;
    }
    std::string target;
    const size_t sp1 = req.text.find(' ');
    const size_t line_end = std::min(req.text.find("\r\n"), req.header_end);
    if (sp1 != std::string::npos) {
        const size_t sp2 = req.text.find(' ', sp1 + 1);
        // The target ends at the second space of the request line.
        if (sp2 != std::string::npos && sp2 < line_end)
            target = req.text.substr(sp1 + 1, sp2 - sp1 - 1);
    }
    std::optional<std::string> env = events_handle(ctx, target, req.body);
    std::string envelope = env ? std::move(*env) : dispatch(ctx, req.body, target);
    fill_placeholders(ctx, envelope);
    return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" + envelope;
}

}  // namespace

size_t content_length(const std::string& headers) {
    size_t at = headers.find("Content-Length:");
    if (at == std::string::npos) at = headers.find("content-length:");
    if (at == std::string::npos) return 0;
    size_t p = at + 15;
    while (p < headers.size() && (headers[p] == ' ' || headers[p] == '\t')) ++p;
    size_t value = 0;
    for (; p < headers.size() && headers[p] >= '0' && headers[p] <= '9'; ++p) {
        // Saturate instead of wrapping: any huge value is simply "too large".
        if (value > k_onvif_max_body * 16) break;
        value = value * 10 + static_cast<size_t>(headers[p] - '0');
    }
    return value;
}

std::optional<HttpRequest> read_request(const ByteSource& recv, uint64_t deadline_tick) {
    HttpRequest req;
    char buf[4096];
    auto timed_out = [&] { return deadline_tick != 0 && tick_ms() >= deadline_tick; };
    size_t header_end;
    while ((header_end = req.text.find("\r\n\r\n")) == std::string::npos) {
        if (req.text.size() > k_onvif_max_header) {
            req.too_large = true;
            return req;
        }
        if (timed_out()) return std::nullopt;
        const long n = recv(buf, sizeof buf);
        if (n <= 0) return std::nullopt;
        req.text.append(buf, static_cast<size_t>(n));
    }
    req.header_end = header_end;
    if (header_end > k_onvif_max_header) {
        req.too_large = true;
        return req;
    }
    const size_t length = content_length(req.text.substr(0, header_end));
    if (length > k_onvif_max_body) {
        req.too_large = true;
        return req;
    }
    const size_t want = header_end + 4 + length;
    while (req.text.size() < want && !timed_out()) {
        const long n = recv(buf, std::min(sizeof buf, want - req.text.size()));
        if (n <= 0) break;  // the body received so far is served
        req.text.append(buf, static_cast<size_t>(n));
    }
    if (req.text.size() > header_end + 4) req.body = req.text.substr(header_end + 4);
    return req;
}

std::string forwarding_page(const OnvifContext& ctx) {
    const std::string url = "http://" + ctx.address + ":" + std::to_string(ctx.web_port) + "/";
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"refresh\" content=\"1;url=" +
           url +
           "\">"
           "<title>Vistrel</title><style>body{background:#0e1a2b;color:#e8eef7;"
           "font-family:'Segoe UI',Arial,sans-serif;text-align:center;padding:40px}"
           "a.btn{display:inline-block;background:#2b6cff;color:#fff;padding:12px 26px;"
           "border-radius:8px;font-size:16px;text-decoration:none}"
           "p.note{color:#8fa3bf;font-size:13px}</style></head><body><h1>Vistrel</h1>"
           "<p>Camera at <b>" +
           ctx.address + "</b> &nbsp; (ONVIF port " + std::to_string(ctx.onvif_port) +
           ")</p><p><a class=\"btn\" href=\"" + url +
           "\">Open control panel</a></p><p class=\"note\">The control panel opens on port " +
           std::to_string(ctx.web_port) +
           ". If it does not open automatically, click the button above.</p></body></html>";
}

std::string handle_request(OnvifContext& ctx, const HttpRequest& req) {
    if (req.too_large)
        return "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    if (req.text.rfind("GET ", 0) == 0) {
        if (req.text.find("napshot") != std::string::npos) return snapshot_answer(ctx, req);
        const std::string page = forwarding_page(ctx);
        return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
               std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
    }
    return soap_answer(ctx, req);
}

bool onvif_take_slot(OnvifContext& ctx, const std::string& peer) {
    std::lock_guard<std::mutex> lock(ctx.slots_lock);
    if (ctx.active_connections.load() >= k_onvif_max_connections) return false;
    uint32_t& mine = ctx.slots_by_peer[peer];
    if (mine >= k_onvif_max_per_address) return false;
    ++mine;
    ++ctx.active_connections;
    return true;
}

void onvif_release_slot(OnvifContext& ctx, const std::string& peer) {
    std::lock_guard<std::mutex> lock(ctx.slots_lock);
    auto it = ctx.slots_by_peer.find(peer);
    if (it == ctx.slots_by_peer.end()) return;
    if (--it->second == 0) ctx.slots_by_peer.erase(it);
    --ctx.active_connections;
}

void onvif_connection(OnvifContext& ctx, socket_t s) {
    onvif_set_current_peer(socket_peer_ip(s));
    set_recv_timeout(s, k_onvif_request_timeout_ms);
    set_send_timeout(s, k_onvif_request_timeout_ms);
    const auto request = read_request([s](char* buf, size_t len) { return recv_some(s, buf, len); },
                                      tick_ms() + k_onvif_request_timeout_ms);
    if (request) send_all(s, handle_request(ctx, *request));
    net_close(s);
}

void onvif_server(OnvifContext& ctx) {
    std::thread(event_watcher, std::ref(ctx)).detach();
    socket_t listener = ctx.listen_socket;
    if (listener == k_invalid_socket) {
        listener = tcp_listen(static_cast<uint16_t>(ctx.onvif_port), 8);
        if (listener == k_invalid_socket) {
            engine_log("ONVIF bind failed on port %d: %d\n", static_cast<int>(ctx.onvif_port),
                       net_last_error());
            if (ctx.report_onvif_port)
                ctx.report_onvif_port(static_cast<int>(ctx.onvif_port),
                                      static_cast<int>(ctx.onvif_port), 2);
            return;
        }
        ctx.listen_socket = listener;
    }
    widen_listen_backlog(listener, k_onvif_listen_backlog);
    engine_log("ONVIF HTTP ready -> http://%s:%d/onvif/device_service\n", ctx.address.c_str(),
               static_cast<int>(ctx.onvif_port));
    for (;;) {
        std::string peer;
        const socket_t s = tcp_accept(listener, &peer);
        if (s == k_invalid_socket) {
            sleep_ms(1);  // keeps a failing listener (e.g. out of descriptors) from spinning
            continue;
        }
        if (!onvif_take_slot(ctx, peer)) {
            net_close(s);
            continue;
        }
        client_contact(peer, k_client_onvif);
        std::thread([&ctx, s, peer] {
            onvif_connection(ctx, s);
            onvif_release_slot(ctx, peer);
        }).detach();
    }
}
