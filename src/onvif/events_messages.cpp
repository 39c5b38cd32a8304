#include "onvif/events_messages.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

constexpr std::string_view k_message_end = "</wsnt:NotificationMessage>";

// Days since 1970-01-01 to a civil date (proleptic Gregorian), after
// H. Hinnant's days_from_civil inverse.
void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = int64_t(yoe) + era * 400 + (*m <= 2 ? 1 : 0);
}

}  // namespace

int duration_seconds(std::string_view text) {
    if (text.empty() || text[0] != 'P') return -1;
    double total = 0;
    bool time_part = false, any = false;
    std::string number;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == 'T') {
            time_part = true;
            number.clear();
        } else if ((c >= '0' && c <= '9') || c == '.') {
            number += c;
        } else {
            const double v = number.empty() ? 0.0 : std::strtod(number.c_str(), nullptr);
            number.clear();
            switch (c) {
                case 'D':
                    total += v * 86400;
                    any = true;
                    break;
                case 'H':
                    total += v * 3600;
                    any = true;
                    break;
                case 'M':
                    total += v * (time_part ? 60 : 2592000);
                    any = true;
                    break;
                case 'S':
                    total += v;
                    any = true;
                    break;
                default:
                    break;  // years, weeks and anything else are ignored
            }
        }
    }
    if (!any) return -1;
    // Huge values would not fit an int; they are lifetimes and waits, which the
    // callers clamp far below this anyway.
    const double rounded = total + 0.999;
    if (!(rounded < double(INT_MAX))) return INT_MAX;
    return int(rounded);
}

int subscription_lifetime(std::string_view text) {
    const int v = duration_seconds(text);
    if (v < 1) return 600;
    return v > 3600 ? 3600 : v;
}

std::string utc_text(int64_t unix_seconds) {
    int64_t days = unix_seconds / 86400;
    int64_t rem = unix_seconds % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    civil_from_days(days, &y, &m, &d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m,
                  d, int(rem / 3600), int(rem / 60 % 60), int(rem % 60));
    return buf;
}

std::string utc_now() {
    return utc_in(0);
}

std::string utc_in(int seconds) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t secs = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    return utc_text(secs + seconds);
}

EventsAction events_action(std::string_view body) {
    static constexpr struct {
        std::string_view name;
        EventsAction action;
    } k_actions[] = {
        {"CreatePullPointSubscription", EventsAction::create_pull_point},
        {"Subscribe", EventsAction::subscribe},
        {"PullMessages", EventsAction::pull_messages},
        {"Renew", EventsAction::renew},
        {"Unsubscribe", EventsAction::unsubscribe},
    };
    for (const auto& a : k_actions) {
        for (size_t p = body.find(a.name); p != std::string_view::npos;
             p = body.find(a.name, p + 1)) {
            const size_t after = p + a.name.size();
            if (after < body.size() &&
                (body[after] == '>' || body[after] == ' ' || body[after] == '/'))
                return a.action;
        }
    }
    return EventsAction::none;
}

std::string subscription_id(std::string_view target) {
    const size_t p = target.find("sub=");
    if (p == std::string_view::npos) return "0";
    const size_t b = p + 4;
    const size_t e = target.find_first_of("&; ", b);
    return std::string(target.substr(b, e == std::string_view::npos ? e : e - b));
}

