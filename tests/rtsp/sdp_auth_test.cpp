#include <gtest/gtest.h>

#include <string>

#include "rtsp/digest_auth.h"
#include "rtsp/sdp.h"

TEST(Sdp, VideoOnlyAndWithAudio) {
    ParameterSets ps;
    ps.sps = {0x67, 0x42, 0xC0, 0x1F};
    ps.pps = {0x68, 0xCE, 0x3C, 0x80};
    ps.profile_level_id = "42C01F";
    const std::string video =
        "v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=zeb-screen\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
        "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 "
        "packetization-mode=1;profile-level-id=42C01F;sprop-parameter-sets=Z0LAHw==,aM48gA==\r\n"
        "a=framerate:15\r\na=control:trackID=0\r\n";
    EXPECT_EQ(build_sdp(ps, 15, false), video);
    EXPECT_EQ(build_sdp(ps, 15, true),
              video + "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=control:trackID=1\r\n");
    // Nothing extracted yet: default profile and a lone comma.
    EXPECT_NE(build_sdp(ParameterSets{}, 10, false)
                  .find("profile-level-id=42C020;sprop-parameter-sets=,\r\n"),
              std::string::npos);
}

namespace {
const std::string k_nonce = "0123456789abcdef0123456789abcdef";
const std::string k_uri = "rtsp://127.0.0.1:8554/screenlive";

std::string with_auth(const std::string& credentials) {
    return "DESCRIBE x RTSP/1.0\r\nCSeq: 3\r\nAuthorization: " + credentials + "\r\n\r\n";
}

// A client's Digest request; qop empty gives the RFC 2069 form.
std::string digest(const std::string& user, const std::string& pass, const std::string& qop = "",
                   const std::string& nonce = k_nonce, const std::string& method = "DESCRIBE",
                   bool cnonce_first = false) {
    const std::string cnonce = "0a4f113b";
    std::string ha1 = md5_hex(user + ":Vistrel:" + pass), ha2 = md5_hex(method + ":" + k_uri);
    std::string resp =
        qop.empty() ? md5_hex(ha1 + ":" + nonce + ":" + ha2)
                    : md5_hex(ha1 + ":" + nonce + ":00000001:" + cnonce + ":" + qop + ":" + ha2);
    std::string h = "Digest username=\"" + user + "\", realm=\"Vistrel\", ";
    if (cnonce_first) h += "cnonce=\"" + cnonce + "\", ";
    h += "nonce=\"" + nonce + "\", uri=\"" + k_uri + "\", response=\"" + resp + "\"";
    if (!qop.empty())
        h += ", qop=" + qop + ", nc=00000001" + (cnonce_first ? "" : ", cnonce=\"" + cnonce + "\"");
    return with_auth(h);
}
}  // namespace

TEST(RtspAuth, BasicAndDigest) {
    std::string upper_hex = digest("admin", "secret", "auth");
    size_t r = upper_hex.find("response=\"") + 10;
    for (size_t i = r; i < r + 32; ++i) upper_hex[i] = char(toupper(upper_hex[i]));
    std::string qop_without_cnonce_answer = digest("admin", "secret");
    qop_without_cnonce_answer.insert(qop_without_cnonce_answer.find("\r\n\r\n"),
                                     ", qop=auth, nc=00000001, cnonce=\"x\"");
    struct Case {
        std::string request;
        bool ok;
        std::string password = "secret";
    };
    const Case cases[] = {
        {with_auth("Basic YWRtaW46c2VjcmV0"), true},  // admin:secret
        {"DESCRIBE x RTSP/1.0\r\nauthorization: basic YWRtaW46c2VjcmV0\r\n\r\n", true},
        {with_auth("Basic QURNSU46c2VjcmV0"), false},  // ADMIN:secret
        {with_auth("Basic YWRtaW46c2VjcmV"), false},   // truncated
        {with_auth("Basic YWRtaW4="), false},          // no colon
        {with_auth("Basic "), false},
        {with_auth("Bearer abc"), false},
        {"DESCRIBE x RTSP/1.0\r\n\r\n", false},
        {with_auth("Basic YWRtaW46"), false, ""},  // an empty password never passes
        {digest("admin", "secret"), true},
        {digest("admin", "secret", "auth"), true},
        {digest("admin", "secret", "auth", k_nonce, "DESCRIBE", true), true},
        {upper_hex, true},
        {qop_without_cnonce_answer, false},
        {digest("admin", "wrong"), false},
        {digest("other", "secret"), false},
        {digest("", "secret"), false},
        {digest("admin", "secret", "", "ffffffffffffffffffffffffffffffff"), false},  // old nonce
        {digest("admin", "secret", "", k_nonce, "SETUP"), false},
        {digest("admin", "secret"), false, ""},
        {with_auth("Digest username=\"admin\", nonce=\"" + k_nonce + "\", response=\"00\""),
         false},  // no uri
    };
    for (const Case& c : cases)
        EXPECT_EQ(check_rtsp_auth(c.request, "DESCRIBE", "Vistrel", k_nonce, "admin", c.password),
                  c.ok)
            << c.request;
}

TEST(RtspAuth, ParamsAndMd5) {
    const std::string line = "Digest cnonce=\"c1\", nonce=\"n1\",uri=rtsp://x/y, nc=01\tqop=auth";
    EXPECT_EQ(auth_param(line, "nonce") + auth_param(line, "cnonce"), "n1c1");
    EXPECT_EQ(auth_param(line, "uri") + "|" + auth_param(line, "qop"), "rtsp://x/y|auth");
    EXPECT_EQ(auth_param(line, "realm"), "");
    EXPECT_EQ(auth_param("Digest nonce=\"unterminated", "nonce"), "");
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    std::string two_blocks;  // 80 bytes: the padding spills into a second block
    for (int i = 0; i < 8; ++i) two_blocks += "1234567890";
    EXPECT_EQ(md5_hex(two_blocks), "57edf4a22be3c955ac49da2e2107b67a");
}
