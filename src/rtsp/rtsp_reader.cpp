#include "rtsp/rtsp_reader.h"

#include <algorithm>
#include <cctype>

#include "engine/clock.h"

namespace {

// End of the header part (index just past the blank line), npos when not yet
// received. Bare LF line ends are accepted as well as CR LF.
size_t head_end(const std::string& buf, size_t limit) {
    size_t n = std::min(buf.size(), limit);
    for (size_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') continue;
        if (i + 1 < buf.size() && buf[i + 1] == '\n') return i + 2;
        if (i + 2 < buf.size() && buf[i + 1] == '\r' && buf[i + 2] == '\n') return i + 3;
    }
    return std::string::npos;
}

bool iequals_prefix(const std::string& s, size_t pos, const char* word) {
    for (size_t k = 0; word[k]; ++k, ++pos)
        if (pos >= s.size() || std::tolower((unsigned char)s[pos]) != word[k]) return false;
    return true;
}

// Declared body length: 0 without the header, -1 when the value is not a plain
// decimal number or exceeds max_body.
long long content_length(const std::string& head, size_t max_body) {
    for (size_t pos = 0; pos < head.size();) {
        size_t eol = head.find('\n', pos);
        if (eol == std::string::npos) eol = head.size();
        if (pos > 0 && iequals_prefix(head, pos, "content-length:")) {
            size_t i = pos + 15;
            while (i < eol && (head[i] == ' ' || head[i] == '\t')) ++i;
            long long v = 0;
            size_t digits = 0;
            while (i < eol && head[i] >= '0' && head[i] <= '9') {
                v = v * 10 + (head[i++] - '0');
                if (v > (long long)max_body) return -1;
                ++digits;
            }
            while (i < eol && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r')) ++i;
            if (digits == 0 || i != eol) return -1;
            return v;
        }
        pos = eol + 1;
    }
    return 0;
}

}  // namespace

int take_request(std::string& buf, size_t max_head, size_t max_body, std::string& request) {
    for (;;) {
        size_t skip = 0;
        while (skip < buf.size() && (buf[skip] == '\r' || buf[skip] == '\n')) ++skip;
        if (skip) buf.erase(0, skip);
        if (buf.empty() || buf[0] != '$') break;
        // Interleaved binary data ('$', channel, 16-bit length, payload: the
        // client's RTCP reports) may come before, between or after requests;
        // it is dropped once whole and waited for while it is not.
        if (buf.size() < 4) return 0;
        size_t frame = 4 + (size_t(uint8_t(buf[2])) << 8 | uint8_t(buf[3]));
        if (buf.size() < frame) return 0;
        buf.erase(0, frame);
    }
    if (buf.empty()) return 0;
    size_t end = head_end(buf, max_head);
    if (end == std::string::npos || end > max_head) return buf.size() >= max_head ? -1 : 0;
    long long body = content_length(buf.substr(0, end), max_body);
    if (body < 0) return -1;
    if (buf.size() < end + size_t(body)) return 0;
    request.assign(buf, 0, end + size_t(body));
    buf.erase(0, end + size_t(body));
    return 1;
}

ReadStatus RequestReader::next(const ByteSource& source, std::string& request) {
    auto clock = [this] { return now_ms ? now_ms() : tick_ms(); };
    uint64_t started = clock();
    char chunk[4096];
    for (;;) {
        int r = take_request(pending, max_head, max_body, request);
        if (r > 0) return ReadStatus::request;
        if (r < 0) return ReadStatus::malformed;  // pending keeps the bytes for the answer
        // Waiting for a request to begin is bounded by the idle time-out; once
        // bytes of it are here, the whole of it must arrive within the request
        // time-out, so a client trickling bytes cannot hold the slot for long.
        uint64_t now = clock();
        uint64_t limit = pending.empty() ? idle_timeout_ms : request_timeout_ms;
        if (pending.empty()) started = now;
        uint32_t wait = 0;
        if (limit) {
            if (now - started >= limit) return ReadStatus::closed;
            wait = uint32_t(limit - (now - started));
        }
        size_t room = pending.empty()
                          ? sizeof chunk
                          : std::min(sizeof chunk, max_head + max_body - pending.size());
        long n = source(chunk, room ? room : 1, wait);
        if (n <= 0) return ReadStatus::closed;
        bool was_empty = pending.empty();
        pending.append(chunk, size_t(n));
        if (was_empty) started = clock();
    }
}
