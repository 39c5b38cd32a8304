// Request handling of one connection, driven without sockets.
#include "rtsp/rtsp_request.h"

#include <gtest/gtest.h>

#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_engine.h"

namespace {

struct RequestTest : ::testing::Test {
    RtspEngine e;
    RtspConnState st;
    void SetUp() override {
        e.substream_enabled = true;
        e.sub_stream_name = "screensub";
        e.user_name = "admin";
        e.password = "secret";
        st.nonce = random_hex(16);
    }
    RtspOutcome req(const std::string& text) { return handle_rtsp_request(e, st, text); }
};

}  // namespace

TEST_F(RequestTest, RepliesAndCSeq) {
    EXPECT_EQ(req("OPTIONS rtsp://h/screenlive RTSP/1.0\r\nCSeq: 007\r\n\r\n").reply,
              "RTSP/1.0 200 OK\r\nCSeq: 7\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, "
              "GET_PARAMETER, "
              "SET_PARAMETER\r\n\r\n");
    EXPECT_EQ(req("GET_PARAMETER rtsp://h/ RTSP/1.0\r\nCseq: -4\r\n\r\n").reply,
              "RTSP/1.0 200 OK\r\nCSeq: -4\r\n\r\n");
    EXPECT_EQ(req("GET_PARAMETER rtsp://h/ RTSP/1.0\r\nSession: 12345678\r\n\r\n").reply,
              "RTSP/1.0 200 OK\r\nCSeq: 0\r\nSession: 12345678;timeout=60\r\n\r\n");
    EXPECT_EQ(request_cseq("CSeq: 99999999999999999999\r\n"), INT32_MAX);
    EXPECT_EQ(request_cseq("CSeq: x\r\n"), 0);
    EXPECT_EQ(request_cseq("cseq: 5", true), 5);
    EXPECT_EQ(request_cseq("cseq: 5", false), 0);

    auto udp =
        req("SETUP rtsp://h/screenlive/trackID=0 RTSP/1.0\r\nCSeq: 3\r\nTransport: "
            "RTP/AVP;unicast;client_port=5000-5001\r\n\r\n");
    EXPECT_EQ(udp.reply, "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n");
    auto tcp =
        req("SETUP rtsp://h/screenlive/trackID=0 RTSP/1.0\r\nCSeq: 4\r\nTransport: "
            "RTP/AVP/TCP;unicast;interleaved=4-5\r\n\r\n");
    EXPECT_EQ(
        tcp.reply,
        "RTSP/1.0 200 OK\r\nCSeq: 4\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: "
        "12345678;timeout=60\r\n\r\n");
    // Audio track: only when audio is on.
    auto a =
        req("SETUP rtsp://h/screenlive/trackID=1 RTSP/1.0\r\nCSeq: 5\r\nTransport: "
            "RTP/AVP/TCP;interleaved=2-3\r\n\r\n");
    EXPECT_NE(a.reply.find("interleaved=0-1"), std::string::npos);
    EXPECT_FALSE(st.audio_requested);
    e.audio_enabled = 1;
    a =
        req("SETUP rtsp://h/screenlive/trackID=1 RTSP/1.0\r\nCSeq: 5\r\nTransport: "
            "RTP/AVP/TCP;interleaved=2-3\r\n\r\n");
    EXPECT_NE(a.reply.find("interleaved=2-3"), std::string::npos);
    EXPECT_TRUE(st.audio_requested);

    auto play = req("PLAY rtsp://h/screenlive RTSP/1.0\r\nCSeq: 6\r\nSession: 12345678\r\n\r\n");
    EXPECT_EQ(play.next, RtspNext::play);
    EXPECT_EQ(
        play.reply,
        "RTSP/1.0 200 OK\r\nCSeq: 6\r\nSession: 12345678;timeout=60\r\nRange: npt=0.000-\r\n\r\n");
    auto td = req("TEARDOWN rtsp://h/screenlive RTSP/1.0\r\nCSeq: 7\r\n\r\n");
    EXPECT_EQ(td.next, RtspNext::close);
    EXPECT_EQ(td.reply, "RTSP/1.0 200 OK\r\nCSeq: 7\r\nSession: 12345678\r\n\r\n");
    // Garbage gets an answer and changes nothing.
    EXPECT_EQ(req(std::string("\0\xff garbage", 10)).reply, "RTSP/1.0 200 OK\r\nCSeq: 0\r\n\r\n");
}

