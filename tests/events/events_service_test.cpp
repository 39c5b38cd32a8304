// The events service: its text pieces, the subscription table and the
// Notify client against a loopback HTTP server.
#include "onvif/events_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sstream>
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

int count_of(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

TEST(EventsText, DurationsAndLifetimes) {
    struct Case {
        const char* text;
        int seconds, lifetime;
        // clang-format off
    } cases[] = {{"", -1, 600}, {"PT30S", 30, 30}, {"PT2H", 7200, 3600}, {"PT0S", 0, 600},
                 {"2030-01-01T00:00:00Z", -1, 600}, {"P1D", 86400, 3600}, {"PT1M", 60, 60},
                 {"P1M", 2592000, 3600}, {"P1DT1H1M1S", 90061, 3600}, {"PT0.5S", 1, 1},
                 {"PT1.001S", 2, 2}, {"P", -1, 600}, {"PT", -1, 600}, {"P1Y", -1, 600},
                 {"P1YT5S", 5, 5}, {"P2W", -1, 600}, {"-PT5S", -1, 600},
                 {"PT99999999999999999999S", INT_MAX, 3600}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(duration_seconds(c.text), c.seconds) << c.text;
        EXPECT_EQ(subscription_lifetime(c.text), c.lifetime) << c.text;
    }
    EXPECT_EQ(utc_text(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utc_text(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(utc_text(1796558399), "2026-12-06T11:59:59Z");
}

TEST(EventsText, ActionsAndIds) {
    const std::pair<const char*, EventsAction> cases[] = {
        {"<tev:CreatePullPointSubscription/>", EventsAction::create_pull_point},
        {"<wsnt:Subscribe><wsnt:ConsumerReference>", EventsAction::subscribe},
        {"<wsnt:Unsubscribe/>", EventsAction::unsubscribe},
        {"<Unsubscribe xmlns=\"x\"/>", EventsAction::unsubscribe},
        {"<tev:PullMessages><tev:Timeout>", EventsAction::pull_messages},
        {"<wsnt:Renew><wsnt:TerminationTime>", EventsAction::renew},
        {"<tev:GetEventProperties/>", EventsAction::none},
        {"<a:Action>.../SubscriptionManager/RenewRequest</a:Action>", EventsAction::none},
    };
    for (auto [body, action] : cases) EXPECT_EQ(events_action(body), action) << body;
    OnvifContext ctx;
    EXPECT_FALSE(events_handle(ctx, "/onvif/event_service", "<tev:GetEventProperties/>"));
    EXPECT_FALSE(events_handle(ctx, "/onvif/device_service", "<tds:GetDeviceInformation/>"));
    EXPECT_EQ(subscription_id("/onvif/event_service?sub=12&x=1"), "12");
    EXPECT_EQ(subscription_id("/onvif/event_service?sub=7;a"), "7");
    EXPECT_EQ(subscription_id("/onvif/event_service"), "0");
}

TEST(EventsText, NotificationMessages) {
    const std::string m = notification_messages(true, "Changed", "http://h/x?sub=1");
    EXPECT_LT(m.find("tns1:RuleEngine/CellMotionDetector/Motion"),
              m.find("tns1:VideoSource/MotionAlarm"));
    EXPECT_NE(m.find("<wsnt:SubscriptionReference><wsa:Address>http://h/x?sub=1</wsa:Address>"),
              std::string::npos);
    EXPECT_EQ(count_of(m, "PropertyOperation=\"Changed\""), 2);
    EXPECT_EQ(count_of(m, "Value=\"true\""), 2);
    const std::string p = notification_messages(false, "Initialized", "");
    EXPECT_EQ(p.find("SubscriptionReference"), std::string::npos);
    EXPECT_EQ(first_notification(p), p.substr(0, p.find("</wsnt:NotificationMessage>") + 27));
}

// A loopback URL where nobody listens: connections are refused at once.
std::string refused_url() {
    socket_t s = tcp_listen_on("127.0.0.1", 0, 1);
    const uint16_t port = socket_local_port(s);
    net_close(s);
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

TEST(EventsPush, UrlsAndAnswers) {
    // clang-format off
    const std::pair<const char*, const char*> urls[] = {
        {"http://10.0.0.9:8080/notify?id=3", "10.0.0.9 10.0.0.9:8080 8080 /notify?id=3"},
        {"http://nvr.local", "nvr.local nvr.local 80 /"}, {"https://10.0.0.9/x", ""},
        {"http://10.0.0.9:0/x", ""}, {"http://10.0.0.9:65536/x", ""}, {"http://:80/x", ""}};
    const std::pair<const char*, bool> answers[] = {
        {"HTTP/1.1 202 Accepted\r\n", true}, {"HTTP/1.0 200 OK\r\n", true}, {"HTTP/1.1 204", true},
        {"HTTP/1.1 500 Error\r\n\r\nsee 200 ", false}, {"HTTP/1.1 2000 x\r\n", false},
        {"", false}, {"garbage 200 ", false}};
    // clang-format on
    for (auto [url, want] : urls) {
        NotifyTarget t;
        const bool ok = parse_notify_url(url, &t);
        EXPECT_EQ(
            ok ? t.host + " " + t.host_part + " " + std::to_string(t.port) + " " + t.path : "",
            want);
    }
    for (auto [text, ok] : answers) EXPECT_EQ(notify_answer_ok(text), ok) << text;

    EXPECT_FALSE(http_post_notify(refused_url(), "x", 1000));
}

// A loopback recorder: reads one request and accepts it.
struct TinyServer {
    socket_t listener = tcp_listen_on("127.0.0.1", 0, 4);
    uint16_t port = socket_local_port(listener);
    std::string request;
    std::thread thread{[this] {
        socket_t c = tcp_accept(listener);
        if (c == k_invalid_socket) return;
        set_recv_timeout(c, 3000);
        char buf[4096];
        for (long n; request.find("</env:Envelope>") == std::string::npos &&
                     (n = recv_some(c, buf, sizeof buf)) > 0;)
            request.append(buf, size_t(n));
        send_all(c, "HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n");
        net_close(c);
    }};
    ~TinyServer() {
        thread.join();
        net_close(listener);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/notify"; }
};

// --- the service over an OnvifContext ---------------------------------------

// Seconds from CurrentTime to TerminationTime in an answer (any prefix).
int64_t lifetime_of(const std::string& r) {
    auto at = [&](const std::string& tag) {
        std::tm tm{};
        strptime(r.substr(r.find(tag) + tag.size()).c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
        return int64_t(timegm(&tm));
    };
    return at(":TerminationTime>") - at(":CurrentTime>");
}

class EventsService : public ::testing::Test {
  protected:
    // Push threads may outlive a test, so contexts live for the process.
    static OnvifContext& fresh_context() {
        static auto* kept = new std::vector<std::unique_ptr<OnvifContext>>;
        return *kept->emplace_back(std::make_unique<OnvifContext>());
    }
    OnvifContext* ctx = nullptr;
    void SetUp() override { reset(); }
    void TearDown() override { motion_reset_for_tests(); }
    void reset() {
        ctx = &fresh_context();
        ctx->address = "127.0.0.1";
        ctx->onvif_port = 8000;
        made.clear();
        onvif_set_current_peer("10.1.2.3");
        LogRing::reset_for_tests();
        motion_reset_for_tests();
    }
    // Subscription references are random; tests name them 1, 2, ... in the
    // order they were made. A number never made stands for itself.
    std::vector<std::string> made;
    std::string real_id(const std::string& alias) const {
        const size_t n = std::strtoul(alias.c_str(), nullptr, 10);
        return n >= 1 && n <= made.size() ? made[n - 1] : alias;
    }
    std::string alias_of(const std::string& id) const {
        for (size_t i = 0; i < made.size(); ++i)
            if (made[i] == id) return std::to_string(i + 1);
        return id;
    }
    std::string call(const std::string& body, const std::string& alias = "") {
        auto r = events_handle(
            *ctx, "/onvif/event_service" + (alias.empty() ? "" : "?sub=" + real_id(alias)), body);
        EXPECT_TRUE(r.has_value()) << body;
        std::string answer = r.value_or("");
        const size_t at = answer.find("?sub=");
        if (at != std::string::npos && answer.find("Response><") != std::string::npos &&
            answer.find("SubscriptionReference><wsa:Address>") != std::string::npos &&
            answer.find("NotificationMessage") == std::string::npos) {
            const std::string id = answer.substr(at + 5, answer.find('<', at) - at - 5);
            EXPECT_EQ(id.size(), 32u) << id;
            made.push_back(id);
            answer.replace(at + 5, id.size(), std::to_string(made.size()));
        }
        return answer;
    }
    // One request per step; returns the last answer. Steps: "create [LIFETIME]",
    // "push URL [LIFETIME]", "pull ID [TIMEOUT [LIMIT]]", "renew ID LIFETIME",
    // "unsub ID", "motion on|off", "test" (a test event), "soon" (one in 100 ms),
    // "fill" (eight subscriptions), "from ADDRESS" (the peer of later steps).
    std::string run(const std::vector<std::string>& steps) {
        auto tag = [](const std::string& name, const std::string& v) {
            return v.empty() ? v : "<" + name + ">" + v + "</" + name + ">";
        };
        std::string answer;
        for (const std::string& step : steps) {
            std::istringstream in(step);
            std::string verb, a, b, c;
            in >> verb >> a >> b >> c;
            if (verb == "create")
                answer = call("<tev:CreatePullPointSubscription>" +
                              tag("tev:InitialTerminationTime", a) +
                              "</tev:CreatePullPointSubscription>");
            if (verb == "push")
                answer = call("<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>" + a +
                              "</wsa:Address></wsnt:ConsumerReference>" +
                              tag("wsnt:InitialTerminationTime", b) + "</wsnt:Subscribe>");
            if (verb == "pull")
                answer =
                    call("<tev:PullMessages>" + tag("tev:Timeout", b.empty() ? "PT0S" : b) +
                             tag("tev:MessageLimit", c.empty() ? "10" : c) + "</tev:PullMessages>",
                         a);
            if (verb == "renew")
                answer = call("<wsnt:Renew>" + tag("wsnt:TerminationTime", b) + "</wsnt:Renew>", a);
            if (verb == "unsub") answer = call("<wsnt:Unsubscribe/>", a);
            if (verb == "motion") {
                MotionConfig m;
                m.enabled = a == "on";
                m.hold_ms = 60000;
                motion_configure(m);
            }
            if (verb == "test") motion_test_event();
            if (verb == "soon")  // a test event while the next step waits
                std::thread([] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    motion_test_event();
                }).detach();
            if (verb == "from") onvif_set_current_peer(a);  // later requests come from there
            if (verb == "fill")  // eight subscriptions; the third expires first
                for (const char* l : {"600", "700", "20", "800", "900", "1000", "1100", "1200"})
                    run({"create PT" + std::string(l) + "S"});
        }
        return answer;
    }
    // The subscriptions in the table by their test names, in numeric order.
    std::string ids() const {
        std::vector<int> names;
        for (const auto& [id, sub] : ctx->subscriptions) names.push_back(std::stoi(alias_of(id)));
        std::sort(names.begin(), names.end());
        std::string out;
        for (int n : names) out += (out.empty() ? "" : " ") + std::to_string(n);
        return out;
    }
};

TEST_F(EventsService, SubscriptionTable) {
    struct Case {
        const char* name;
        std::vector<std::string> steps;
        const char* ids;              // left afterwards
        const char* answer;           // part of the last answer
        int messages = 0, trues = 0;  // NotificationMessages and true values in it
        int lifetime = -1;            // seconds from CurrentTime to TerminationTime, -1: none
        // clang-format off
    } cases[] = {
        {"no lifetime: ten minutes", {"create"}, "1",
         "EventPortType/CreatePullPointSubscriptionResponse</wsa:Action>", 0, 0, 600},
        {"PT2H: an hour at most", {"create", "create PT2H"}, "1 2", "?sub=2<", 0, 0, 3600},
        {"the ninth evicts the earliest expiry", {"fill", "create PT60S"}, "1 2 4 5 6 7 8 9",
         "?sub=9<"},
        {"an address holding half the table evicts its own",
         {"create PT60S", "create PT60S", "from 10.9.9.9", "fill", "create"},
         "1 2 6 7 8 9 10 11", "?sub=11<"},
        {"renew moves the expiry", {"fill", "create", "renew 1 PT5S", "create"},
         "2 4 5 6 7 8 9 10", "?sub=10<"},
        {"renew answers TerminationTime first", {"create", "renew 1 PT5S"}, "1",
         "<wsnt:RenewResponse><wsnt:TerminationTime>", 0, 0, 5},
        {"renew of an unknown reference is a fault", {"create", "renew 55 PT5S"}, "1",
         "wsrf-rw:ResourceUnknownFault"},
        {"unsubscribe removes", {"create", "create", "unsub 1", "unsub 7"}, "2",
         "<wsnt:UnsubscribeResponse/>"},
        {"a pull on a reference never made is a fault", {"create", "pull 99"}, "1",
         "wsrf-rw:ResourceUnknownFault"},
        {"a pull without a reference is a fault", {"create", "pull"}, "1",
         "ResourceUnknownFault</env:Value>"},
        {"a pull after unsubscribe is a fault, not a fresh Initialized",
         {"create", "pull 1", "unsub 1", "pull 1"}, "", "ResourceUnknownFault"},
        {"a pull on an evicted reference is a fault", {"fill", "create PT60S", "pull 3"},
         "1 2 4 5 6 7 8 9", "ResourceUnknownFault"},
        {"a pull answers the pull point's own lifetime", {"create PT60S", "pull 1"}, "1",
         "PullMessagesResponse</wsa:Action>", 2, 0, 60},
        {"MessageLimit 1", {"create", "pull 1 PT1S 1"}, "1", "CellMotionDetector", 1, 0},
        {"first pull: Initialized with the state", {"motion on", "create", "test", "pull 1"}, "1",
         "PropertyOperation=\"Initialized\"", 2, 2},
        {"a waiting pull wakes", {"motion on", "create", "pull 1", "soon", "pull 1 PT20S"},
         "1", "PropertyOperation=\"Changed\"", 2, 2},
        {"a change is reported once", {"motion on", "create", "pull 1", "test", "pull 1", "pull 1"},
         "1", "<tev:PullMessagesResponse><tev:CurrentTime>"},
        {"detection off reports false", {"motion off", "create", "test", "pull 1"}, "1",
         "\"false\"", 2, 0},
        {"https consumers pull", {"push https://10.0.0.2/events"}, "1",
         "<wsnt:SubscribeResponse><wsnt:SubscriptionReference>"},
        {"an unfilled template address is no target", {"push http://{IP}:80/x"}, "1",
         "SubscribeResponse</wsa:Action>"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        const std::string answer = run(c.steps);
        EXPECT_EQ(ids(), c.ids);
        EXPECT_EQ(motion_status().push_subscribers, 0);
        EXPECT_NE(answer.find(c.answer), std::string::npos) << answer;
        EXPECT_EQ(count_of(answer, "<wsnt:NotificationMessage>"), c.messages);
        EXPECT_EQ(count_of(answer, "Value=\"true\""), c.trues);
        EXPECT_EQ(motion_status().subscribers, int(ctx->subscriptions.size()));
        EXPECT_NEAR(c.lifetime < 0 ? -1.0 : double(lifetime_of(answer)), c.lifetime, 1.0);
    }
}

TEST_F(EventsService, PushSubscriberGetsInitializedAndFailuresAreLoggedOnce) {
    TinyServer recorder;
    run({"motion on", "push " + recorder.url() + " PT60S"});
    EXPECT_EQ(motion_status().push_subscribers, 1);
    EXPECT_NE(LogRing::joined().find("ONVIF: recorder 10.1.2.3 subscribed to events (push)"),
              std::string::npos);
    const std::string ok_line = "ONVIF: event push to recorder 10.1.2.3 OK";
    // The Initialized push comes about 400 ms later; a loaded machine may take longer.
    for (int i = 0; i < 600 && LogRing::joined().find(ok_line) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(LogRing::joined().find(ok_line), std::string::npos);
    EXPECT_EQ(motion_status().push_delivered, 1u);
    const std::string& req = recorder.request;
    EXPECT_NE(req.find("<wsnt:Notify><wsnt:NotificationMessage><wsnt:SubscriptionReference>"
                       "<wsa:Address>http://127.0.0.1:8000/onvif/event_service?sub=" +
                       real_id("1") + "</wsa:Address>"),
              std::string::npos);
    EXPECT_EQ(count_of(req, "PropertyOperation=\"Initialized\""), 2);
    EXPECT_NE(req.find("NotificationConsumer/Notify</wsa:Action>"), std::string::npos);
    EXPECT_EQ(req.rfind("POST /notify HTTP/1.1\r\nHost: 127.0.0.1:", 0), 0u);
    EXPECT_NE(req.find("\r\nConnection: close\r\n\r\n<?xml"), std::string::npos);

    // A recorder gone away: failed twice, counted and logged once.
    EventSubscription sub = ctx->subscriptions[real_id("1")];
    sub.consumer_address = refused_url();
    push_notify(*ctx, real_id("1"), sub, true, "Changed");
    push_notify(*ctx, real_id("1"), sub, true, "Changed");
    EXPECT_EQ(motion_status().push_failed, 1u);
    EXPECT_EQ(motion_status().push_delivered, 0u);
    EXPECT_EQ(count_of(LogRing::joined(), "FAILED (recorder unreachable or rejected)"), 1);
}

// Topic filters against one motion change, for pull points and for push: the
// messages each subscriber receives, or the unsupported-topic fault.
TEST_F(EventsService, TopicFiltersSelectMessages) {
    // Posts land here; the delayed Initialized push of a subscription may come
    // after its case, so the list outlives the test.
    struct Posted {
        std::mutex m;
        std::vector<std::string> envelopes;
    };
    auto posted = std::make_shared<Posted>();
    const std::string motion = "tns1:RuleEngine/CellMotionDetector/Motion";
    const std::string alarm = "tns1:VideoSource/MotionAlarm";
    const struct {
        std::string filter;  // "-": no Filter element at all
        bool motion, alarm, fault;
    } cases[] = {
        {"-", true, true, false},
        {"tns1:RuleEngine//.", true, false, false},
        {"tns1:RuleEngine/CellMotionDetector/Motion", true, false, false},
        {"tns1:VideoSource/MotionAlarm", false, true, false},
        {" tns1:RuleEngine//. | tns1:VideoSource/MotionAlarm ", true, true, false},
        {"tns1:VideoSource//.|tns1:Device/Trigger/DigitalInput", false, true, false},
        {"tns1:RuleEngine/*/Motion", true, false, false},
        {"tns1:Device/Trigger/DigitalInput", false, false, true},
        {"tns1:RuleEngine", false, false, true},                // a branch, not a topic
        {"other:VideoSource/MotionAlarm", false, false, true},  // prefix of another namespace
        {"", false, false, true},
    };
    for (const auto& c : cases) {
        for (bool push : {false, true}) {
            SCOPED_TRACE(c.filter + (push ? " push" : " pull"));
            reset();
            ctx->events_post = [posted](const std::string&, const std::string& envelope, uint32_t) {
                std::lock_guard<std::mutex> lock(posted->m);
                posted->envelopes.push_back(envelope);
                return true;
            };
            const std::string filter =
                c.filter == "-"
                    ? ""
                    : "<wsnt:Filter><wsnt:TopicExpression Dialect=\"http://docs.oasis-open.org/"
                      "wsn/t-1/TopicExpression/Concrete\" xmlns:other=\"urn:x\">" +
                          c.filter + "</wsnt:TopicExpression></wsnt:Filter>";
            const std::string answer =
                call(push ? "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>"
                            "http://127.0.0.1:9/n</wsa:Address></wsnt:ConsumerReference>" +
                                filter + "</wsnt:Subscribe>"
                          : "<tev:CreatePullPointSubscription>" + filter +
                                "</tev:CreatePullPointSubscription>");
            EXPECT_EQ(answer.find("wsntw:TopicNotSupportedFault") != std::string::npos, c.fault);
            EXPECT_EQ(ctx->subscriptions.size(), c.fault ? 0u : 1u);
            if (c.fault) continue;
            run({"motion on", "test"});
            std::string got;
            if (push) {
                const auto& [id, sub] = *ctx->subscriptions.begin();
                push_notify(*ctx, id, sub, true, "Changed");
                std::lock_guard<std::mutex> lock(posted->m);
                for (const std::string& e : posted->envelopes)
                    if (e.find("PropertyOperation=\"Changed\"") != std::string::npos) got = e;
                posted->envelopes.clear();
                ASSERT_FALSE(got.empty());
            } else {
                got = run({"pull 1"});
            }
            EXPECT_EQ(got.find(motion) != std::string::npos, c.motion) << got;
            EXPECT_EQ(got.find(alarm) != std::string::npos, c.alarm) << got;
            EXPECT_EQ(count_of(got, "Value=\"true\""), int(c.motion) + int(c.alarm));
        }
    }
}

// One address keeps at most four long polls waiting; a fifth is answered at
// once, while pulls from another address still wait.
TEST_F(EventsService, LongPollsPerAddressAreBounded) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::vector<int> waits;
    ctx->events_wait = [&](uint64_t, int timeout_ms) {
        std::unique_lock<std::mutex> lock(m);
        waits.push_back(timeout_ms);
        cv.notify_all();
        if (timeout_ms > 0) cv.wait(lock, [&] { return release; });
        return false;
    };
    run({"create", "pull 1"});  // initialized: later pulls wait
    const std::string target = "/onvif/event_service?sub=" + real_id("1");
    const std::string body =
        "<tev:PullMessages><tev:Timeout>PT20S</tev:Timeout></tev:PullMessages>";
    std::vector<std::thread> pulls;
    auto pull_from = [&](const char* peer) {
        pulls.emplace_back([&, peer] {
            onvif_set_current_peer(peer);
            events_handle(*ctx, target, body);
        });
    };
    for (int i = 0; i < 4; ++i) pull_from("10.0.0.66");
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return waits.size() == 4; }));
    }
    onvif_set_current_peer("10.0.0.66");  // the fifth, on this thread: answered at once
    const auto fifth = events_handle(*ctx, target, body);
    ASSERT_TRUE(fifth);
    EXPECT_NE(fifth->find("<tev:PullMessagesResponse>"), std::string::npos);
    pull_from("10.0.0.77");
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return waits.size() == 6; }));
        std::vector<int> sorted = waits;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (std::vector<int>{0, 20000, 20000, 20000, 20000, 20000}));
        release = true;
        cv.notify_all();
    }
    for (auto& t : pulls) t.join();
    EXPECT_TRUE(ctx->waiting_pulls.empty());
}

}  // namespace
