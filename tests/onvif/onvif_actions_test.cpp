// The ONVIF action table: every answer compared byte for byte with the golden
// texts in golden/actions.txt (through the whole HTTP answer path), with the sub
// stream on and off and audio on and off; the name and identity rules behind them.
#include "onvif/onvif_actions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/log.h"
#include "onvif/onvif_server.h"

namespace {

const char* const k_env_prefix =
    R"(<?xml version="1.0" encoding="UTF-8"?><env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:tds="http://www.onvif.org/ver10/device/wsdl" xmlns:trt="http://www.onvif.org/ver10/media/wsdl" xmlns:ter="http://www.onvif.org/ver10/error" xmlns:timg="http://www.onvif.org/ver20/imaging/wsdl" xmlns:tev="http://www.onvif.org/ver10/events/wsdl" xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2" xmlns:wstop="http://docs.oasis-open.org/wsn/t-1" xmlns:wsa="http://www.w3.org/2005/08/addressing" xmlns:tns1="http://www.onvif.org/ver10/topics" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:tt="http://www.onvif.org/ver10/schema">)";

struct Golden {
    std::set<std::string> cameras;  // empty: every camera
    std::string action, args, answer;
};

std::vector<Golden> load_golden() {
    std::ifstream in(ONVIF_GOLDEN_DIR "/actions.txt");
    std::vector<Golden> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::string f[4];
        size_t from = 0;
        for (int i = 0; i < 3; ++i) {
            const size_t bar = line.find(" | ", from);
            f[i] = line.substr(from, bar - from);
            from = bar + 3;
        }
        f[3] = line.substr(from);
        Golden g{{}, f[1], f[2], f[3]};
        std::istringstream words(f[0]);
        for (std::string w; words >> w;)
            if (w != "*") g.cameras.insert(w);
        out.push_back(g);
    }
    return out;
}

class Dispatcher : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx.address = "127.0.0.1";
        ctx.onvif_port = 8099;
        ctx.rtsp_port = 8555;
        ctx.stream_name = "screenlive";
        ctx.substream_name = "screensub";
        ctx.width = 1920;
        ctx.height = 1080;
        ctx.frame_rate = 25;
        ctx.user_name = "admin";
        onvif_identity_from(ctx, "unit-test-machine");
        {
            std::lock_guard<std::mutex> g(ctx.lock);
            onvif_apply_name(ctx, "Lab cam #2");
        }
        onvif_set_osd_layout(ctx, 0, true, 9);  // clock position out of range -> UpperRight
    }
    void camera(bool sub, bool audio) {
        ctx.sub_stream_on = sub;
        ctx.sub_width = sub ? 640 : 0;
        ctx.sub_height = sub ? 360 : 0;
        ctx.audio_on = audio;
    }
    std::string post(const std::string& path, const std::string& soap) {
        HttpRequest req;
        req.text = "POST " + path +
                   " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(soap.size()) +
                   "\r\n\r\n" + soap;
        req.header_end = req.text.find("\r\n\r\n");
        req.body = soap;
        return handle_request(ctx, req);
    }
    // The envelope of the 200 answer to a request whose Body holds `inner`.
    std::string ask(const std::string& inner) {
        const std::string soap =
            "<?xml version=\"1.0\"?><s:Envelope "
            "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header/><s:Body>" +
            inner + "</s:Body></s:Envelope>";
        const std::string answer = post("/onvif/device_service", soap);
        const size_t sep = answer.find("\r\n\r\n");
        const std::string envelope = answer.substr(sep + 4);
        EXPECT_EQ(answer.substr(0, sep),
                  "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
                  "Content-Length: " +
                      std::to_string(envelope.size()) + "\r\nConnection: close");
        return envelope;
    }
    std::string ask_action(const std::string& action, const std::string& args = "") {
        return ask("<tds:" + action + " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">" +
                   args + "</tds:" + action + ">");
    }
    static std::string wrap(const std::string& inside) {
        return k_env_prefix + inside + "</env:Envelope>";
    }
    OnvifContext ctx;
};

// With ONVIF_GOLDEN_UPDATE=1 the test writes the answers it got into the
// golden file instead (a case whose cameras now answer differently is split
// per camera); review the diff before committing it.
void update_golden(const std::vector<std::map<std::string, std::string>>& got) {
    std::ifstream in(ONVIF_GOLDEN_DIR "/actions.txt");
    std::ostringstream out;
    size_t i = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            out << line << "\n";
            continue;
        }
        const auto& answers = got[i++];
        const size_t bar = line.find(" | ");
        const std::string rest = line.substr(bar + 3);
        const size_t last = rest.rfind(" | ");
        const std::string head = rest.substr(0, last);
        std::set<std::string> distinct;
        for (const auto& [cam, a] : answers) distinct.insert(a);
        if (distinct.size() == 1)
            out << line.substr(0, bar) << " | " << head << " | " << *distinct.begin() << "\n";
        else
            for (const auto& [cam, a] : answers) out << cam << " | " << head << " | " << a << "\n";
    }
    std::ofstream(ONVIF_GOLDEN_DIR "/actions.txt") << out.str();
}

