#include "onvif/events_messages.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

std::string notification_messages(bool is_motion, std::string_view operation,
                                  std::string_view address) {
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
