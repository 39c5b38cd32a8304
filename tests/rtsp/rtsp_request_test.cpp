// Request handling of one connection, driven without sockets.
#include "rtsp/rtsp_request.h"

#include <gtest/gtest.h>

#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_engine.h"

namespace {

// A request as a client sends it: "METHOD url", then header lines.
std::string msg(const std::string& line, const std::string& headers = "") {
    return line + " RTSP/1.0\r\n" + headers + "\r\n";
}

const std::string k_ok = "RTSP/1.0 200 OK\r\nCSeq: ";
const std::string k_session = "Session: 12345678;timeout=60\r\n";

struct RequestTest : ::testing::Test {
    RtspEngine e;
    RtspConnState st;
    void SetUp() override {
        e.substream_enabled = true;
        e.sub_stream_name = "screensub";
        e.user_name = "admin";
        e.password = "secret";
        st.nonce = random_hex(16);
        // Fixed "random" bytes 1, 2, 3, ... so the PLAY answer compares byte for byte.
        e.random_source = [](uint8_t* out, size_t len) {
            for (size_t i = 0; i < len; ++i) out[i] = uint8_t(i + 1);
        };
    }
    RtspOutcome req(const std::string& line, const std::string& headers = "") {
        return handle_rtsp_request(e, st, msg(line, headers));
    }
    bool selects_sub(const std::string& text) {
        RtspConnState s;
        handle_rtsp_request(e, s, text);
        return s.sub_selected;
    }
};

}  // namespace

TEST_F(RequestTest, OneConnectionsRepliesAndCSeq) {
    struct Case {
        std::string line, headers, reply;
        RtspNext next = RtspNext::keep;
    };
    const Case cases[] = {
        {"OPTIONS rtsp://h/screenlive", "CSeq: 007\r\n",
         k_ok + "7\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, " +
             "SET_PARAMETER\r\n\r\n"},
        {"GET_PARAMETER rtsp://h/", "Cseq: -4\r\n", k_ok + "-4\r\n\r\n"},
        {"GET_PARAMETER rtsp://h/", "Session: 12345678\r\n", k_ok + "0\r\n" + k_session + "\r\n"},
        {"SETUP rtsp://h/screenlive/trackID=0",
         "CSeq: 3\r\nTransport: RTP/AVP;unicast;client_port=5000-5001\r\n",
         "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n"},
        {"SETUP rtsp://h/screenlive/trackID=0",
         "CSeq: 4\r\nTransport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n",
         k_ok + "4\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n" + k_session + "\r\n"},
        // Audio off: the audio track is answered as the video channels.
        {"SETUP rtsp://h/screenlive/trackID=1",
         "CSeq: 5\r\nTransport: RTP/AVP/TCP;interleaved=2-3\r\n",
         k_ok + "5\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n" + k_session + "\r\n"},
        // Random first sequence number and RTP time (bytes 1-2 and 5-8).
        {"PLAY rtsp://h/screenlive/", "CSeq: 6\r\nSession: 12345678\r\n",
         k_ok + "6\r\n" + k_session + "Range: npt=0.000-\r\n" +
             "RTP-Info: url=rtsp://h/screenlive/trackID=0;seq=258;rtptime=84281096\r\n\r\n",
         RtspNext::play},
        {"TEARDOWN rtsp://h/screenlive", "CSeq: 7\r\n", k_ok + "7\r\nSession: 12345678\r\n\r\n",
         RtspNext::close},
    };
    for (const Case& c : cases) {
        auto out = req(c.line, c.headers);
        EXPECT_EQ(out.reply, c.reply);
        EXPECT_EQ(out.next, c.next) << c.line;
    }
    EXPECT_FALSE(st.audio_requested);
    e.audio_enabled = 1;
    EXPECT_NE(
        req("SETUP rtsp://h/screenlive/trackID=1", "Transport: RTP/AVP/TCP;interleaved=2-3\r\n")
            .reply.find("interleaved=2-3"),
        std::string::npos);
    EXPECT_TRUE(st.audio_requested);
    EXPECT_NE(
        req("PLAY rtsp://h/screenlive")
            .reply.find(
                "trackID=0;seq=258;rtptime=84281096,url=rtsp://h/screenlive/trackID=1;seq=772;"
                "rtptime=151653132\r\n"),
        std::string::npos);
    // Whatever is not "METHOD URI RTSP/x.y" is refused, never served.
    for (std::string bad :
         {std::string("\0\xff garbage", 10), std::string("OPTIONS\r\n"),
          std::string("OPTIONS * HTTP/1.1\r\nCSeq: 3\r\n"),
          std::string("OPT IONS rtsp://h/ RTSP/1.0\r\n"), std::string("OPTIONS  RTSP/1.0\r\n")})
        EXPECT_EQ(
            handle_rtsp_request(e, st, bad).reply.rfind("RTSP/1.0 400 Bad Request\r\nCSeq: ", 0),
            0u)
            << bad;

    EXPECT_EQ(request_cseq("CSeq: 99999999999999999999\r\n"), INT32_MAX);
    EXPECT_EQ(request_cseq("CSeq: x\r\n"), 0);
    EXPECT_EQ(request_cseq("cseq: 5", true), 5);
    EXPECT_EQ(request_cseq("cseq: 5", false), 0);
}