TEST_F(Dispatcher, GoldenAnswersOnEveryCamera) {
    const std::vector<Golden> cases = load_golden();
    ASSERT_GT(cases.size(), 90u);
    const bool updating = std::getenv("ONVIF_GOLDEN_UPDATE") != nullptr;
    std::vector<std::map<std::string, std::string>> got(cases.size());
    for (bool sub : {false, true}) {
        for (bool audio : {false, true}) {
            camera(sub, audio);
            const std::set<std::string> words = {sub ? "sub" : "nosub",
                                                 audio ? "audio" : "noaudio"};
            std::set<std::string> answered;
            for (size_t i = 0; i < cases.size(); ++i) {
                const Golden& g = cases[i];
                bool applies = true;
                for (const std::string& w : g.cameras) applies = applies && words.count(w);
                if (!applies) continue;
                answered.insert(g.action);
                const std::string answer = ask_action(g.action, g.args);
                const std::string prefix = wrap("");
                got[i][*words.rbegin() + " " + *words.begin()] =
                    answer.substr(prefix.size() - 15, answer.size() - prefix.size());
                if (updating) continue;
                EXPECT_EQ(answer, wrap(g.answer))
                    << g.action << " " << g.args << " sub=" << sub << " audio=" << audio;
            }
            // Every camera is asked every action of the table (plus one unknown one).
            EXPECT_EQ(answered.size(), 69u) << "sub=" << sub << " audio=" << audio;
        }
    }
    if (updating) update_golden(got);
    EXPECT_EQ(ask(""), ask_action("ContinuousMove"));  // empty body: ActionNotSupported
}

// GetServiceCapabilities answers the capabilities of the service it is
// addressed to: by its element's namespace, else by the path it was posted to.
TEST_F(Dispatcher, ServiceCapabilitiesPerService) {
    camera(true, false);
    const std::string ns = "http://www.onvif.org/";
    const struct {
        std::string element, path, answer;
    } cases[] = {
        {"<tds:GetServiceCapabilities xmlns:tds=\"" + ns + "ver10/device/wsdl\"/>", "/",
         "<tds:GetServiceCapabilitiesResponse><tds:Capabilities><tds:Network"},
        {"<GetServiceCapabilities xmlns=\"" + ns + "ver10/media/wsdl\"/>", "/onvif/device_service",
         "<trt:GetServiceCapabilitiesResponse><trt:Capabilities SnapshotUri=\"true\" Rotation="
         "\"false\" OSD=\"true\"><trt:ProfileCapabilities MaximumNumberOfProfiles=\"2\"/>"},
        {"<m:GetServiceCapabilities xmlns:m='" + ns + "ver20/imaging/wsdl'/>", "/",
         "<timg:GetServiceCapabilitiesResponse><timg:Capabilities ImageStabilization=\"false\"/>"},
        {"<e:GetServiceCapabilities xmlns:e=\"" + ns + "ver10/events/wsdl\"/>", "/",
         "<tev:GetServiceCapabilitiesResponse><tev:Capabilities WSSubscriptionPolicySupport"},
        {"<GetServiceCapabilities/>", "/onvif/media_service",
         "<trt:GetServiceCapabilitiesResponse>"},
        {"<GetServiceCapabilities/>", "/onvif/event_service",
         "<tev:GetServiceCapabilitiesResponse>"},
        {"<GetServiceCapabilities/>", "/onvif/imaging_service",
         "<timg:GetServiceCapabilitiesResponse>"},
        {"<GetServiceCapabilities/>", "/", "<tds:GetServiceCapabilitiesResponse>"},
    };
    for (const auto& c : cases) {
        const std::string body = "<s:Envelope><s:Body>" + c.element + "</s:Body></s:Envelope>";
        EXPECT_NE(post(c.path, body).find("<env:Body>" + c.answer), std::string::npos)
            << c.element << " " << c.path;
    }
}

