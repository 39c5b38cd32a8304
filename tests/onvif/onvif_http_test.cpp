// HTTP framing and routing of the ONVIF endpoint, and the XML text helpers.
#include <gtest/gtest.h>

#include <deque>

#include "onvif/onvif_server.h"
#include "onvif/onvif_xml.h"

namespace {

// Feeds a request in the given chunks, then reports the peer as closed.
ByteSource chunks(std::deque<std::string> parts) {
    auto q = std::make_shared<std::deque<std::string>>(std::move(parts));
    return [q](char* buf, size_t len) -> long {
        if (q->empty()) return 0;
        std::string& front = q->front();
        const size_t n = std::min(len, front.size());
        std::copy(front.begin(), front.begin() + static_cast<long>(n), buf);
        front.erase(0, n);
        if (front.empty()) q->pop_front();
        return static_cast<long>(n);
    };
}

TEST(ReadRequest, HeadersSplitAcrossReadsAndBodyLength) {
    const std::string body = "<s:Body><GetScopes/></s:Body>";
    auto r = read_request(
        chunks({"POST / HTTP/1.1\r\nconte", "nt-length: " + std::to_string(body.size()), "\r\n\r",
                "\n" + body.substr(0, 5), body.substr(5) + "EXTRA"}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, body);  // nothing past the announced length is read
    EXPECT_FALSE(r->too_large);
}

TEST(ReadRequest, ShortAndMissingBodies) {
    auto no_length = read_request(chunks({"POST / HTTP/1.1\r\n\r\n<a/>"}));
    ASSERT_TRUE(no_length);
    EXPECT_EQ(no_length->body, "<a/>");  // served from what came with the headers
    auto cut = read_request(chunks({"POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n<partial"}));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->body, "<partial");
    EXPECT_FALSE(
        read_request(chunks({"POST / HTTP/1.1\r\nHost: x\r\n"})));  // closed in the headers
    EXPECT_FALSE(read_request(chunks({})));
}

TEST(ReadRequest, BoundsRefuseOversizedRequests) {
    auto big_body = read_request(
        chunks({"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"}));
    ASSERT_TRUE(big_body);
    EXPECT_TRUE(big_body->too_large);
    auto limit = read_request(chunks({"POST / HTTP/1.1\r\nContent-Length: " +
                                      std::to_string(k_onvif_max_body + 1) + "\r\n\r\n"}));
    ASSERT_TRUE(limit);
    EXPECT_TRUE(limit->too_large);
    auto endless = read_request([](char* buf, size_t len) {
        std::fill(buf, buf + len, 'A');
        return static_cast<long>(len);
    });
    ASSERT_TRUE(endless);
    EXPECT_TRUE(endless->too_large);
    OnvifContext ctx;
    EXPECT_EQ(handle_request(ctx, *endless),
              "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST(Routing, ForwardingPageAndSoapOnAnyPath) {
    OnvifContext ctx;
    ctx.address = "127.0.0.1";
    ctx.web_port = 8085;
    HttpRequest get;
    get.text = "GET / HTTP/1.1\r\n\r\n";
    const std::string page = handle_request(ctx, get);
    EXPECT_EQ(
        page.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: ",
                   0),
        0u);
    EXPECT_NE(page.find("content=\"1;url=http://127.0.0.1:8085/\""), std::string::npos);
    EXPECT_NE(page.find("Open control panel"), std::string::npos);
    EXPECT_NE(page.find("The control panel opens on port 8085. If it does not open automatically, "
                        "click the button above."),
              std::string::npos);
    const size_t sep = page.find("\r\n\r\n");
    EXPECT_NE(page.find("Content-Length: " + std::to_string(page.size() - sep - 4) + "\r\n"),
              std::string::npos);
    HttpRequest post;
    post.text = "PUT /anything HTTP/1.1\r\n\r\n<s:Body><tds:GetWsdlUrl/></s:Body>";
    post.body = "<s:Body><tds:GetWsdlUrl/></s:Body>";
    EXPECT_NE(handle_request(ctx, post).find("GetWsdlUrlResponse"), std::string::npos);
}

// With stream_auth on: which requests get the 401 challenge. A POST without a
// SOAP body is challenged, so `curl --digest` goes on to send its credentials;
// the events actions need credentials like the media actions.
TEST(Routing, CredentialGateTable) {
    OnvifContext ctx;
    ctx.address = "127.0.0.1";
    ctx.user_name = "admin";
    ctx.password = "pw";
    ctx.stream_auth = 1;
    const struct {
        const char* headers;
        std::string body;
        const char* status;
    } cases[] = {
        {"", "", "401"},
        {"", "   ", "401"},
        {"", "<x>no soap</x>", "401"},
        {"Authorization: Basic YWRtaW46cHc=\r\n", "", "200"},  // admin:pw
        {"", "<s:Body><tds:GetDeviceInformation/></s:Body>", "200"},
        {"", "<s:Body><tev:PullMessages/></s:Body>", "401"},
        {"", "<s:Body><wsnt:Subscribe><wsnt:ConsumerReference/></wsnt:Subscribe></s:Body>", "401"},
        {"", "<s:Body><tev:CreatePullPointSubscription/></s:Body>", "401"},
        {"", "<s:Body><wsnt:Unsubscribe/></s:Body>", "401"},
        {"Authorization: Basic YWRtaW46cHc=\r\n", "<s:Body><tev:PullMessages/></s:Body>", "200"},
        {"Authorization: Basic YWRtaW46eHg=\r\n", "<s:Body><tev:PullMessages/></s:Body>", "401"},
    };
    for (const auto& c : cases) {
        HttpRequest req;
        req.text = "POST /onvif/event_service HTTP/1.1\r\nContent-Length: " +
                   std::to_string(c.body.size()) + "\r\n" + c.headers + "\r\n" + c.body;
        req.header_end = req.text.find("\r\n\r\n");
        req.body = c.body;
        const std::string answer = handle_request(ctx, req);
        EXPECT_EQ(answer.substr(9, 3), c.status) << c.headers << c.body << "\n" << answer;
        if (answer.substr(9, 3) == "401") {
            EXPECT_NE(answer.find("WWW-Authenticate: Digest realm=\"Vistrel\""), std::string::npos);
        }
    }
    ctx.stream_auth = 0;  // open camera: the empty POST is the fault it always was
    HttpRequest empty;
    empty.text = "POST / HTTP/1.1\r\n\r\n";
    empty.header_end = empty.text.find("\r\n\r\n");
    EXPECT_NE(handle_request(ctx, empty).find("ter:ActionNotSupported"), std::string::npos);
}

// One address holds at most 8 of the 32 slots; the others stay free for
// everyone else, and released slots come back.
TEST(ConnectionSlots, PerAddressShareAndTotal) {
    OnvifContext ctx;
    int flood = 0;
    for (int i = 0; i < 50; ++i) flood += onvif_take_slot(ctx, "127.0.0.2");
    EXPECT_EQ(flood, 8);
    EXPECT_TRUE(onvif_take_slot(ctx, "127.0.0.1"));
    int others = 0;
    for (int i = 0; i < 100; ++i) others += onvif_take_slot(ctx, "10.0.0." + std::to_string(i / 8));
    EXPECT_EQ(others, 23);  // 32 in all
    EXPECT_FALSE(onvif_take_slot(ctx, "10.9.9.9"));
    onvif_release_slot(ctx, "127.0.0.2");
    EXPECT_FALSE(onvif_take_slot(ctx, "10.9.9.9") && onvif_take_slot(ctx, "10.9.9.9"));
    EXPECT_EQ(ctx.active_connections.load(), 32u);
    onvif_release_slot(ctx, "not-holding");  // no slot, nothing changes
    EXPECT_EQ(ctx.active_connections.load(), 32u);
}

TEST(XmlHelpers, ElementsTextAndEscaping) {
    EXPECT_TRUE(has_element("<trt:GetProfiles/>", "GetProfiles"));
    EXPECT_FALSE(has_element("<trt:GetProfiles/>", "GetProfile"));
    EXPECT_TRUE(has_element("<GetProfile\n>", "GetProfile"));
    EXPECT_FALSE(has_element("<trt:GetProfile", "GetProfile"));  // nothing after the name
    EXPECT_EQ(xml_text("<a:Token>\r\n  prof 1 \t</a:Token>", "Token"), "prof 1");
    EXPECT_EQ(xml_text("<a:Token/><b:Token>x</b:Token>", "Token"), "");
    EXPECT_EQ(xml_text("<Token>unterminated", "Token"), "");
    EXPECT_EQ(xml_text("<Token attr='1'>v</Token>", "Token"), "v");
    EXPECT_EQ(xml_escape("a<b>&\"'\tc\x01\xd9\x83"), "a&lt;b&gt;&amp;&quot;&apos;c\xd9\x83");
}

TEST(XmlHelpers, ReplaceAllDoesNotRescanWhatItInserted) {
    std::string t = "{S}:{S}";
    replace_all(t, "{S}", "x{S}y");
    EXPECT_EQ(t, "x{S}y:x{S}y");
}

}  // namespace
