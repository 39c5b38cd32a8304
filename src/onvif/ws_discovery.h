// WS-Discovery (the 2005/04 draft that ONVIF uses): answers a matching Probe
// multicast to 239.255.255.250:3702 with a unicast ProbeMatches. Hello, Bye
// and Resolve are never sent. The matcher and its small XML reader are pure
// functions; the thread owns one UDP socket and nothing else.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "onvif/onvif_context.h"

struct XmlLookup {
    enum Result { found, absent, malformed } result = absent;
    std::string text;  // inner text when found
    std::string ns;    // namespace URI of the element when found ("" if undeclared)
};
// First element with this local name (any prefix). A start tag without '>' or
// without its end tag is malformed.
XmlLookup element_text(std::string_view message, std::string_view local_name);
// Every xmlns declaration of the message: prefix -> URI ("" for the default
// namespace); the first declaration of a prefix wins.
std::map<std::string, std::string> namespace_map(std::string_view message);

bool is_probe(std::string_view message);
bool probe_matches(std::string_view message, const std::vector<std::string>& scope_list);

// A SOAP envelope (1.2 or 1.1) whose Body holds a Probe of the WS-Discovery
// namespace, with a MessageID of at most k_max_message_id bytes.
constexpr size_t k_max_message_id = 256;
bool well_formed_probe(std::string_view message);

// The ProbeMatches answer to a probe (uses the context's identity; copies the
// name fields under its lock). The probe's MessageID comes back escaped.
std::string probe_matches_answer(OnvifContext& ctx, std::string_view probe);

// The answer to one datagram, or "" for none: a well-formed probe that matches
// the scope list, whose answer is at most three times its own size (so a
// forged source address gains an attacker little).
std::string discovery_answer(OnvifContext& ctx, std::string_view message,
                             const std::vector<std::string>& scope_list);

// Bounds the answers so the camera cannot be used as a reflection amplifier
// against a forged source address: at most per_source answers a second to one
// address and total answers a second in all.
class DiscoveryRateLimiter {
  public:
    explicit DiscoveryRateLimiter(uint32_t per_source = 10, uint32_t total = 100)
        : per_source_(per_source), total_(total) {}
    bool allow(const std::string& source, uint64_t now_ms);

  private:
    uint32_t per_source_, total_;
    uint64_t window_start_ = 0;
    bool started_ = false;
    uint32_t total_count_ = 0;
    std::map<std::string, uint32_t> counts_;  // at most `total` entries per window
};

// Thread function; runs for the life of the process (ends after a bind failure).
void discovery_thread(OnvifContext& ctx);
