// Credential gate: which requests are protected, WS-Security UsernameToken
// (digest and text) and the HTTP Authorization header (Digest and Basic), and
// the 401 answer the endpoint gives.
#include "onvif/onvif_auth.h"

#include <gtest/gtest.h>

#include "engine/base64.h"
#include "engine/crypto.h"
#include "onvif/onvif_server.h"
#include "rtsp/digest_auth.h"

namespace {

std::string token_body(const std::string& user, const std::string& password_field,
                       const std::string& nonce_b64, const std::string& created,
                       const std::string& type = "#PasswordDigest") {
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header>"
           "<wsse:Security><wsse:UsernameToken><wsse:Username>" +
           user +
           "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-username-token-profile-1.0" +
           type + "\">" + password_field + "</wsse:Password><wsse:Nonce>" + nonce_b64 +
           "</wsse:Nonce><wsu:Created>" + created +
           "</wsu:Created></wsse:UsernameToken></wsse:Security></s:Header><s:Body>"
           "<trt:GetProfiles/></s:Body></s:Envelope>";
}

std::string ws_digest(const std::string& nonce, const std::string& created, const std::string& pw) {
    const auto d = sha1(nonce + created + pw);
    return base64_encode(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

class Gate : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx.user_name = "admin";
        ctx.password = "s3cret";
        ctx.stream_auth = 1;
        ctx.nonce = "0123456789abcdef0123456789abcdef";
        ctx.address = "127.0.0.1";
    }
    std::string post(const std::string& body, const std::string& extra_headers = "") {
        HttpRequest req;
        req.text = "POST /onvif/media_service HTTP/1.1\r\n" + extra_headers +
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        req.header_end = req.text.find("\r\n\r\n");
        req.body = body;
        return handle_request(ctx, req);
    }
    std::string digest_header(const std::string& uri, const std::string& nonce, bool qop,
                              const std::string& pw) {
        const std::string ha1 = md5_hex("admin:Vistrel:" + pw);
        const std::string ha2 = md5_hex("POST:" + uri);
        if (qop)
            return "Authorization: Digest username=\"admin\", realm=\"Vistrel\", nonce=\"" + nonce +
                   "\", uri=\"" + uri +
                   "\", qop=auth, nc=00000001, cnonce=\"c0ffee\", response=\"" +
                   md5_hex(ha1 + ":" + nonce + ":00000001:c0ffee:auth:" + ha2) + "\"\r\n";
        return "Authorization: Digest username=\"admin\", realm=\"Vistrel\", nonce=\"" + nonce +
               "\", uri=\"" + uri + "\", response=\"" + md5_hex(ha1 + ":" + nonce + ":" + ha2) +
               "\"\r\n";
    }
    OnvifContext ctx;
};

TEST(NeedsCredentials, OnlyVideoRevealingActions) {
    for (const char* a : {"GetStreamUri", "GetProfiles", "GetProfile", "GetSnapshotUri",
                          "GetVideoEncoderConfiguration", "GetVideoEncoderConfigurations",
                          "GetCompatibleVideoEncoderConfigurations"})
        EXPECT_TRUE(needs_credentials(std::string("<s:Body><x:") + a + "/></s:Body>")) << a;
    for (const char* a :
         {"GetDeviceInformation", "GetCapabilities", "GetServices", "GetSystemDateAndTime",
          "GetScopes", "CreatePullPointSubscription", "PullMessages", "GetVideoSources"})
        EXPECT_FALSE(needs_credentials(std::string("<s:Body><x:") + a + "/></s:Body>")) << a;
}

TEST_F(Gate, UsernameTokenDigestAndText) {
    const std::string nonce = "\x01\x02\x03nonce-bytes\xff";
    const std::string nonce64 = base64_encode(nonce);
    const std::string created = "2026-12-06T10:00:00Z";
    EXPECT_TRUE(check_username_token(
        ctx, token_body("admin", ws_digest(nonce, created, "s3cret"), nonce64, created)));
    // User names compare without regard to letter case.
    EXPECT_TRUE(check_username_token(
        ctx, token_body("ADMIN", ws_digest(nonce, created, "s3cret"), nonce64, created)));
    // A digest-form token that carries the plain password.
    EXPECT_TRUE(check_username_token(ctx, token_body("admin", "s3cret", nonce64, created)));
    EXPECT_TRUE(check_username_token(ctx, token_body("admin", "s3cret", "", "", "#PasswordText")));
    EXPECT_FALSE(check_username_token(
        ctx, token_body("admin", ws_digest(nonce, created, "wrong"), nonce64, created)));
    EXPECT_FALSE(check_username_token(
        ctx, token_body("admin", ws_digest(nonce, "other", "s3cret"), nonce64, created)));
    EXPECT_FALSE(check_username_token(ctx, token_body("admin2", "s3cret", nonce64, created)));
    EXPECT_FALSE(check_username_token(ctx, token_body("admin", "S3CRET", "", "", "#PasswordText")));
    EXPECT_FALSE(check_username_token(ctx, token_body("", "s3cret", nonce64, created)));
    EXPECT_FALSE(check_username_token(ctx, "<s:Body><GetProfiles/></s:Body>"));
    ctx.password.clear();  // an empty configured password never passes
    EXPECT_FALSE(check_username_token(ctx, token_body("admin", "", "", "", "#PasswordText")));
}

TEST_F(Gate, HttpDigestForms) {
    const std::string& n = ctx.nonce;
    auto check = [&](const std::string& header) {
        return check_http_auth("POST / HTTP/1.1\r\n" + header + "\r\n", "POST", "Vistrel", n,
                               "admin", "s3cret");
    };
    EXPECT_TRUE(check(digest_header("/onvif/media_service", n, true, "s3cret")));
    EXPECT_TRUE(check(digest_header("/onvif/media_service", n, false, "s3cret")));
    // Upper-case response digits.
    std::string upper = digest_header("/x", n, false, "s3cret");
    const size_t r = upper.find("response=\"") + 10;
    for (size_t i = r; upper[i] != '"'; ++i) upper[i] = static_cast<char>(toupper(upper[i]));
    EXPECT_TRUE(check(upper));
    // qop sent but answered the RFC 2069 way.
    std::string mixed = digest_header("/x", n, false, "s3cret");
    mixed.insert(mixed.find("response="), "qop=auth, nc=00000001, cnonce=\"abc\", ");
    EXPECT_TRUE(check(mixed));
    // Lower-case header name.
    std::string lower = digest_header("/x", n, true, "s3cret");
    lower[0] = 'a';
    EXPECT_TRUE(check(lower));
    EXPECT_FALSE(check(digest_header("/x", "ffffffffffffffffffffffffffffffff", true, "s3cret")));
    EXPECT_FALSE(check(digest_header("/x", n, true, "wrong")));
    EXPECT_FALSE(check("Authorization: Digest username=\"admin\", nonce=\"" + n + "\""));
    EXPECT_FALSE(check("Authorization: Bearer abc"));
    EXPECT_FALSE(check(""));
}

TEST_F(Gate, HttpBasic) {
    auto check = [&](const std::string& credentials) {
        return check_http_auth("GET /onvif/snapshot HTTP/1.1\r\nAuthorization: Basic " +
                                   base64_encode(credentials) + "\r\n\r\n",
                               "GET", "Vistrel", ctx.nonce, "admin", "s3cret");
    };
    EXPECT_TRUE(check("admin:s3cret"));
    EXPECT_FALSE(check("Admin:s3cret"));  // Basic compares the user name exactly
    EXPECT_FALSE(check("admin:s3cre"));
    EXPECT_FALSE(check("admins3cret"));
    EXPECT_TRUE(check_http_auth("x\r\nauthorization: basic YWRtaW46czNjcmV0\r\n", "GET", "Vistrel",
                                ctx.nonce, "admin", "s3cret"));
}

TEST_F(Gate, EndpointRefusesAndAdmits) {
    const std::string profiles = "<s:Body><trt:GetProfiles/></s:Body>";
    std::string a = post(profiles);
    EXPECT_EQ(a.rfind("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Vistrel\", "
                      "qop=\"auth\", nonce=\"0123456789abcdef0123456789abcdef\"\r\nContent-Type: "
                      "application/soap+xml; charset=utf-8\r\nContent-Length: ",
                      0),
              0u);
    EXPECT_NE(a.find("<env:Body><env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode>"
                     "<env:Value>ter:NotAuthorized</env:Value></env:Subcode></env:Code><env:Reason>"
                     "<env:Text xml:lang=\"en\">Sender not authorized</env:Text></env:Reason>"
                     "</env:Fault></env:Body>"),
              std::string::npos);
    EXPECT_EQ(a.find("<env:Header>"), std::string::npos);
    EXPECT_EQ(post(profiles, digest_header("/onvif/media_service", ctx.nonce, true, "s3cret"))
                  .rfind("HTTP/1.1 200 OK", 0),
              0u);
    for (const char* open : {"GetDeviceInformation", "GetCapabilities", "GetServices",
                             "GetSystemDateAndTime", "GetScopes"})
        EXPECT_EQ(
            post(std::string("<s:Body><tds:") + open + "/></s:Body>").rfind("HTTP/1.1 200 OK", 0),
            0u)
            << open;
    ctx.stream_auth = 0;  // with authentication off nothing is refused
    EXPECT_EQ(post(profiles).rfind("HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(Gate, SnapshotNeedsHttpCredentials) {
    ctx.snapshot = [](int w, int h) { return std::string("JPEG") + std::to_string(w * h); };
    ctx.width = 4;
    ctx.height = 2;
    HttpRequest req;
    req.text = "GET /onvif/snapshot HTTP/1.1\r\n\r\n";
    req.header_end = req.text.size() - 4;
    EXPECT_EQ(
        handle_request(ctx, req),
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Vistrel\", qop=\"auth\", "
        "nonce=\"0123456789abcdef0123456789abcdef\"\r\nContent-Length: 0\r\nConnection: "
        "close\r\n\r\n");
    req.text = "GET /onvif/snapshot HTTP/1.1\r\nAuthorization: Basic " +
               base64_encode("admin:s3cret") + "\r\n\r\n";
    req.header_end = req.text.size() - 4;
    EXPECT_EQ(handle_request(ctx, req),
              "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-cache\r\n"
              "Content-Length: 5\r\nConnection: close\r\n\r\nJPEG8");
    ctx.snapshot = [](int, int) { return std::string(); };
    EXPECT_EQ(
        handle_request(ctx, req),
        "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

}  // namespace
