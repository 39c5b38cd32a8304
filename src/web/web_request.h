// Reading one web-panel request: the header block and the body within their
// bounds, the request line, Content-Length and the session cookie. The bytes
// come through a source function so tests and the fuzzer need no network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Header block (request line to the blank line included) and body bounds.
constexpr size_t k_web_max_header = 16384;
constexpr size_t k_web_max_body = 65536;

// One receive of at most len bytes: >0 bytes read, 0 peer closed, <0 error or
// time-out (the source enforces the request's deadline).
using WebByteSource = std::function<long(char* buf, size_t len)>;

enum class ReadOutcome {
    ok,
    closed,           // nothing usable arrived: close without an answer
    header_too_large, // 431
    body_too_large,   // 413
    incomplete_body,  // 400
};

struct WebRequest {
    std::string header;  // request line and headers, up to and including "\r\n\r\n"
    std::string body;
    std::string method;
    std::string path;  // target cut at '?' and then at '#'; "/" when the line has one token
};

ReadOutcome read_web_request(const WebByteSource& recv, WebRequest* out);

// Fills method and path from the request line (the header block's first line).
void parse_request_line(WebRequest* req);

// Declared body length: the number after a "Content-Length:" header (any
// letter case, leading blanks skipped); 0 when absent or not a number. Values
// beyond the body bound come back as k_web_max_body + 1.
size_t declared_body_length(const std::string& header);

// Token of the "zeb_sess" cookie in the first Cookie header; "" when none.
std::string session_cookie(const std::string& header);
