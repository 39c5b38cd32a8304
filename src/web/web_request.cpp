#include "web/web_request.h"

#include <algorithm>
#include <cctype>

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Offset of header name (lower case, with its colon) at the start of a header
// line, npos when absent. Matching only at line starts keeps a value such as
// a Referer that contains "content-length:" from being read as the header.
size_t find_header(const std::string& lowered, const char* name) {
    const std::string needle = std::string("\r\n") + name;
    const size_t at = lowered.find(needle);
    return at == std::string::npos ? at : at + 2;
}

}  // namespace

size_t declared_body_length(const std::string& header) {
    const std::string lowered = lower(header);
    size_t at = find_header(lowered, "content-length:");
    if (at == std::string::npos) return 0;
    at += 15;
    while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) ++at;
    size_t value = 0;
    bool digits = false;
    for (; at < header.size() && std::isdigit(static_cast<unsigned char>(header[at])); ++at) {
        digits = true;
        value = std::min<size_t>(value * 10 + static_cast<size_t>(header[at] - '0'),
                                 k_web_max_body + 1);
    }
    return digits ? value : 0;
}

std::string session_cookie(const std::string& header) {
    const std::string lowered = lower(header);
    const size_t at = find_header(lowered, "cookie:");
    if (at == std::string::npos) return "";
    size_t end = header.find("\r\n", at);
    if (end == std::string::npos) end = header.size();
    const std::string line = header.substr(at, end - at);
    size_t v = line.find("zeb_sess=");
    if (v == std::string::npos) return "";
    v += 9;
    size_t stop = line.find(';', v);
    if (stop == std::string::npos) stop = line.size();
    std::string token = line.substr(v, stop - v);
    const size_t first = token.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    token.erase(0, first);
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\r'))
        token.pop_back();
    return token;
}

void parse_request_line(WebRequest* req) {
    const std::string& h = req->header;
    size_t eol = h.find("\r\n");
    if (eol == std::string::npos) eol = h.size();
    const std::string line = h.substr(0, eol);
    const size_t sp1 = line.find(' ');
    req->method = line.substr(0, sp1);
    req->path.assign(1, '/');  // (not = "/": GCC 12 warns falsely on that form)
    if (sp1 == std::string::npos) return;
    const size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) return;
    // Query and fragment are dropped: handlers take their parameters from the body.
    const size_t cut = line.find_first_of("?#", sp1 + 1);
    req->path = line.substr(sp1 + 1, std::min(sp2, cut) - sp1 - 1);
}

ReadOutcome read_web_request(const WebByteSource& recv, WebRequest* out) {
    std::string buf;
    char chunk[4096];
    size_t header_len = 0;
    for (;;) {
        const size_t end = buf.find("\r\n\r\n");
        if (end != std::string::npos) {
            header_len = end + 4;
            break;
        }
        // Any blank line still to come would end beyond the bound.
        if (buf.size() >= k_web_max_header) return ReadOutcome::header_too_large;
        const long n = recv(chunk, sizeof chunk);
        if (n <= 0) return ReadOutcome::closed;
        buf.append(chunk, static_cast<size_t>(n));
    }
    if (header_len > k_web_max_header) return ReadOutcome::header_too_large;
    out->header = buf.substr(0, header_len);
    const size_t body_len = declared_body_length(out->header);
    if (body_len > k_web_max_body) return ReadOutcome::body_too_large;
    while (buf.size() < header_len + body_len) {
        const size_t want = std::min(sizeof chunk, header_len + body_len - buf.size());
        const long n = recv(chunk, want);
        if (n <= 0) return ReadOutcome::incomplete_body;
        buf.append(chunk, static_cast<size_t>(n));
    }
    out->body = buf.substr(header_len, body_len);
    parse_request_line(out);
    return ReadOutcome::ok;
}