TEST_F(RequestTest, StreamSelection) {
    for (const char* path : {"/anything", "/screenlive", "/Streaming/Channels/101"}) {
        RtspConnState s;
        handle_rtsp_request(
            e, s, std::string("DESCRIBE rtsp://h") + path + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
        EXPECT_FALSE(s.sub_selected) << path;
    }
    for (const char* path :
         {"/Streaming/Channels/102?subtype=1", "/live/ch01/1", "/STREAM2", "/screensub"}) {
        RtspConnState s;
        handle_rtsp_request(
            e, s, std::string("DESCRIBE rtsp://h") + path + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
        EXPECT_TRUE(s.sub_selected) << path;
    }
    RtspConnState s;
    handle_rtsp_request(e, s, "DESCRIBE rtsp://h/x RTSP/1.0\r\nX-Note: screensub\r\n\r\n");
    EXPECT_TRUE(s.sub_selected);  // the name in a header line counts too
    handle_rtsp_request(e, s, "PLAY rtsp://h/screenlive RTSP/1.0\r\n\r\n");
    EXPECT_TRUE(s.sub_selected);  // never switches back
    // Sub stream off: nothing selects it.
    e.substream_enabled = false;
    RtspConnState off;
    handle_rtsp_request(e, off, "DESCRIBE rtsp://h/screensub RTSP/1.0\r\n\r\n");
    EXPECT_FALSE(off.sub_selected);
}

TEST_F(RequestTest, AuthenticationGate) {
    e.stream_auth = 1;
    EXPECT_EQ(
        req("OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n").reply.rfind("RTSP/1.0 200 OK", 0), 0u);
    std::string r1 = req("DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nCSeq: 2\r\n\r\n").reply;
    EXPECT_EQ(r1,
              "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\nWWW-Authenticate: Digest realm=\"Vistrel\", "
              "nonce=\"" +
                  st.nonce + "\"\r\nWWW-Authenticate: Basic realm=\"Vistrel\"\r\n\r\n");
    std::string r2 =
        req("DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nCSeq: 3\r\nAuthorization: Basic eDp5\r\n\r\n")
            .reply;
    EXPECT_NE(r2.find(st.nonce), std::string::npos);  // same nonce on every 401
    // A right answer authenticates the connection for good.
    auto ok =
        req("DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nCSeq: 4\r\nAuthorization: Basic "
            "YWRtaW46c2VjcmV0\r\n\r\n");
    EXPECT_EQ(ok.reply.rfind("RTSP/1.0 200 OK", 0), 0u);
    EXPECT_NE(ok.reply.find("application/sdp"), std::string::npos);
    EXPECT_TRUE(st.authenticated);
    EXPECT_EQ(req("SETUP rtsp://h/screenlive RTSP/1.0\r\nCSeq: 5\r\nTransport: RTP/AVP/TCP\r\n\r\n")
                  .reply.rfind("RTSP/1.0 200", 0),
              0u);
    // An Authorization header in a body is not read.
    RtspConnState other;
    other.nonce = random_hex(16);
    auto body =
        handle_rtsp_request(e, other,
                            "DESCRIBE rtsp://h/ RTSP/1.0\r\nCSeq: 6\r\nContent-Length: 40\r\n\r\n"
                            "Authorization: Basic YWRtaW46c2VjcmV0\r\n");
    EXPECT_EQ(body.reply.rfind("RTSP/1.0 401", 0), 0u);
    // Empty password: everything but OPTIONS is refused.
    e.password.clear();
    RtspConnState nopass;
    EXPECT_EQ(handle_rtsp_request(e, nopass,
                                  "DESCRIBE x RTSP/1.0\r\nAuthorization: Basic YWRtaW46\r\n\r\n")
                  .reply.rfind("RTSP/1.0 401", 0),
              0u);
}
