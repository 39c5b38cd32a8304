// Request framing of one RTSP connection: bytes from a byte source are kept
// across reads until a request is whole (its header up to the blank line, plus
// the body its Content-Length declares), so pipelined requests come out one by
// one in order and a request split over several reads comes out once. The
// socket enters through the byte source, so tests and the fuzzer drive it
// without a network. Owned by the connection's thread; no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Reads up to len bytes, waiting at most timeout_ms (0 = no limit):
// >0 bytes read, 0 peer closed, -1 error, -2 time-out.
using ByteSource = std::function<long(char* buf, size_t len, uint32_t timeout_ms)>;

enum class ReadStatus {
    request,    // one whole request in the out text
    malformed,  // framing cannot be trusted (header too long, bad Content-Length): answer 400,
                // close
    closed,     // peer closed, error, or the request did not arrive in time
};

struct RequestReader {
    // Bounds: header bytes of one request, its body, the wait for a request
    // to begin (idle connection) and for a begun request to be complete.
    size_t max_head = 8192;
    size_t max_body = 65536;
    uint32_t idle_timeout_ms = 30000;
    uint32_t request_timeout_ms = 5000;
    // Millisecond clock for the deadlines (the tick count; tests inject one).
    std::function<uint64_t()> now_ms;

    std::string pending;  // bytes received but not yet returned (after malformed: the bad ones)

    ReadStatus next(const ByteSource& source, std::string& request);
};

// Splits off the first whole request of buf when there is one: 1 taken
// (removed from buf), 0 more bytes needed, -1 malformed. Blank lines before a
// request are dropped, and so are whole interleaved binary frames ('$',
// channel, 16-bit length, payload) before or between requests.
int take_request(std::string& buf, size_t max_head, size_t max_body, std::string& request);
