#include "onvif/events_push.h"

#include <algorithm>

#include "engine/net_socket.h"

bool parse_notify_url(std::string_view url, NotifyTarget* target) {
    constexpr std::string_view k_scheme = "http://";
    if (url.substr(0, k_scheme.size()) != k_scheme) return false;
    std::string_view rest = url.substr(k_scheme.size());
    NotifyTarget t;
    const size_t slash = rest.find('/');
    t.host_part = std::string(rest.substr(0, slash));
    t.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
    const size_t colon = t.host_part.find(':');
    t.host = t.host_part.substr(0, colon);
    if (colon != std::string::npos) {
        // Leading digits only, like the rest of our header readers.
        uint32_t port = 0;
        size_t i = colon + 1;
        for (; i < t.host_part.size() && t.host_part[i] >= '0' && t.host_part[i] <= '9'; ++i) {
            port = port * 10 + uint32_t(t.host_part[i] - '0');
            if (port > 65535) return false;
        }
        if (port == 0) return false;
        t.port = uint16_t(port);
    }
    if (t.host.empty()) return false;
    *target = std::move(t);
    return true;
}

bool notify_answer_ok(std::string_view answer) {
    // "HTTP/1.x NNN": the status code must be the one of the status line, not
    // any " 200" found further on (a 500 page may well contain one).
    if (answer.substr(0, 5) != "HTTP/") return false;
    const size_t sp = answer.find(' ');
    if (sp == std::string_view::npos || sp > answer.find('\n')) return false;
    const std::string_view code = answer.substr(sp + 1, 3);
    const std::string_view next = answer.substr(std::min(answer.size(), sp + 4), 1);
    if (!next.empty() && next != " " && next != "\r" && next != "\n") return false;
    return code == "200" || code == "202" || code == "204";
}

bool http_post_notify(const std::string& url, const std::string& envelope, uint32_t timeout_ms) {
    NotifyTarget t;
    if (!parse_notify_url(url, &t)) return false;
    const std::string ip = resolve_ipv4(t.host);
    if (ip.empty()) return false;
    socket_t s = tcp_connect(ip, t.port, timeout_ms);
    if (s == k_invalid_socket) return false;
    set_recv_timeout(s, std::min<uint32_t>(timeout_ms, 1500));
    set_send_timeout(s, timeout_ms);

    std::string request = "POST " + t.path + " HTTP/1.1\r\nHost: " + t.host_part +
                          "\r\nContent-Type: application/soap+xml; charset=utf-8; "
                          "action=\"http://docs.oasis-open.org/wsn/bw-2/NotificationConsumer/"
                          "Notify\"\r\nContent-Length: " +
                          std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n";
    request += envelope;
    bool ok = send_all(s, request);
    if (ok) {
        // The status line may arrive in pieces; read until it is complete.
        std::string answer;
        char buf[512];
        while (answer.size() < 511 && answer.find('\n') == std::string::npos) {
            long n = recv_some(s, buf, std::min<size_t>(sizeof buf - 1, 511 - answer.size()));
            if (n <= 0) break;
            answer.append(buf, size_t(n));
        }
        ok = notify_answer_ok(answer);
    }
    net_close(s);
    return ok;
}
