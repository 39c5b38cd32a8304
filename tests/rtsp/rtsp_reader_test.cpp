// Request framing over a scripted byte source, and what one connection answers
// to pipelined, split, malformed and random input.
#include "rtsp/rtsp_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "rtsp/connection_table.h"
#include "rtsp/rtsp_engine.h"
#include "rtsp/rtsp_request.h"

namespace {

constexpr long k_timeout = -2;

// Hands out the scripted reads one by one (a read larger than the buffer is
// handed out in pieces), then reports the peer closed.
struct Script {
    std::vector<std::string> reads;
    size_t at = 0, offset = 0;
    bool time_out_at_end = false;
    long operator()(char* buf, size_t len, uint32_t) {
        if (at == reads.size()) return time_out_at_end ? k_timeout : 0;
        const std::string& r = reads[at];
        size_t n = std::min(len, r.size() - offset);
        std::copy_n(r.data() + offset, n, buf);
        offset += n;
        if (offset == r.size()) ++at, offset = 0;
        return long(n);
    }
};

// "request:<text>" per request, then "malformed" or "closed".
std::vector<std::string> frame(Script script, RequestReader reader = {}) {
    std::vector<std::string> out;
    ByteSource source = [&script](char* b, size_t l, uint32_t t) { return script(b, l, t); };
    for (std::string req;;) {
        ReadStatus r = reader.next(source, req);
        if (r == ReadStatus::request) {
            out.push_back("request:" + req);
            continue;
        }
        out.push_back(r == ReadStatus::malformed ? "malformed" : "closed");
        return out;
    }
}

const std::string k_opt1 = "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n";
const std::string k_opt2 = "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 2\r\n\r\n";
const std::string k_set =
    "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 3\r\nContent-Length: 10\r\n\r\n";
const std::string k_play = "PLAY rtsp://h/ RTSP/1.0\r\nCSeq: 4\r\nSession: 12345678\r\n\r\n";
const std::string k_get = "GET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 5\r\n\r\n";
const std::string k_stop = "TEARDOWN rtsp://h/ RTSP/1.0\r\nCSeq: 6\r\n\r\n";

// An interleaved frame on channel 1 (an RTCP report) carrying payload.
std::string interleaved(const std::string& payload) {
    std::string f = {'$', '\1', char(payload.size() >> 8), char(payload.size() & 0xff)};
    return f + payload;
}

}  // namespace

TEST(RequestReader, FramingTable) {
    const std::string big_head = "OPTIONS rtsp://h/ RTSP/1.0\r\nX: " + std::string(9000, 'a');
    struct Case {
        const char* what;
        std::vector<std::string> reads;
        std::vector<std::string> expect;
    };
    const Case cases[] = {
        {"three pipelined in one read",
         {k_opt1 + k_opt2 + k_set + "0123456789"},
         {"request:" + k_opt1, "request:" + k_opt2, "request:" + k_set + "0123456789", "closed"}},
        {"split inside a header and inside the blank line",
         {"OPTIONS rtsp://h/ RTSP/1.0\r\nCSe", "q: 1\r\n\r", "\n"},
         {"request:" + k_opt1, "closed"}},
        {"body split, next request behind it",
         {k_set + "01234", "56789" + k_opt2},
         {"request:" + k_set + "0123456789", "request:" + k_opt2, "closed"}},
        {"blank lines between requests, bare LF line ends",
         {"\r\n" + k_opt1 + "\r\n\r\n", "OPTIONS rtsp://h/ RTSP/1.0\nCSeq: 2\n\n"},
         {"request:" + k_opt1, "request:OPTIONS rtsp://h/ RTSP/1.0\nCSeq: 2\n\n", "closed"}},
        {"lower-case content-length",
         {k_opt1 + "PLAY x RTSP/1.0\r\ncontent-length: 2\r\n\r\nab"},
         {"request:" + k_opt1, "request:PLAY x RTSP/1.0\r\ncontent-length: 2\r\n\r\nab", "closed"}},
        {"header that never ends", {big_head}, {"malformed"}},
        {"Content-Length not a number",
         {"PLAY x RTSP/1.0\r\nContent-Length: -5\r\n\r\n"},
         {"malformed"}},
        {"Content-Length beyond the bound",
         {"PLAY x RTSP/1.0\r\nContent-Length: 9999999\r\n\r\n"},
         {"malformed"}},
        {"interleaved frames before, between and after requests",
         {interleaved(std::string(300, '\0')) + k_opt1 + interleaved("") + k_opt2 +
          interleaved("\x81\xc9")},
         {"request:" + k_opt1, "request:" + k_opt2, "closed"}},
        {"interleaved frame split over reads, its payload looking like a request",
         {k_opt1 + interleaved(k_opt2).substr(0, 3), interleaved(k_opt2).substr(3, 10),
          interleaved(k_opt2).substr(13) + k_set + "0123456789"},
         {"request:" + k_opt1, "request:" + k_set + "0123456789", "closed"}},
        {"keep-alive and TEARDOWN behind PLAY in one read, a report between",
         {k_play + k_get + interleaved("rr") + k_stop},
         {"request:" + k_play, "request:" + k_get, "request:" + k_stop, "closed"}},
        {"peer closes mid-request",
         {k_opt1, "OPTIONS rtsp://h/ RTS"},
         {"request:" + k_opt1, "closed"}},
    };
    for (const Case& c : cases) EXPECT_EQ(frame(Script{c.reads}), c.expect) << c.what;
}

