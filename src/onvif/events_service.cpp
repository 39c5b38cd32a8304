// The ONVIF events service: subscriptions (pull points and push consumers) in
// OnvifContext's table, PullMessages long polls on the motion detector's
// condition variable, and the watcher that pushes every change of the motion
// state to push consumers. Subscriptions are named by random references and
// carry the topic mask of their filter.
// Locks, always taken in this order and never the other way round: a
// subscriber's push lock, then ctx.subscriptions_lock, then the motion
// detector's own lock (inside the motion_* calls). The table lock is never
// held during network I/O or a wait.
#include "onvif/events_service.h"

#include <memory>
#include <thread>

#include "engine/clock.h"
#include "engine/log.h"
#include "onvif/events_messages.h"
#include "onvif/events_push.h"
#include "onvif/onvif_xml.h"
#include "rtsp/digest_auth.h"
#include "video/motion_detector.h"

namespace {

constexpr size_t k_max_subscriptions = 8;
constexpr uint32_t k_push_timeout_ms = 3000;
constexpr uint32_t k_initial_push_delay_ms = 400;
// Long polls one client address may keep waiting at once; more pulls from it
// are answered at once, so it keeps connection slots for its other requests.
constexpr uint32_t k_max_waiting_pulls_per_peer = 4;

constexpr const char* k_action_create =
    "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionResponse";
constexpr const char* k_action_subscribe =
    "http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeResponse";
constexpr const char* k_action_pull =
    "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesResponse";
constexpr const char* k_action_renew =
    "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewResponse";
constexpr const char* k_action_unsubscribe =
    "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeResponse";
constexpr const char* k_action_notify =
    "http://docs.oasis-open.org/wsn/bw-2/NotificationConsumer/Notify";
constexpr const char* k_action_fault = "http://www.w3.org/2005/08/addressing/soap/fault";

// WS-ResourceFramework fault for a subscription reference that names nothing
// (never made, unsubscribed, expired or evicted), so the recorder subscribes again.
std::string resource_unknown_fault() {
    return soap_envelope(
        "<env:Fault xmlns:wsrf-rw=\"http://docs.oasis-open.org/wsrf/rw-2\" "
        "xmlns:wsrf-bf=\"http://docs.oasis-open.org/wsrf/bf-2\"><env:Code><env:Value>env:Sender"
        "</env:Value><env:Subcode><env:Value>wsrf-rw:ResourceUnknownFault</env:Value>"
        "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">The subscription does "
        "not exist (unsubscribed, expired or replaced)</env:Text></env:Reason><env:Detail>"
        "<wsrf-rw:ResourceUnknownFault><wsrf-bf:Timestamp>" +
            utc_now() +
            "</wsrf-bf:Timestamp></wsrf-rw:ResourceUnknownFault></env:Detail></env:Fault>",
        k_action_fault);
}

// WS-BaseNotification fault for a topic filter that selects none of our topics.
std::string topic_not_supported_fault() {
    return soap_envelope(
        "<env:Fault xmlns:wsntw=\"http://docs.oasis-open.org/wsn/bw-2\" "
        "xmlns:wsrf-bf=\"http://docs.oasis-open.org/wsrf/bf-2\"><env:Code><env:Value>env:Sender"
        "</env:Value><env:Subcode><env:Value>wsntw:TopicNotSupportedFault</env:Value>"
        "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">The topic filter "
        "selects no topic of this device</env:Text></env:Reason><env:Detail>"
        "<wsnt:TopicNotSupportedFault><wsrf-bf:Timestamp>" +
            utc_now() +
            "</wsrf-bf:Timestamp></wsnt:TopicNotSupportedFault></env:Detail></env:Fault>",
        k_action_fault);
}

bool wait_change(OnvifContext& ctx, uint64_t seen, int timeout_ms) {
    return ctx.events_wait ? ctx.events_wait(seen, timeout_ms)
                           : motion_wait_change(seen, timeout_ms);
}

// Counts one waiting long poll of a peer while it lives; refused (false) when
// the peer already has its share waiting.
class WaitingPull {
  public:
    WaitingPull(OnvifContext& ctx, std::string peer) : ctx_(ctx), peer_(std::move(peer)) {
        std::lock_guard<std::mutex> lock(ctx_.subscriptions_lock);
        uint32_t& n = ctx_.waiting_pulls[peer_];
        held_ = n < k_max_waiting_pulls_per_peer;
        if (held_) ++n;
    }
    ~WaitingPull() {
        if (!held_) return;
        std::lock_guard<std::mutex> lock(ctx_.subscriptions_lock);
        auto it = ctx_.waiting_pulls.find(peer_);
        if (it != ctx_.waiting_pulls.end() && --it->second == 0) ctx_.waiting_pulls.erase(it);
    }
    bool held() const { return held_; }

