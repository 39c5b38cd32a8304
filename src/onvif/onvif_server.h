// The ONVIF HTTP endpoint: one listener thread, one detached thread per
// connection (at most 32 at a time, 8 per client address), one request per
// connection. Requests are
// read through a byte-source seam so the framing and routing run without a
// network in tests; handle_request turns one request into the whole answer.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "onvif/onvif_context.h"

constexpr uint32_t k_onvif_max_connections = 32;
// Slots one client address may hold at once: a flood or a crowd of slow
// connections from one address leaves the other 24 slots to everyone else.
constexpr uint32_t k_onvif_max_per_address = 8;
// Request bounds: headers up to 16 KiB, body up to 256 KiB (the largest
// requests recorders send are event subscriptions of a few KiB).
constexpr size_t k_onvif_max_header = 16 * 1024;
constexpr size_t k_onvif_max_body = 256 * 1024;
// A client has this long to deliver its whole request (each recv also times
// out after it), so idle or dribbling connections cannot hold the 32 slots.
constexpr uint32_t k_onvif_request_timeout_ms = 10000;

struct HttpRequest {
    std::string text;       // headers, blank line and body as received
    size_t header_end = 0;  // offset of "\r\n\r\n"
    std::string body;
    bool too_large = false;  // headers or announced body beyond the bounds
};

// One recv: >0 bytes, 0 closed, <0 error or time-out.
using ByteSource = std::function<long(char* buf, size_t len)>;

// Reads one request; nothing when the client closed or timed out before the
// end of the headers. A too-large request comes back with too_large set.
std::optional<HttpRequest> read_request(const ByteSource& recv, uint64_t deadline_tick = 0);
// Content-Length value (first "Content-Length:", else "content-length:"), 0 if none.
size_t content_length(const std::string& headers);

// The complete answer (status line, headers, body) to one request.
std::string handle_request(OnvifContext& ctx, const HttpRequest& req);

// The forwarding page that sends a browser to the web panel.
std::string forwarding_page(const OnvifContext& ctx);

// Takes a connection slot for a peer address: false when all slots are in use
// or the address holds its share. Every true is paired with one release.
bool onvif_take_slot(OnvifContext& ctx, const std::string& peer);
void onvif_release_slot(OnvifContext& ctx, const std::string& peer);

// Listener thread; returns only after a bind failure.
void onvif_server(OnvifContext& ctx);
// Serves one accepted connection, then closes it.
void onvif_connection(OnvifContext& ctx, socket_t s);