TEST_F(RequestTest, StreamSelection) {
    for (const char* path : {"/anything", "/screenlive", "/Streaming/Channels/101"})
        EXPECT_FALSE(selects_sub(msg(std::string("DESCRIBE rtsp://h") + path))) << path;
    for (const char* path :
         {"/Streaming/Channels/102?subtype=1", "/live/ch01/1", "/STREAM2", "/screensub"})
        EXPECT_TRUE(selects_sub(msg(std::string("DESCRIBE rtsp://h") + path))) << path;
    // The name in a header line counts too, and a connection never switches back.
    handle_rtsp_request(e, st, msg("DESCRIBE rtsp://h/x", "X-Note: screensub\r\n"));
    handle_rtsp_request(e, st, msg("PLAY rtsp://h/screenlive"));
    EXPECT_TRUE(st.sub_selected);
    e.substream_enabled = false;
    EXPECT_FALSE(selects_sub(msg("DESCRIBE rtsp://h/screensub")));
}

TEST_F(RequestTest, AuthenticationGate) {
    e.stream_auth = 1;
    EXPECT_EQ(req("OPTIONS rtsp://h/", "CSeq: 1\r\n").reply.rfind(k_ok, 0), 0u);
    EXPECT_EQ(req("DESCRIBE rtsp://h/screenlive", "CSeq: 2\r\n").reply,
              "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\nWWW-Authenticate: Digest realm=\"Vistrel\", "
              "nonce=\"" +
                  st.nonce + "\"\r\nWWW-Authenticate: Basic realm=\"Vistrel\"\r\n\r\n");
    // Same nonce on every 401 of a connection.
    EXPECT_NE(
        req("DESCRIBE rtsp://h/screenlive", "Authorization: Basic eDp5\r\n").reply.find(st.nonce),
        std::string::npos);
    // A right answer authenticates the connection for good.
    auto ok = req("DESCRIBE rtsp://h/screenlive", "Authorization: Basic YWRtaW46c2VjcmV0\r\n");
    EXPECT_EQ(ok.reply.rfind(k_ok, 0), 0u);
    EXPECT_NE(ok.reply.find("application/sdp"), std::string::npos);
    EXPECT_EQ(req("SETUP rtsp://h/screenlive", "Transport: RTP/AVP/TCP\r\n").reply.rfind(k_ok, 0),
              0u);
    // An Authorization header in a body is not read.
    st = RtspConnState{};
    EXPECT_EQ(
        req("DESCRIBE rtsp://h/", "Content-Length: 40\r\n\r\nAuthorization: Basic YWRtaW46c2VjcmV0")
            .reply.rfind("RTSP/1.0 401", 0),
        0u);
    // Empty password: everything but OPTIONS is refused.
    e.password.clear();
    st = RtspConnState{};
    EXPECT_EQ(req("DESCRIBE x", "Authorization: Basic YWRtaW46\r\n").reply.rfind("RTSP/1.0 401", 0),
              0u);
}