namespace {

constexpr std::string_view k_topics_ns = "http://www.onvif.org/ver10/topics";

// Topic paths of the messages, bit i of a topic mask selecting k_topics[i].
const std::vector<std::string_view> k_topics[] = {
    {"RuleEngine", "CellMotionDetector", "Motion"},
    {"VideoSource", "MotionAlarm"},
};

std::string_view trim(std::string_view t) {
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    return t;
}

// Topics one expression selects: "a:B/C" exactly that topic, "a:B//." it and
// every topic below it. Prefixes must name the ONVIF topic namespace when the
// request declares them.
uint32_t expression_topics(std::string_view body, std::string_view expr) {
    bool descendants = false;
    if (expr.size() >= 3 && expr.substr(expr.size() - 3) == "//.") {
        descendants = true;
        expr.remove_suffix(3);
    }
    std::vector<std::string_view> path;
    while (!expr.empty()) {
        const size_t slash = expr.find('/');
        std::string_view seg = expr.substr(0, slash);
        const size_t colon = seg.find(':');
        if (colon != std::string_view::npos) {
            const std::string decl = "xmlns:" + std::string(seg.substr(0, colon)) + "=";
            const size_t d = body.find(decl);
            if (d != std::string_view::npos && d + decl.size() < body.size()) {
                const size_t from = d + decl.size() + 1;
                const size_t to = body.find(body[from - 1], from);
                if (to == std::string_view::npos || body.substr(from, to - from) != k_topics_ns)
                    return 0;
            }
            seg.remove_prefix(colon + 1);
        }
        if (seg.empty()) return 0;
        path.push_back(seg);
        if (slash == std::string_view::npos) break;
        expr.remove_prefix(slash + 1);
    }
    if (path.empty()) return 0;
    uint32_t mask = 0;
    for (size_t i = 0; i < std::size(k_topics); ++i) {
        const auto& topic = k_topics[i];
        if (path.size() > topic.size() || (!descendants && path.size() != topic.size())) continue;
        // "*" stands for any one topic level (as recorders write tns1:RuleEngine/*/Motion).
        if (std::equal(path.begin(), path.end(), topic.begin(),
                       [](std::string_view p, std::string_view t) { return p == "*" || p == t; }))
            mask |= 1u << i;
    }
    return mask;
}

}  // namespace

uint32_t topic_filter(std::string_view body) {
    constexpr std::string_view name = "TopicExpression";
    size_t at = body.find(name);
    for (; at != std::string_view::npos; at = body.find(name, at + 1)) {
        const size_t after = at + name.size();
        if (at > 0 && (body[at - 1] == ':' || body[at - 1] == '<') && after < body.size() &&
            std::string_view(" \t\r\n/>").find(body[after]) != std::string_view::npos)
            break;
    }
    if (at == std::string_view::npos) return k_all_topics;
    const size_t gt = body.find('>', at);
    if (gt == std::string_view::npos || body[gt - 1] == '/') return 0;
    const size_t lt = body.find('<', gt);
    std::string_view text = body.substr(gt + 1, lt == std::string_view::npos ? lt : lt - gt - 1);
    uint32_t mask = 0;
    while (true) {
        const size_t bar = text.find('|');
        mask |= expression_topics(body, trim(text.substr(0, bar)));
        if (bar == std::string_view::npos) break;
        text.remove_prefix(bar + 1);
    }
    return mask;
}

std::string notification_messages(bool is_motion, std::string_view operation,
                                  std::string_view address, uint32_t topics) {
    std::string ref;
    if (!address.empty()) {
        ref = "<wsnt:SubscriptionReference><wsa:Address>";
        ref += address;
        ref += "</wsa:Address></wsnt:SubscriptionReference>";
    }
    const std::string time = utc_now();
    const char* value = is_motion ? "true" : "false";
    std::string out;
    out.reserve(1800);
    if (topics & k_topic_motion) {
        out += "<wsnt:NotificationMessage>";
        out += ref;
        out +=
            "<wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet\">"
            "tns1:RuleEngine/CellMotionDetector/Motion</wsnt:Topic><wsnt:Message>"
            "<tt:Message UtcTime=\"";
        out += time;
        out += "\" PropertyOperation=\"";
        out += operation;
        out +=
            "\"><tt:Source><tt:SimpleItem Name=\"VideoSourceConfigurationToken\" "
            "Value=\"vsrccfg0\"/><tt:SimpleItem Name=\"VideoAnalyticsConfigurationToken\" "
            "Value=\"analytics0\"/><tt:SimpleItem Name=\"Rule\" Value=\"ScreenMotion\"/>"
            "</tt:Source><tt:Data><tt:SimpleItem Name=\"IsMotion\" Value=\"";
        out += value;
        out += "\"/></tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>";
    }
    if (!(topics & k_topic_alarm)) return out;
    out += "<wsnt:NotificationMessage>";
    out += ref;
    out +=
        "<wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet\">"
        "tns1:VideoSource/MotionAlarm</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"";
    out += time;
    out += "\" PropertyOperation=\"";
    out += operation;
    out +=
        "\"><tt:Source><tt:SimpleItem Name=\"Source\" Value=\"vsrc0\"/></tt:Source>"
        "<tt:Data><tt:SimpleItem Name=\"State\" Value=\"";
    out += value;
    out += "\"/></tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>";
    return out;
}

std::string first_notification(const std::string& messages) {
    const size_t p = messages.find(k_message_end);
    if (p == std::string::npos) return messages;
    return messages.substr(0, p + k_message_end.size());
}
