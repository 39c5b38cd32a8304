// Reads the local firewall rules with the usual tools (each may be missing).
#include <cstdio>

#include "ui/firewall_check.h"

namespace {

std::string run(const char* command) {
    std::string out;
    FILE* f = popen(command, "r");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (4u << 20)) out.append(buf, n);
    pclose(f);
    return out;
}

}  // namespace

std::string firewall_report(const std::vector<int>& ports, bool arabic) {
    FirewallRules r;
    r.ufw_status = run("ufw status 2>/dev/null");
    r.nft_ruleset = run("nft list ruleset 2>/dev/null");
    r.iptables = run("iptables -S 2>/dev/null");
    return firewall_report_from(r, ports, arabic);
}
