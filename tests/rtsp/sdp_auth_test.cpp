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
        "a=control:trackID=0\r\n";
    EXPECT_EQ(build_sdp(ps, false), video);
    EXPECT_EQ(build_sdp(ps, true),
              video + "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=control:trackID=1\r\n");

    // Nothing extracted yet: default profile and a lone comma.
    std::string empty = build_sdp(ParameterSets{}, false);
    EXPECT_NE(empty.find("profile-level-id=42C020;sprop-parameter-sets=,\r\n"), std::string::npos);
}

namespace {
// A client's Digest header for method/uri.
std::string digest(const std::string& user, const std::string& pass, const std::string& nonce,
                   const std::string& method, const std::string& uri, const std::string& qop = "",
                   const std::string& cnonce = "0a4f113b", bool cnonce_first = false) {
    std::string ha1 = md5_hex(user + ":Vistrel:" + pass);
    std::string ha2 = md5_hex(method + ":" + uri);
    std::string resp =
        qop.empty() ? md5_hex(ha1 + ":" + nonce + ":" + ha2)
                    : md5_hex(ha1 + ":" + nonce + ":00000001:" + cnonce + ":" + qop + ":" + ha2);
    std::string h = "Authorization: Digest username=\"" + user + "\", realm=\"Vistrel\", ";
    if (cnonce_first) h += "cnonce=\"" + cnonce + "\", ";
    h += "nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"" + resp + "\"";
    if (!qop.empty())
        h += ", qop=" + qop + ", nc=00000001" + (cnonce_first ? "" : ", cnonce=\"" + cnonce + "\"");
    return "DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nCSeq: 3\r\n" + h + "\r\n\r\n";
}
const std::string k_nonce = "0123456789abcdef0123456789abcdef";
bool check(const std::string& req, const std::string& pass = "secret") {
    return check_rtsp_auth(req, "DESCRIBE", "Vistrel", k_nonce, "admin", pass);
}
}  // namespace

TEST(RtspAuth, Basic) {
    EXPECT_TRUE(check(
        "DESCRIBE x RTSP/1.0\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n\r\n"));  // admin:secret
    EXPECT_TRUE(check("DESCRIBE x RTSP/1.0\r\nauthorization: basic YWRtaW46c2VjcmV0\r\n\r\n"));
    EXPECT_FALSE(check(
        "DESCRIBE x RTSP/1.0\r\nAuthorization: Basic QURNSU46c2VjcmV0\r\n\r\n"));  // ADMIN:secret
    EXPECT_FALSE(
        check("DESCRIBE x RTSP/1.0\r\nAuthorization: Basic YWRtaW46c2VjcmV\r\n\r\n"));  // truncated
    EXPECT_FALSE(
        check("DESCRIBE x RTSP/1.0\r\nAuthorization: Basic YWRtaW4=\r\n\r\n"));  // no colon
    EXPECT_FALSE(check("DESCRIBE x RTSP/1.0\r\nAuthorization: Basic \r\n\r\n"));
    EXPECT_FALSE(check("DESCRIBE x RTSP/1.0\r\n\r\n"));
    EXPECT_FALSE(check("DESCRIBE x RTSP/1.0\r\nAuthorization: Bearer abc\r\n\r\n"));
    // An empty configured password never passes, whatever is sent.
    EXPECT_FALSE(check("DESCRIBE x RTSP/1.0\r\nAuthorization: Basic YWRtaW46\r\n\r\n", ""));
}

TEST(RtspAuth, DigestForms) {
    const std::string uri = "rtsp://127.0.0.1:8554/screenlive";
    EXPECT_TRUE(check(digest("admin", "secret", k_nonce, "DESCRIBE", uri)));  // RFC 2069
    EXPECT_TRUE(check(digest("admin", "secret", k_nonce, "DESCRIBE", uri, "auth")));
    EXPECT_TRUE(check(
        digest("admin", "secret", k_nonce, "DESCRIBE", uri, "auth", "xyz", true)));  // cnonce first

    // Upper-case hexadecimal response passes.
    std::string req = digest("admin", "secret", k_nonce, "DESCRIBE", uri, "auth");
    size_t r = req.find("response=\"") + 10;
    for (size_t i = r; i < r + 32; ++i) req[i] = char(toupper(req[i]));
    EXPECT_TRUE(check(req));

    // qop announced but the RFC 2069 answer given.
    std::string mixed = digest("admin", "secret", k_nonce, "DESCRIBE", uri);
    mixed.insert(mixed.find("\r\n\r\n"), ", qop=auth, nc=00000001, cnonce=\"x\"");
    EXPECT_FALSE(check(mixed));

    EXPECT_FALSE(check(digest("admin", "wrong", k_nonce, "DESCRIBE", uri)));
    EXPECT_FALSE(check(digest("other", "secret", k_nonce, "DESCRIBE", uri)));
    EXPECT_FALSE(check(digest("admin", "secret", "ffffffffffffffffffffffffffffffff", "DESCRIBE",
                              uri)));                                       // old nonce
    EXPECT_FALSE(check(digest("admin", "secret", k_nonce, "SETUP", uri)));  // other method
    EXPECT_FALSE(check(digest("", "secret", k_nonce, "DESCRIBE", uri)));
    EXPECT_FALSE(check(digest("admin", "secret", k_nonce, "DESCRIBE", uri), ""));
    EXPECT_FALSE(check("DESCRIBE x RTSP/1.0\r\nAuthorization: Digest username=\"admin\", nonce=\"" +
                       k_nonce + "\", response=\"00\"\r\n\r\n"));  // no uri
}

TEST(RtspAuth, Helpers) {
    const std::string line = "Digest cnonce=\"c1\", nonce=\"n1\",uri=rtsp://x/y, nc=01\tqop=auth";
    EXPECT_EQ(auth_param(line, "nonce"), "n1");
    EXPECT_EQ(auth_param(line, "cnonce"), "c1");
    EXPECT_EQ(auth_param(line, "uri"), "rtsp://x/y");
    EXPECT_EQ(auth_param(line, "qop"), "auth");
    EXPECT_EQ(auth_param(line, "realm"), "");
    EXPECT_EQ(auth_param("Digest nonce=\"unterminated", "nonce"), "");
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_TRUE(equal_constant_time("abc", "abc"));
    EXPECT_FALSE(equal_constant_time("abc", "abd"));
    EXPECT_FALSE(equal_constant_time("abc", "ab"));
    std::string a = random_hex(16), b = random_hex(0);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(b.size(), 32u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
}