TEST(RequestReader, RequestMustArriveInTime) {
    // A byte every 1000 ms: the request has not arrived after its 5 s.
    uint64_t now = 0;
    RequestReader reader;
    reader.now_ms = [&now] { return now += 1000; };
    std::vector<std::string> bytes;
    for (char ch : k_opt1) bytes.push_back(std::string(1, ch));
    EXPECT_EQ(frame(Script{bytes}, reader), std::vector<std::string>{"closed"});
    // A whole request, then silence until the source's time-out: closed.
    Script idle{{k_opt1}};
    idle.time_out_at_end = true;
    EXPECT_EQ(frame(idle), (std::vector<std::string>{"request:" + k_opt1, "closed"}));
}

TEST(RequestReader, GarbageIsNeverServed) {
    // 1 MB of random bytes (with CR LF pairs sprinkled in, so some "requests"
    // get framed) through the reader and the request handler: only 400s.
    std::mt19937 rng(7);
    std::string garbage(1 << 20, '\0');
    for (char& ch : garbage) ch = char(rng());
    for (size_t i = 0; i < garbage.size(); i += 97) garbage.replace(i, 4, "\r\n\r\n");
    RtspEngine e;
    RtspConnState st;
    RequestReader reader;
    Script script{{garbage}};
    ByteSource source = [&script](char* b, size_t l, uint32_t t) { return script(b, l, t); };
    int served = 0, refused = 0;
    for (std::string req; reader.next(source, req) == ReadStatus::request;) {
        std::string reply = handle_rtsp_request(e, st, req).reply;
        reply.rfind("RTSP/1.0 400 ", 0) == 0 ? ++refused : ++served;
    }
    EXPECT_EQ(served, 0);
    EXPECT_GT(refused, 1000);
}

TEST(ConnectionTable, OneAddressCannotTakeEverySlot) {
    std::vector<socket_t> evicted;
    ConnectionTable t([&evicted](socket_t s) { evicted.push_back(s); });
    ConnectionBounds b;
    b.per_address_waiting = 8;  // 32 waiting in all
    int admitted = 0;
    for (socket_t s = 100; s < 200; ++s) admitted += t.admit(s, "10.0.0.66", b);
    EXPECT_EQ(admitted, b.per_address_waiting);
    // Others still get in; playing connections leave room for more waiting ones.
    EXPECT_TRUE(t.admit(1, "10.0.0.1", b));
    t.playing(1);
    for (socket_t s = 100; s < 108; ++s) t.playing(s);
    for (socket_t s = 200; s < 208; ++s) EXPECT_TRUE(t.admit(s, "10.0.0.66", b));
    EXPECT_EQ(t.count("10.0.0.66", false), 16);
    // At the overall waiting bound the heaviest holder gives up its oldest.
    for (int a = 2; a < 5; ++a)
        for (int k = 0; k < 8; ++k)
            EXPECT_TRUE(t.admit(socket_t(1000 + a * 10 + k), "10.0.1." + std::to_string(a), b));
    EXPECT_TRUE(t.admit(2000, "10.0.1.9", b));
    EXPECT_EQ(evicted, std::vector<socket_t>{200});
    t.closed(200);
    EXPECT_EQ(t.count("10.0.0.66", true), 7);
}