  private:
    OnvifContext& ctx_;
    std::string peer_;
    bool held_ = false;
};

bool is_motion_of(const MotionStatus& st) {
    return st.enabled && st.active;
}

// Caller holds subscriptions_lock. Dead subscriptions go first; then, while
// the table is full, the one that would expire first makes room: among the
// requesting address's own when it holds half the table or more, so that one
// client cannot push the recorders' subscriptions out.
void make_room(OnvifContext& ctx, uint64_t now, const std::string& peer) {
    auto& subs = ctx.subscriptions;
    for (auto it = subs.begin(); it != subs.end();) {
        if (it->second.expiry < now) {
            ctx.push_locks.erase(it->first);
            it = subs.erase(it);
        } else {
            ++it;
        }
    }
    while (subs.size() >= k_max_subscriptions) {
        size_t own = 0;
        for (const auto& [id, sub] : subs) own += sub.peer == peer;
        const bool from_own = own >= k_max_subscriptions / 2;
        auto earliest = subs.end();
        for (auto it = subs.begin(); it != subs.end(); ++it)
            if ((!from_own || it->second.peer == peer) &&
                (earliest == subs.end() || it->second.expiry < earliest->second.expiry))
                earliest = it;
        ctx.push_locks.erase(earliest->first);
        subs.erase(earliest);
    }
}

// Caller holds subscriptions_lock.
void report_subscribers(OnvifContext& ctx, uint64_t now) {
    int32_t live = 0, push = 0;
    for (const auto& [id, sub] : ctx.subscriptions) {
        if (sub.expiry <= now) continue;
        ++live;
        if (sub.push) ++push;
    }
    motion_note_subscribers(live, push);
}

std::shared_ptr<std::mutex> push_lock_of(OnvifContext& ctx, const std::string& id) {
    std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
    auto& slot = ctx.push_locks[id];
    if (!slot) slot = std::make_shared<std::mutex>();
    return slot;
}

std::string address_text(const std::string& id) {
    return "<wsa:Address>http://{IP}:{ONVIFPORT}/onvif/event_service?sub=" + id + "</wsa:Address>";
}

std::string create_subscription(OnvifContext& ctx, const std::string& body, bool subscribe) {
    const int lifetime = subscription_lifetime(xml_text(body, "InitialTerminationTime"));
    const uint32_t topics = topic_filter(body);
    if (topics == 0) {
        engine_vlog("ONVIF: subscription refused: its topic filter selects no topic\n");
        return topic_not_supported_fault();
    }
    std::string consumer;
    if (subscribe) {
        const size_t ref = body.find("ConsumerReference");
        if (ref != std::string::npos) {
            std::string address = xml_text(std::string_view(body).substr(ref), "Address");
            if (address.rfind("http://", 0) == 0 && address.find("{IP}") == std::string::npos)
                consumer = std::move(address);
        }
    }
    const std::string peer = onvif_current_peer();
    std::string id;
    {
        std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
        const uint64_t now = tick_ms();
        make_room(ctx, now, peer);
        // References are random, so no one can pull from, renew or end a
        // subscription of another recorder by counting.
        do id = random_hex(16);
        while (ctx.subscriptions.count(id));
        EventSubscription& sub = ctx.subscriptions[id];
        sub = EventSubscription{};
        sub.expiry = now + uint64_t(lifetime) * 1000;
        sub.lifetime_s = static_cast<uint32_t>(lifetime);
        sub.topics = topics;
        sub.consumer_address = consumer;
        sub.peer = peer;
        sub.push = !consumer.empty();
        report_subscribers(ctx, now);
    }
    engine_log("ONVIF: recorder %s subscribed to events (%s)\n", peer.c_str(),
               consumer.empty() ? "pull" : "push");

    if (!consumer.empty()) {
        auto lock = push_lock_of(ctx, id);
        std::thread([&ctx, id, lock] {
            sleep_ms(k_initial_push_delay_ms);
            std::lock_guard<std::mutex> push_guard(*lock);
            EventSubscription copy;
            {
                std::lock_guard<std::mutex> guard(ctx.subscriptions_lock);
                auto it = ctx.subscriptions.find(id);
                if (it == ctx.subscriptions.end()) return;  // unsubscribed meanwhile
                copy = it->second;
            }
            push_notify(ctx, id, copy, is_motion_of(motion_status()), "Initialized");
        }).detach();
    }

    const char* tag =
        subscribe ? "wsnt:SubscribeResponse" : "tev:CreatePullPointSubscriptionResponse";
    const char* ref = subscribe ? "wsnt:SubscriptionReference" : "tev:SubscriptionReference";
    std::string out = std::string("<") + tag + "><" + ref + ">" + address_text(id) + "</" + ref +
                      "><wsnt:CurrentTime>" + utc_now() +
                      "</wsnt:CurrentTime><wsnt:TerminationTime>" + utc_in(lifetime) +
                      "</wsnt:TerminationTime></" + tag + ">";
    return soap_envelope(out, subscribe ? k_action_subscribe : k_action_create);
}

std::string pull_messages(OnvifContext& ctx, const std::string& target, const std::string& body) {
    int wait_s = duration_seconds(xml_text(body, "Timeout"));
    if (wait_s < 0) wait_s = 5;
    if (wait_s > 30) wait_s = 30;
    const std::string id = subscription_id(target);

    EventSubscription sub;
    {
        std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
        const uint64_t now = tick_ms();
        auto it = ctx.subscriptions.find(id);
        // A reference that names nothing (ended, expired, evicted or never
        // made) is refused rather than silently made anew: the recorder must
        // learn that it missed changes and subscribe again.
        if (it == ctx.subscriptions.end() || it->second.expiry <= now)
            return resource_unknown_fault();
        it->second.expiry = now + uint64_t(it->second.lifetime_s) * 1000;
        sub = it->second;
        report_subscribers(ctx, now);
        motion_note_pull();
    }

    std::string messages;
    MotionStatus st;
    bool answered = true;
    if (!sub.initialized) {
        st = motion_status();
        messages = notification_messages(is_motion_of(st), "Initialized", "", sub.topics);
    } else {
        WaitingPull waiting(ctx, onvif_current_peer());
        if (wait_change(ctx, sub.last_change, waiting.held() ? wait_s * 1000 : 0)) {
            st = motion_status();
            messages = notification_messages(is_motion_of(st), "Changed", "", sub.topics);
        } else {
            answered = false;
        }
    }
    if (answered) {
        if (xml_text(body, "MessageLimit") == "1") messages = first_notification(messages);
        std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
        auto it = ctx.subscriptions.find(id);
        if (it != ctx.subscriptions.end()) {
            it->second.initialized = true;
            it->second.last_change = st.change_counter;
        }
    }
    return soap_envelope("<tev:PullMessagesResponse><tev:CurrentTime>" + utc_now() +
                             "</tev:CurrentTime><tev:TerminationTime>" +
                             utc_in(static_cast<int>(sub.lifetime_s)) + "</tev:TerminationTime>" +
                             messages + "</tev:PullMessagesResponse>",
                         k_action_pull);
}

std::string renew(OnvifContext& ctx, const std::string& target, const std::string& body) {
    const int lifetime = subscription_lifetime(xml_text(body, "TerminationTime"));
    {
        const std::string id = subscription_id(target);
        std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
        const uint64_t now = tick_ms();
        auto it = ctx.subscriptions.find(id);
        if (it == ctx.subscriptions.end() || it->second.expiry <= now)
            return resource_unknown_fault();
        it->second.expiry = now + uint64_t(lifetime) * 1000;
        it->second.lifetime_s = static_cast<uint32_t>(lifetime);
    }
    return soap_envelope("<wsnt:RenewResponse><wsnt:TerminationTime>" + utc_in(lifetime) +
                             "</wsnt:TerminationTime><wsnt:CurrentTime>" + utc_now() +
                             "</wsnt:CurrentTime></wsnt:RenewResponse>",
                         k_action_renew);
}

std::string unsubscribe(OnvifContext& ctx, const std::string& target) {
    if (target.find("sub=") != std::string::npos) {
        const std::string id = subscription_id(target);
        std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
        if (ctx.subscriptions.erase(id)) {
            ctx.push_locks.erase(id);
            report_subscribers(ctx, tick_ms());
        }
    }
    return soap_envelope("<wsnt:UnsubscribeResponse/>", k_action_unsubscribe);
}

}  // namespace

