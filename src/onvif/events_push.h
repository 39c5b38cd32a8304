// The outgoing side of pushed events: a minimal HTTP/1.1 client that POSTs a
// WS-BaseNotification Notify envelope to a recorder's consumer address.
// Blocking; called on a push thread under that subscriber's push lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct NotifyTarget {
    std::string host_part;  // host[:port] as written, for the Host header
    std::string host;
    uint16_t port = 80;
    std::string path = "/";
};

// Splits "http://host[:port][/path]"; false for other schemes or a bad port.
bool parse_notify_url(std::string_view url, NotifyTarget* target);

// True when the first line of an HTTP answer carries status 200, 202 or 204.
bool notify_answer_ok(std::string_view answer);

// POSTs the envelope; true when the recorder answered 200, 202 or 204 within
// the time-out (connect and send; the answer is awaited at most 1.5 s).
bool http_post_notify(const std::string& url, const std::string& envelope, uint32_t timeout_ms);
