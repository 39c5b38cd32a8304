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
    // RFC 2617 (qop=auth) or RFC 2069 Authorization header for a POST to uri.
    static std::string digest_header(const std::string& uri, const std::string& nonce, bool qop,
                                     const std::string& pw) {
        const std::string ha1 = md5_hex("admin:Vistrel:" + pw), ha2 = md5_hex("POST:" + uri);
        const std::string response =
            md5_hex(ha1 + ":" + nonce + (qop ? ":00000001:c0ffee:auth:" : ":") + ha2);
        return "Authorization: Digest username=\"admin\", realm=\"Vistrel\", nonce=\"" + nonce +
               "\", uri=\"" + uri + (qop ? "\", qop=auth, nc=00000001, cnonce=\"c0ffee" : "") +
               "\", response=\"" + response + "\"\r\n";
    }
    OnvifContext ctx;
};

TEST(NeedsCredentials, OnlyVideoRevealingActions) {
    for (const char* a :
         {"GetStreamUri", "GetProfiles", "GetProfile", "GetSnapshotUri",
          "GetVideoEncoderConfiguration", "GetVideoEncoderConfigurations",
          "GetCompatibleVideoEncoderConfigurations", "CreatePullPointSubscription", "Subscribe",
          "PullMessages", "Renew", "Unsubscribe", "SetSynchronizationPoint"})
        EXPECT_TRUE(needs_credentials(std::string("<s:Body><x:") + a + "/></s:Body>")) << a;
    for (const char* a :
         {"GetDeviceInformation", "GetCapabilities", "GetServices", "GetSystemDateAndTime",
          "GetScopes", "GetVideoSources", "GetEventProperties", "GetServiceCapabilities"})
        EXPECT_FALSE(needs_credentials(std::string("<s:Body><x:") + a + "/></s:Body>")) << a;
}

TEST_F(Gate, UsernameTokenDigestAndText) {
    const std::string nonce = "\x01\x02\x03nonce-bytes\xff", n64 = base64_encode(nonce);
    const std::string at = "2026-12-06T10:00:00Z", text = "#PasswordText";
    const struct {
        std::string body;
        bool ok;
    } cases[] = {
        {token_body("admin", ws_digest(nonce, at, "s3cret"), n64, at), true},
        {token_body("ADMIN", ws_digest(nonce, at, "s3cret"), n64, at), true},  // any letter case
        {token_body("admin", "s3cret", n64, at), true},  // digest type carrying the password
        {token_body("admin", "s3cret", "", "", text), true},
        {token_body("admin", ws_digest(nonce, at, "wrong"), n64, at), false},
        {token_body("admin", ws_digest(nonce, "other", "s3cret"), n64, at), false},
        {token_body("admin2", "s3cret", n64, at), false},
        {token_body("admin", "S3CRET", "", "", text), false},
        {token_body("", "s3cret", n64, at), false},
        {"<s:Body><GetProfiles/></s:Body>", false},
    };
    for (const auto& c : cases) EXPECT_EQ(check_username_token(ctx, c.body), c.ok) << c.body;
    ctx.password.clear();  // an empty configured password never passes
    EXPECT_FALSE(check_username_token(ctx, token_body("admin", "", "", "", text)));
}

TEST_F(Gate, HttpAuthorizationHeaders) {
    const std::string& n = ctx.nonce;
    const std::string rfc2069 = digest_header("/x", n, false, "s3cret");
    std::string upper = rfc2069;  // upper-case response digits
    for (size_t i = upper.find("response=\"") + 10; upper[i] != '"'; ++i)
        upper[i] = static_cast<char>(toupper(upper[i]));
    std::string mixed = rfc2069;  // qop sent but answered the RFC 2069 way
    mixed.insert(mixed.find("response="), "qop=auth, nc=00000001, cnonce=\"abc\", ");
    std::string lower = digest_header("/x", n, true, "s3cret");
    lower[0] = 'a';  // lower-case header name
    auto basic = [](const std::string& c) { return "Authorization: Basic " + base64_encode(c); };
    const std::pair<std::string, bool> cases[] = {
        {digest_header("/onvif/media_service", n, true, "s3cret"), true},
        {rfc2069, true},
        {upper, true},
        {mixed, true},
        {lower, true},
        {digest_header("/x", std::string(32, 'f'), true, "s3cret"), false},
        {digest_header("/x", n, true, "wrong"), false},
        {"Authorization: Digest username=\"admin\", nonce=\"" + n + "\"", false},
        {"Authorization: Bearer abc", false},
        {"", false},
        {basic("admin:s3cret"), true},
        {"authorization: basic YWRtaW46czNjcmV0", true},
        {basic("Admin:s3cret"), false},  // Basic compares the user name exactly
        {basic("admin:s3cre"), false},
        {basic("admins3cret"), false},
    };
    for (const auto& [header, ok] : cases)
        EXPECT_EQ(check_http_auth("POST / HTTP/1.1\r\n" + header + "\r\n\r\n", "POST", "Vistrel", n,
                                  "admin", "s3cret"),
                  ok)
            << header;
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
    EXPECT_EQ(post("<s:Body><tds:GetScopes/></s:Body>").rfind("HTTP/1.1 200 OK", 0), 0u);
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