TEST_F(Dispatcher, TimeEventsAndOsdLayout) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mday = 5;
    t.tm_hour = 7;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(
        system_date_and_time_body(t),
        "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual</"
        "tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC</"
        "tt:TZ></tt:TimeZone><tt:UTCDateTime><tt:Time><tt:Hour>7</tt:Hour><tt:Minute>3</"
        "tt:Minute><tt:Second>9</tt:Second></tt:Time><tt:Date><tt:Year>2026</tt:Year><tt:Month>1</"
        "tt:Month><tt:Day>5</tt:Day></tt:Date></tt:UTCDateTime></tds:SystemDateAndTime></"
        "tds:GetSystemDateAndTimeResponse>");
    // The live answer carries the PC's UTC time (either side of a second boundary).
    auto utc_now = [] {
        const std::time_t now = std::time(nullptr);
        return wrap("<env:Body>" + system_date_and_time_body(*std::gmtime(&now)) + "</env:Body>");
    };
    const std::string before = utc_now(), answer = ask_action("GetSystemDateAndTime");
    EXPECT_TRUE(answer == before || answer == utc_now()) << answer;

    const std::string a = ask_action("GetEventProperties");
    for (const char* part :
         {"<env:Header><wsa:Action>http://www.onvif.org/ver10/events/wsdl/EventPortType/"
          "GetEventPropertiesResponse</wsa:Action></env:Header>",
          "tns1:RuleEngine", "CellMotionDetector", "Motion wstop:topic=\"true\"",
          "Name=\"IsMotion\" Type=\"xs:boolean\"", "tns1:VideoSource",
          "MotionAlarm wstop:topic=\"true\"", "Name=\"State\" Type=\"xs:boolean\"",
          "<wsnt:FixedTopicSet>true</wsnt:FixedTopicSet>"})
        EXPECT_NE(a.find(part), std::string::npos) << part;

    onvif_set_osd_layout(ctx, 7, false, 0);  // name position out of range -> LowerRight
    const std::string osds = ask_action("GetOSDs");
    EXPECT_NE(osds.find("<tt:Type>LowerRight</tt:Type>"), std::string::npos);
    EXPECT_EQ(osds.find("osd_clock"), std::string::npos);
    // While the clock is off, asking for its OSD gives the name OSD.
    EXPECT_NE(ask_action("GetOSD", "<trt:OSDToken>osd_clock</trt:OSDToken>").find("osd_name"),
              std::string::npos);
}

TEST(UnsupportedAction, NameExtraction) {
    const std::pair<const char*, const char*> cases[] = {
        {"<s:Body><tptz:ContinuousMove xmlns:tptz=\"x\"/></s:Body>", "ContinuousMove"},
        {"<Body>\n  <Foo>bar</Foo></Body>", "Foo"},
        {"<a:b:c:Deep/>:Body>", "?"},  // nothing after Body
        {"<s:Body></s:Body>", "?"},
        {"no xml at all", "?"},
        {"<s:Body><x:/><ns:Real>", "Real"},
    };
    for (const auto& [body, name] : cases) EXPECT_EQ(unsupported_action_name(body), name) << body;
}

TEST(CameraName, DerivationAndLiveChange) {
    OnvifContext ctx;
    onvif_identity_from(ctx, "m");  // short id "62c6"
    LogRing::reset_for_tests();
    {
        std::lock_guard<std::mutex> g(ctx.lock);
        const struct {
            const char* name;
            const char *display, *model, *scope;
        } cases[] = {
            {"\xd9\x83\xd8\xa7\xd9\x85\xd9\x8a\xd8\xb1\xd8\xa7", "Vistrel-62c6", "Vistrel",
             "Vistrel-62c6"},  // Arabic
            {"Lab cam #2", "Lab cam #2", "Lab cam #2", "Lab-cam-2"},
            {"Vistrel", "Vistrel-62c6", "Vistrel", "Vistrel-62c6"},
            {"", "Vistrel-62c6", "Vistrel", "Vistrel-62c6"},
            {"%%%", "%%%", "%%%", "Vistrel-62c6"},
            {"-a..b  c--", "-a..b  c--", "-a..b  c--", "-a..b-c"},
        };
        for (const auto& c : cases) {
            onvif_apply_name(ctx, c.name);
            EXPECT_EQ(ctx.display_name, c.display) << c.name;
            EXPECT_EQ(ctx.model, c.model) << c.name;
            EXPECT_EQ(ctx.scope_name, c.scope) << c.name;
        }
        EXPECT_EQ(ctx.scope_list,
                  (std::vector<std::string>{"onvif://www.onvif.org/type/video_encoder",
                                            "onvif://www.onvif.org/Profile/Streaming",
                                            "onvif://www.onvif.org/name/-a..b-c",
                                            "onvif://www.onvif.org/hardware/ZEB-62c66a7a5dd7"}));
    }
    onvif_set_name_live(ctx, "Front desk");
    onvif_set_name_live(ctx, "Front desk");  // same name: nothing to say
    EXPECT_EQ(LogRing::lines(),
              std::vector<std::string>{"ONVIF: camera name on the NVR -> \"Front desk\" (live)"});
    std::lock_guard<std::mutex> g(ctx.lock);
    EXPECT_EQ(ctx.scope_list[2], "onvif://www.onvif.org/name/Front-desk");
}

TEST(Identity, DerivedFromTheMachineId) {
    OnvifContext a;
    onvif_identity_from(a, "machine-1");  // the SHA-256 digest of the id names them all
    EXPECT_EQ(a.endpoint_uuid, "urn:uuid:f7a7266d-f8b4-2079-3d51-b92561955db2");
    EXPECT_EQ(a.second_uuid, "urn:uuid:8792ce00-5705-93d4-7d44-d954189b3685");
    EXPECT_EQ(a.serial_number, "ZEB-f7a7266df8b4");
    EXPECT_EQ(a.short_id, "f7a7");
    EXPECT_EQ(a.nonce.size(), 32u);
    EXPECT_EQ(machine_identifier(), machine_identifier());
    EXPECT_FALSE(machine_identifier().empty());
}

}  // namespace
