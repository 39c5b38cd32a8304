// Whether an active local firewall would block the camera's ports, and what to
// run to open them.
#pragma once

#include <string>
#include <vector>

struct FirewallRules {
    std::string ufw_status;   // "ufw status" output; empty when ufw is absent
    std::string nft_ruleset;  // "nft list ruleset"; empty when unavailable
    std::string iptables;     // "iptables -S"; empty when unavailable
};

// Pure: one line per port that looks blocked, with the command that opens it,
// or the "nothing blocks" text.
std::string firewall_report_from(const FirewallRules& rules, const std::vector<int>& ports,
                                 bool arabic);
// Reads the rules of this machine and reports (runs the tools above).
std::string firewall_report(const std::vector<int>& ports, bool arabic);
