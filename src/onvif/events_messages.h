// Text pieces of the ONVIF events service (ONVIF Core, WS-BaseNotification):
// the ISO 8601 duration reader, UTC times, the two notification messages that
// carry the motion state, and the recognition of an events request. Pure
// functions over text, no locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class EventsAction { none, create_pull_point, subscribe, pull_messages, renew, unsubscribe };

// Seconds of an ISO 8601 duration ("PT30S", "P1DT2H", "PT0.5S" -> 1);
// -1 for empty text, absolute times or text without any designator.
int duration_seconds(std::string_view text);
// Subscription lifetime in seconds from a duration text: absent or below 1
// gives 600, above 3600 gives 3600.
int subscription_lifetime(std::string_view text);

// "%Y-%m-%dT%H:%M:%SZ" of a Unix time in seconds.
std::string utc_text(int64_t unix_seconds);
std::string utc_now();
std::string utc_in(int seconds);

// Which events action a SOAP body asks for: the action name followed by '>',
// ' ' or '/' (case-sensitive, so "Unsubscribe" is not "Subscribe").
EventsAction events_action(std::string_view body);
// Subscription id from a request target ("...?sub=12&x" -> "12"); "0" when the
// target names none.
std::string subscription_id(std::string_view target);

// Topic masks: which of the two messages a subscriber receives.
constexpr uint32_t k_topic_motion = 1;  // tns1:RuleEngine/CellMotionDetector/Motion
constexpr uint32_t k_topic_alarm = 2;   // tns1:VideoSource/MotionAlarm
constexpr uint32_t k_all_topics = k_topic_motion | k_topic_alarm;

// The topics a subscription request's wsnt:TopicExpression selects (Concrete
// dialect; "topic//." adds the topics below it; "|" joins expressions). No
// filter selects every topic; 0 means the filter names no topic of ours.
uint32_t topic_filter(std::string_view body);

// The RuleEngine/CellMotionDetector/Motion message followed by the
// VideoSource/MotionAlarm message, each when `topics` selects it; the
// subscription reference is included when address is not empty.
std::string notification_messages(bool is_motion, std::string_view operation,
                                  std::string_view address, uint32_t topics = k_all_topics);
// Keeps the text up to and including the first "</wsnt:NotificationMessage>".
std::string first_notification(const std::string& messages);
