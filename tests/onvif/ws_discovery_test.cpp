// WS-Discovery: probe recognition, Types and Scopes matching, the answer, the
// XML reader's found/absent/malformed results and the answer rate bound.
#include "onvif/ws_discovery.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const std::vector<std::string> k_scopes = {
    "onvif://www.onvif.org/type/video_encoder", "onvif://www.onvif.org/Profile/Streaming",
    "onvif://www.onvif.org/name/Lab-cam-2", "onvif://www.onvif.org/hardware/ZEB-0123456789ab"};

std::string probe(
    const std::string& inner, const std::string& extra_ns = "",
    const std::string& action = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe") {
    return "<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:w=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"" +
           extra_ns +
           "><e:Header><w:MessageID>uuid:abc-123</"
           "w:MessageID><w:To>urn:schemas-xmlsoap-org:ws:2005:"
           "04:discovery</w:To><w:Action>" +
           action + "</w:Action></e:Header><e:Body><d:Probe>" + inner +
           "</d:Probe></e:Body></e:Envelope>";
}

TEST(Discovery, TypesAndScopesMatching) {
    const std::string dn = " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"";
    const std::string tds = " xmlns:tds='http://www.ONVIF.org/ver10/device/wsdl'";
    const std::string other = " xmlns:x=\"http://example.com/other\"";
    const std::string o = "onvif://www.onvif.org/";
    const struct {
        std::string inner, ns;
        bool match;
    } cases[] = {
        {"<d:Types>dn:NetworkVideoTransmitter</d:Types>", dn, true},
        {"", "", true},  // no Types: any device
        {"<d:Types></d:Types>", "", true},
        // Device needs a declared ONVIF namespace; NetworkVideoTransmitter without a
        // prefix and without a default namespace passes.
        {"<d:Types>tds:Device</d:Types>", "", false},
        {"<d:Types>tds:Device</d:Types>", tds, true},
        {"<d:Types>NetworkVideoTransmitter</d:Types>", "", true},
        {"<d:Types>x:NetworkVideoTransmitter</d:Types>", other, false},
        {"<d:Types>dn:NetworkVideoTransmitter dn:Printer</d:Types>", dn, false},
        {"<d:Types>dn:NetworkVideoTransmitter", dn, false},  // malformed
        {"<d:Scopes>" + o + "name/LAB-CAM-2</d:Scopes>", "", true},
        {"<d:Scopes>" + o + "Profile</d:Scopes>", "", true},
        {"<d:Scopes>" + o + "Profile/</d:Scopes>", "", true},
        {"<d:Scopes> \n </d:Scopes>", "", true},
        {"<d:Scopes>" + o + "type/video_encoder " + o + "name</d:Scopes>", "", true},
        {"<d:Scopes>" + o + "Profile/S</d:Scopes>", "", false},
        {"<d:Scopes>" + o + "type/NetworkVideoTransmitter</d:Scopes>", "", false},
        {"<d:Scopes>" + o + "name/Lab</d:Scopes>", "", false},  // not a whole segment
        {"<d:Scopes>" + o + "type/video_encoder onvif://x</d:Scopes>", "", false},
        {"<d:Scopes MatchBy=\"x\">" + o + "Profile", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probe_matches(probe(c.inner, c.ns), k_scopes), c.match) << c.inner;
}

TEST(Discovery, OnlyProbesAreAnswered) {
    const std::string d = "http://schemas.xmlsoap.org/ws/2005/04/discovery/";
    const std::pair<std::string, bool> cases[] = {
        {probe(""), true},
        {probe("", "", " \n HTTP://schemas.xmlsoap.org/ws/2005/04/DISCOVERY/Probe "), true},
        {probe("", "", d + "ProbeMatches"), false},
        {probe("", "", d + "Resolve"), false},
        {probe("", "", d + "ResolveMatches"), false},
        // No Action: decided by the body elements.
        {"<Envelope><Body><Probe/></Body></Envelope>", true},
        {"<Envelope><Body><Probe/><ProbeMatches/></Body></Envelope>", false},
        {"<Envelope><Action>x<Body><Probe/></Body></Envelope>", false},  // malformed Action
    };
    for (const auto& [text, probe] : cases) EXPECT_EQ(is_probe(text), probe) << text;
    EXPECT_FALSE(probe_matches("", k_scopes));
    EXPECT_FALSE(probe_matches(std::string(70000, '<'), k_scopes));
}

TEST(Discovery, XmlReaderResults) {
    EXPECT_EQ(element_text("<a:X>t</a:X>", "X").result, XmlLookup::found);
    EXPECT_EQ(element_text("<a:X>t</a:X>", "X").text, "t");
    EXPECT_EQ(element_text("<a:XY>t</a:XY>", "X").result, XmlLookup::absent);
    EXPECT_EQ(element_text("<a:X>t</b:X>", "X").result, XmlLookup::malformed);
    EXPECT_EQ(element_text("<a:X", "X").result, XmlLookup::malformed);
    EXPECT_EQ(element_text("<a:X/>", "X").result, XmlLookup::found);
    EXPECT_EQ(element_text("<a:X >t</a:X >", "X").text, "t");
    const auto ns = namespace_map(
        "<e xmlns=\"d\" xmlns:a='A' xmlns:a=\"B\" xmlns:b.c-d_e=\"C\" notxmlns:z=\"Z\">");
    EXPECT_EQ(ns.at(""), "d");
    EXPECT_EQ(ns.at("a"), "A");
    EXPECT_EQ(ns.at("b.c-d_e"), "C");
    EXPECT_EQ(ns.count("z"), 0u);
}

TEST(Discovery, AnswerCarriesIdentity) {
    OnvifContext ctx;
    ctx.address = "10.99.0.1";
    ctx.onvif_port = 8123;
    ctx.scope_name = "Lab-cam-2";
    ctx.serial_number = "ZEB-0123456789ab";
    const std::string a = probe_matches_answer(ctx, probe(""));
    EXPECT_NE(a.find("<a:RelatesTo>uuid:abc-123</a:RelatesTo>"), std::string::npos);
    EXPECT_NE(a.find("<a:MessageID>" + ctx.second_uuid + "</a:MessageID>"), std::string::npos);
    EXPECT_NE(a.find("<a:Address>" + ctx.endpoint_uuid + "</a:Address>"), std::string::npos);
    EXPECT_NE(a.find("onvif://www.onvif.org/name/Lab-cam-2 onvif://www.onvif.org/location/Screen "
                     "onvif://www.onvif.org/hardware/ZEB-0123456789ab</d:Scopes>"),
              std::string::npos);
    EXPECT_NE(a.find("<d:XAddrs>http://10.99.0.1:8123/onvif/device_service</d:XAddrs>"),
              std::string::npos);
    EXPECT_NE(probe_matches_answer(ctx, "no message id").find("<a:RelatesTo></a:RelatesTo>"),
              std::string::npos);
}

// Only well-formed SOAP Probes of the WS-Discovery namespace with a bounded
// MessageID are answered, and never with more than three times their size.
TEST(Discovery, AnswersOnlyWellFormedProbesWithinTheSizeBound) {
    OnvifContext ctx;
    ctx.address = "10.99.0.1";
    const std::string d = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
    const std::string wsa = "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">";
    const std::string npm =  // the npm onvif client's probe: default namespaces
        "<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:dn=\"http://www.onvif."
        "org/ver10/network/wsdl\"><Header><wsa:MessageID " +
        wsa + "urn:uuid:0a1b2c3d-1234-4321-abcd-0123456789ab</wsa:MessageID><wsa:To " + wsa +
        "urn:schemas-xmlsoap-org:ws:2005:04:discovery</wsa:To><wsa:Action " + wsa + d +
        "/Probe</wsa:Action></Header><Body><Probe xmlns=\"" + d +
        "\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/"
        "XMLSchema-instance\"><Types>dn:NetworkVideoTransmitter</Types><Scopes /></Probe></Body>"
        "</Envelope>";
    std::string long_id = probe("");
    long_id.replace(long_id.find("uuid:abc-123"), 12, std::string(257, 'x'));
    std::string other_ns = probe("");
    other_ns.replace(other_ns.find("2005/04/discovery\""), 17, "2009/01/discovery");
    const struct {
        std::string message;
        bool answered;
    } cases[] = {
        {probe(""), true},
        {npm, true},
        {"<Probe/>", false},
        {"<Envelope><Body><Probe/></Body></Envelope>", false},  // no namespaces
        {other_ns, false},
        {long_id, false},
        {probe("").replace(probe("").find("<w:MessageID>"), 39, ""), false},  // no MessageID
        {probe("").replace(probe("").find("e:Envelope xmlns:e=") + 20, 39,
                           "http://example.com/not-soap"),
         false},
    };
    for (const auto& c : cases) {
        const std::string a = discovery_answer(ctx, c.message, k_scopes);
        EXPECT_EQ(!a.empty(), c.answered) << c.message;
        EXPECT_LE(a.size(), 3 * c.message.size());
        if (!a.empty())
            std::printf("answer/probe bytes: %zu/%zu = %.2f\n", a.size(), c.message.size(),
                        double(a.size()) / double(c.message.size()));
    }
    // A MessageID with markup comes back escaped and keeps the answer well-formed.
    std::string tricky = probe("");
    tricky.replace(tricky.find("uuid:abc-123"), 12, "a&amp;b\"x'");
    const std::string a = discovery_answer(ctx, tricky, k_scopes);
    EXPECT_NE(a.find("<a:RelatesTo>a&amp;amp;b&quot;x&apos;</a:RelatesTo>"), std::string::npos)
        << a;
    // A long camera name makes the answer outgrow a minimal probe: no answer.
    ctx.scope_name = std::string(1200, 'n');
    EXPECT_TRUE(discovery_answer(ctx, npm, k_scopes).empty());
}

TEST(Discovery, RateLimiterBoundsPerSourceAndTotal) {
    DiscoveryRateLimiter l(10, 100);
    int from_one = 0;
    for (int i = 0; i < 50; ++i) from_one += l.allow("10.0.0.1", 1000 + i);
    EXPECT_EQ(from_one, 10);
    int total = 0;
    for (int i = 0; i < 500; ++i) total += l.allow("10.0.1." + std::to_string(i), 1100);
    EXPECT_EQ(total, 90);                    // 100 a second in all
    EXPECT_TRUE(l.allow("10.0.0.1", 2000));  // next second
}

}  // namespace
