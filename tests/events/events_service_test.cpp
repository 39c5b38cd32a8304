// The events service: its text pieces, the subscription table and the
// Notify client against a loopback HTTP server.
#include "onvif/events_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/log.h"
#include "engine/net_socket.h"
#include "onvif/events_messages.h"
#include "onvif/events_push.h"
#include "onvif/onvif_context.h"
#include "video/motion_detector.h"

namespace {

TEST(EventsText, DurationSeconds) {
    struct Case {
        const char* text;
        int seconds;
    } cases[] = {{"", -1},
                 {"PT30S", 30},
                 {"PT2H", 7200},
                 {"P1D", 86400},
                 {"PT1M", 60},
                 {"P1M", 2592000},
                 {"P1DT1H1M1S", 90061},
                 {"PT0.5S", 1},
                 {"PT1.001S", 2},
                 {"PT0S", 0},
                 {"P", -1},
                 {"PT", -1},
                 {"P1Y", -1},
                 {"P1YT5S", 5},
                 {"P2W", -1},
                 {"-PT5S", -1},
                 {"2026-12-06T10:00:00Z", -1},
                 {"PT99999999999999999999S", INT_MAX}};
    for (const auto& c : cases) EXPECT_EQ(duration_seconds(c.text), c.seconds) << c.text;

    EXPECT_EQ(subscription_lifetime(""), 600);
    EXPECT_EQ(subscription_lifetime("PT0S"), 600);
    EXPECT_EQ(subscription_lifetime("PT30S"), 30);
    EXPECT_EQ(subscription_lifetime("PT2H"), 3600);
    EXPECT_EQ(subscription_lifetime("2030-01-01T00:00:00Z"), 600);
}

TEST(EventsText, UtcTimes) {
    EXPECT_EQ(utc_text(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utc_text(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(utc_text(1796558399), "2026-12-06T11:59:59Z");
    EXPECT_EQ(utc_now().size(), 20u);
}

TEST(EventsText, ActionsAndIds) {
    EXPECT_EQ(events_action("<tev:CreatePullPointSubscription/>"), EventsAction::create_pull_point);
    EXPECT_EQ(events_action("<wsnt:Subscribe><wsnt:ConsumerReference>"), EventsAction::subscribe);
    EXPECT_EQ(events_action("<wsnt:Unsubscribe/>"), EventsAction::unsubscribe);
    EXPECT_EQ(events_action("<Unsubscribe xmlns=\"x\"/>"), EventsAction::unsubscribe);
    EXPECT_EQ(events_action("<tev:PullMessages><tev:Timeout>"), EventsAction::pull_messages);
    EXPECT_EQ(events_action("<wsnt:Renew><wsnt:TerminationTime>"), EventsAction::renew);
    EXPECT_EQ(events_action("<tev:GetEventProperties/>"), EventsAction::none);
    EXPECT_EQ(events_action("<a:Action>.../SubscriptionManager/RenewRequest</a:Action>"),
              EventsAction::none);

    EXPECT_EQ(subscription_id("/onvif/event_service?sub=12&x=1"), "12");
    EXPECT_EQ(subscription_id("/onvif/event_service?sub=7;a"), "7");
    EXPECT_EQ(subscription_id("/onvif/event_service?sub=3"), "3");
    EXPECT_EQ(subscription_id("/onvif/event_service"), "0");
}

TEST(EventsText, NotificationMessages) {
    const std::string m = notification_messages(true, "Changed", "http://h/x?sub=1");
    EXPECT_NE(m.find("tns1:RuleEngine/CellMotionDetector/Motion"), std::string::npos);
    EXPECT_LT(m.find("CellMotionDetector"), m.find("tns1:VideoSource/MotionAlarm"));
    EXPECT_NE(m.find("<tt:SimpleItem Name=\"IsMotion\" Value=\"true\"/>"), std::string::npos);
    EXPECT_NE(m.find("<tt:SimpleItem Name=\"State\" Value=\"true\"/>"), std::string::npos);
    EXPECT_NE(m.find("<wsnt:SubscriptionReference><wsa:Address>http://h/x?sub=1</wsa:Address>"),
              std::string::npos);
    EXPECT_NE(m.find("PropertyOperation=\"Changed\""), std::string::npos);
    const std::string p = notification_messages(false, "Initialized", "");
    EXPECT_EQ(p.find("SubscriptionReference"), std::string::npos);
    EXPECT_EQ(p.find("\"true\""), std::string::npos);
    const std::string first = first_notification(p);
    EXPECT_EQ(first.find("MotionAlarm"), std::string::npos);
    EXPECT_EQ(first.size(), p.find("</wsnt:NotificationMessage>") + 27);
}

TEST(EventsPush, UrlsAndAnswers) {
    NotifyTarget t;
    ASSERT_TRUE(parse_notify_url("http://10.0.0.9:8080/onvif/notify?id=3", &t));
    EXPECT_EQ(t.host, "10.0.0.9");
    EXPECT_EQ(t.host_part, "10.0.0.9:8080");
    EXPECT_EQ(t.port, 8080);
    EXPECT_EQ(t.path, "/onvif/notify?id=3");
    ASSERT_TRUE(parse_notify_url("http://nvr.local", &t));
    EXPECT_EQ(t.port, 80);
    EXPECT_EQ(t.path, "/");
    EXPECT_FALSE(parse_notify_url("https://10.0.0.9/x", &t));
    EXPECT_FALSE(parse_notify_url("http://10.0.0.9:0/x", &t));
    EXPECT_FALSE(parse_notify_url("http://10.0.0.9:65536/x", &t));
    EXPECT_FALSE(parse_notify_url("http://:80/x", &t));

    EXPECT_TRUE(notify_answer_ok("HTTP/1.1 202 Accepted\r\n"));
    EXPECT_TRUE(notify_answer_ok("HTTP/1.0 200 OK\r\n"));
    EXPECT_TRUE(notify_answer_ok("HTTP/1.1 204"));
    EXPECT_FALSE(notify_answer_ok("HTTP/1.1 500 Error\r\n\r\nsee 200 "));
    EXPECT_FALSE(notify_answer_ok("HTTP/1.1 2000 x\r\n"));
    EXPECT_FALSE(notify_answer_ok(""));
    EXPECT_FALSE(notify_answer_ok("garbage 200 "));
}

// One-shot loopback HTTP server: reads a request, answers `status`.
struct TinyServer {
    socket_t listener;
    uint16_t port;
    std::string request;
    std::thread thread;
    explicit TinyServer(const std::string& answer, int requests = 1) {
        listener = tcp_listen_on("127.0.0.1", 0, 4);
        port = socket_local_port(listener);
        thread = std::thread([this, answer, requests] {
            for (int i = 0; i < requests; ++i) {
                socket_t c = tcp_accept(listener);
                if (c == k_invalid_socket) return;
                set_recv_timeout(c, 3000);
                char buf[4096];
                std::string got;
                for (;;) {
                    long n = recv_some(c, buf, sizeof buf);
                    if (n <= 0) break;
                    got.append(buf, size_t(n));
                    size_t h = got.find("\r\n\r\n");
                    size_t cl = got.find("Content-Length: ");
                    if (h != std::string::npos && cl != std::string::npos &&
                        got.size() >= h + 4 + std::stoul(got.substr(cl + 16)))
                        break;
                }
                request += got;
                send_all(c, answer);
                net_close(c);
            }
        });
    }
    ~TinyServer() {
        thread.join();
        net_close(listener);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/notify"; }
};

TEST(EventsPush, PostNotifyToLoopbackRecorder) {
    {
        TinyServer ok("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n");
        EXPECT_TRUE(http_post_notify(ok.url(), "<env/>", 3000));
        EXPECT_EQ(ok.request.rfind("POST /notify HTTP/1.1\r\nHost: 127.0.0.1:", 0), 0u);
        EXPECT_NE(ok.request.find("Content-Length: 6\r\nConnection: close\r\n\r\n<env/>"),
                  std::string::npos);
    }
    {
        TinyServer bad("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
        EXPECT_FALSE(http_post_notify(bad.url(), "<env/>", 3000));
    }
    // Nobody listening: refused at once.
    socket_t s = tcp_listen_on("127.0.0.1", 0, 1);
    uint16_t port = socket_local_port(s);
    net_close(s);
    EXPECT_FALSE(http_post_notify("http://127.0.0.1:" + std::to_string(port) + "/", "x", 1000));
    EXPECT_FALSE(http_post_notify("http://no-such-host.invalid/", "x", 1000));
}

// --- the service over an OnvifContext ---------------------------------------

int64_t parse_utc(const std::string& text) {
    std::tm tm{};
    if (!strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm)) return -1;
    return int64_t(timegm(&tm));
}

std::string between(const std::string& s, const std::string& a, const std::string& b) {
    size_t p = s.find(a);
    if (p == std::string::npos) return {};
    p += a.size();
    return s.substr(p, s.find(b, p) - p);
}

int count_of(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

class EventsService : public ::testing::Test {
  protected:
    // Push threads may outlive a test, so contexts live for the process.
    static OnvifContext& fresh_context() {
        static std::vector<std::unique_ptr<OnvifContext>>* kept =
            new std::vector<std::unique_ptr<OnvifContext>>;
        kept->push_back(std::make_unique<OnvifContext>());
        return *kept->back();
    }
    OnvifContext& ctx = fresh_context();
    void SetUp() override {
        motion_reset_for_tests();
        ctx.address = "127.0.0.1";
        ctx.onvif_port = 8000;
        onvif_set_current_peer("10.1.2.3");
        LogRing::reset_for_tests();
    }
    void TearDown() override { motion_reset_for_tests(); }
    static void enable_motion() {
        MotionConfig c;
        c.enabled = true;
        c.hold_ms = 60000;
        motion_configure(c);
    }
    std::string call(const std::string& body, const std::string& target = "/onvif/event_service") {
        auto r = events_handle(ctx, target, body);
        EXPECT_TRUE(r.has_value()) << body;
        return r.value_or("");
    }
    std::string create(const std::string& lifetime = "") {
        std::string body = "<tev:CreatePullPointSubscription>";
        if (!lifetime.empty())
            body += "<tev:InitialTerminationTime>" + lifetime + "</tev:InitialTerminationTime>";
        return call(body + "</tev:CreatePullPointSubscription>");
    }
    std::string pull(const std::string& id, const std::string& timeout,
                     const std::string& extra = "") {
        return call("<tev:PullMessages><tev:Timeout>" + timeout +
                        "</tev:Timeout><tev:MessageLimit>" + (extra.empty() ? "10" : extra) +
                        "</tev:MessageLimit></tev:PullMessages>",
                    "/onvif/event_service?sub=" + id);
    }
};

TEST_F(EventsService, DeclinesOtherRequests) {
    EXPECT_FALSE(events_handle(ctx, "/onvif/device_service", "<tds:GetDeviceInformation/>"));
    EXPECT_FALSE(events_handle(ctx, "/onvif/event_service", "<tev:GetEventProperties/>"));
}

TEST_F(EventsService, LifetimesAndIds) {
    struct Case {
        const char* lifetime;
        int64_t seconds;
    } cases[] = {{"", 600}, {"PT2H", 3600}, {"PT30S", 30}, {"2030-01-01T00:00:00Z", 600}};
    int id = 1;
    for (const auto& c : cases) {
        const std::string r = create(c.lifetime);
        EXPECT_NE(r.find("<wsa:Action>http://www.onvif.org/ver10/events/wsdl/EventPortType/"
                         "CreatePullPointSubscriptionResponse</wsa:Action>"),
                  std::string::npos);
        EXPECT_NE(r.find("<wsa:Address>http://{IP}:{ONVIFPORT}/onvif/event_service?sub=" +
                         std::to_string(id++) + "</wsa:Address>"),
                  std::string::npos);
        const int64_t now = parse_utc(between(r, "<wsnt:CurrentTime>", "<"));
        const int64_t end = parse_utc(between(r, "<wsnt:TerminationTime>", "<"));
        EXPECT_NEAR(double(end - now), double(c.seconds), 1.0) << c.lifetime;
    }
    EXPECT_EQ(ctx.subscriptions.size(), 4u);
    EXPECT_EQ(motion_status().subscribers, 4);
    EXPECT_NE(LogRing::joined().find("ONVIF: recorder 10.1.2.3 subscribed to events (pull)"),
              std::string::npos);
}

TEST_F(EventsService, NinthSubscriptionEvictsTheEarliestExpiry) {
    const char* lifetimes[8] = {"PT600S", "PT700S",  "PT20S",   "PT800S",
                                "PT900S", "PT1000S", "PT1100S", "PT1200S"};
    for (const char* l : lifetimes) create(l);
    ASSERT_EQ(ctx.subscriptions.size(), 8u);
    const std::string r = create("PT60S");
    EXPECT_NE(r.find("?sub=9<"), std::string::npos);
    EXPECT_EQ(ctx.subscriptions.size(), 8u);
    EXPECT_EQ(ctx.subscriptions.count("3"), 0u);  // the 20 s one
    EXPECT_EQ(ctx.subscriptions.count("9"), 1u);

    // Renew moves the expiry; unknown ids are no error; Unsubscribe removes.
    call("<wsnt:Renew><wsnt:TerminationTime>PT5S</wsnt:TerminationTime></wsnt:Renew>",
         "/onvif/event_service?sub=1");
    call("<wsnt:Renew><wsnt:TerminationTime>PT5S</wsnt:TerminationTime></wsnt:Renew>",
         "/onvif/event_service?sub=55");
    create();
    EXPECT_EQ(ctx.subscriptions.count("1"), 0u);  // now the earliest
    const std::string u = call("<wsnt:Unsubscribe/>", "/onvif/event_service?sub=2");
    EXPECT_NE(u.find("<wsnt:UnsubscribeResponse/>"), std::string::npos);
    EXPECT_EQ(ctx.subscriptions.count("2"), 0u);
    EXPECT_EQ(ctx.subscriptions.size(), 7u);
}

TEST_F(EventsService, PullPointLifecycle) {
    enable_motion();
    create();
    // First pull: at once, two Initialized messages with the current state.
    std::string r = pull("1", "PT10S");
    EXPECT_EQ(count_of(r, "PropertyOperation=\"Initialized\""), 2);
    EXPECT_EQ(count_of(r, "Value=\"false\""), 2);
    EXPECT_NE(r.find("PullMessagesResponse</wsa:Action>"), std::string::npos);
    // Nothing changed: an empty answer (no wait with PT0S).
    r = pull("1", "PT0S");
    EXPECT_EQ(count_of(r, "<wsnt:NotificationMessage>"), 0);
    EXPECT_NE(r.find("<tev:PullMessagesResponse><tev:CurrentTime>"), std::string::npos);
    // A change during the wait answers at once with Changed/true.
    std::thread t([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        motion_test_event();
    });
    r = pull("1", "PT20S");
    t.join();
    EXPECT_EQ(count_of(r, "PropertyOperation=\"Changed\""), 2);
    EXPECT_EQ(count_of(r, "Value=\"true\""), 2);
    // Reported once only.
    r = pull("1", "PT0S");
    EXPECT_EQ(count_of(r, "<wsnt:NotificationMessage>"), 0);
    EXPECT_NE(motion_status().last_pull_tick, 0u);
}

TEST_F(EventsService, PullOnUnknownIdCreatesItAndMessageLimitOne) {
    std::string r = pull("99", "PT1S", "1");
    EXPECT_EQ(count_of(r, "<wsnt:NotificationMessage>"), 1);
    EXPECT_NE(r.find("CellMotionDetector"), std::string::npos);
    EXPECT_EQ(r.find("MotionAlarm"), std::string::npos);
    ASSERT_EQ(ctx.subscriptions.count("99"), 1u);
    EXPECT_TRUE(ctx.subscriptions["99"].initialized);
    // The id counter is not disturbed, and handing out ids skips taken ones.
    ctx.next_subscription_id = 99;
    EXPECT_NE(create().find("?sub=100<"), std::string::npos);

    // Guessed ids obey the limit of 8 like every other subscription.
    for (int i = 0; i < 20; ++i) pull(std::to_string(1000 + i), "PT0S");
    EXPECT_EQ(ctx.subscriptions.size(), 8u);
}

TEST_F(EventsService, DetectionOffReportsFalse) {
    motion_configure(MotionConfig{});  // off
    motion_test_event();               // active, but detection is off
    ASSERT_EQ(motion_status().active, 1);
    const std::string r = pull("5", "PT0S");
    EXPECT_EQ(count_of(r, "Value=\"false\""), 2);
    EXPECT_EQ(r.find("\"true\""), std::string::npos);
}

TEST_F(EventsService, HttpsConsumerIsRegisteredAsPull) {
    const std::string r = call(
        "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>https://10.0.0.2/events"
        "</wsa:Address></wsnt:ConsumerReference></wsnt:Subscribe>");
    EXPECT_NE(r.find("<wsnt:SubscribeResponse><wsnt:SubscriptionReference>"), std::string::npos);
    EXPECT_NE(r.find("SubscribeResponse</wsa:Action>"), std::string::npos);
    ASSERT_EQ(ctx.subscriptions.count("1"), 1u);
    EXPECT_FALSE(ctx.subscriptions["1"].push);
    EXPECT_TRUE(ctx.subscriptions["1"].consumer_address.empty());
    EXPECT_NE(LogRing::joined().find("subscribed to events (pull)"), std::string::npos);
    // A template address that the recorder never filled in is no target either.
    call(
        "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>http://{IP}:80/x"
        "</wsa:Address></wsnt:ConsumerReference></wsnt:Subscribe>");
    EXPECT_FALSE(ctx.subscriptions["2"].push);
}

TEST_F(EventsService, PushSubscriberGetsInitializedAndFailuresAreLoggedOnce) {
    enable_motion();
    TinyServer recorder("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n");
    call("<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>" + recorder.url() +
         "</wsa:Address></wsnt:ConsumerReference><wsnt:InitialTerminationTime>PT60S"
         "</wsnt:InitialTerminationTime></wsnt:Subscribe>");
    ASSERT_TRUE(ctx.subscriptions["1"].push);
    EXPECT_EQ(motion_status().push_subscribers, 1);
    // The Initialized push comes about 400 ms later.
    for (int i = 0; i < 100 && motion_status().push_delivered == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(motion_status().push_delivered, 1u);
    EXPECT_NE(LogRing::joined().find("ONVIF: event push to recorder 10.1.2.3 OK"),
              std::string::npos);
    const std::string& req = recorder.request;
    EXPECT_NE(req.find("<wsnt:Notify><wsnt:NotificationMessage><wsnt:SubscriptionReference>"
                       "<wsa:Address>http://127.0.0.1:8000/onvif/event_service?sub=1"),
              std::string::npos);
    EXPECT_EQ(count_of(req, "PropertyOperation=\"Initialized\""), 2);
    EXPECT_NE(req.find("NotificationConsumer/Notify</wsa:Action>"), std::string::npos);

    // A recorder answering 500 twice: failed, logged once.
    {
        TinyServer broken("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", 2);
        EventSubscription sub = ctx.subscriptions["1"];
        sub.consumer_address = broken.url();
        push_notify(ctx, "1", sub, true, "Changed");
        push_notify(ctx, "1", sub, true, "Changed");
    }
    EXPECT_EQ(motion_status().push_failed, 1u);
    EXPECT_EQ(motion_status().push_delivered, 0u);
    EXPECT_EQ(count_of(LogRing::joined(), "FAILED (recorder unreachable or rejected)"), 1);
}

}  // namespace