std::optional<std::string> events_handle(OnvifContext& ctx, const std::string& request_target,
                                         const std::string& body) {
    switch (events_action(body)) {
        case EventsAction::create_pull_point:
            return create_subscription(ctx, body, false);
        case EventsAction::subscribe:
            return create_subscription(ctx, body, true);
        case EventsAction::pull_messages:
            return pull_messages(ctx, request_target, body);
        case EventsAction::renew:
            return renew(ctx, request_target, body);
        case EventsAction::unsubscribe:
            return unsubscribe(ctx, request_target);
        case EventsAction::none:
            break;
    }
    return std::nullopt;
}

void push_notify(OnvifContext& ctx, const std::string& id, const EventSubscription& sub,
                 bool is_motion, const std::string& operation) {
    if (sub.consumer_address.empty()) return;
    const std::string port = std::to_string(ctx.onvif_port);
    const std::string address =
        "http://" + ctx.address + ":" + port + "/onvif/event_service?sub=" + id;
    std::string envelope = soap_envelope(
        "<wsnt:Notify>" + notification_messages(is_motion, operation, address, sub.topics) +
            "</wsnt:Notify>",
        k_action_notify);
    replace_all(envelope, "{IP}", ctx.address);
    replace_all(envelope, "{ONVIFPORT}", port);

    const bool ok = ctx.events_post
                        ? ctx.events_post(sub.consumer_address, envelope, k_push_timeout_ms)
                        : http_post_notify(sub.consumer_address, envelope, k_push_timeout_ms);

    bool changed = false;
    std::string peer = sub.peer;
    {
        std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
        auto it = ctx.subscriptions.find(id);
        if (it == ctx.subscriptions.end()) return;
        const uint32_t state = ok ? 1 : 2;
        changed = it->second.push_state != state;
        it->second.push_state = state;
        peer = it->second.peer;
        const uint64_t now = tick_ms();
        uint32_t delivered = 0, failed = 0;
        for (const auto& [sid, s] : ctx.subscriptions) {
            if (!s.push || s.expiry <= now) continue;
            if (s.push_state == 1) ++delivered;
            if (s.push_state == 2) ++failed;
        }
        motion_note_push(delivered, failed);
    }
    if (changed)
        engine_log("ONVIF: event push to recorder %s %s\n", peer.c_str(),
                   ok ? "OK" : "FAILED (recorder unreachable or rejected)");
}

void event_watcher(OnvifContext& ctx) {
    uint64_t seen = motion_status().change_counter;
    for (;;) {
        while (!motion_wait_change(seen, 1000)) {
        }
        const MotionStatus st = motion_status();
        const bool is_motion = is_motion_of(st);
        std::vector<std::pair<std::string, EventSubscription>> targets;
        {
            std::lock_guard<std::mutex> lock(ctx.subscriptions_lock);
            const uint64_t now = tick_ms();
            for (const auto& [id, sub] : ctx.subscriptions)
                if (sub.push && sub.expiry > now) targets.emplace_back(id, sub);
        }
        for (auto& [id, sub] : targets) {
            auto lock = push_lock_of(ctx, id);
            std::thread([&ctx, id = id, sub = sub, is_motion, lock] {
                std::lock_guard<std::mutex> push_guard(*lock);
                push_notify(ctx, id, sub, is_motion, "Changed");
            }).detach();
        }
        seen = st.change_counter;
    }
}
