// The firewall check's rules: ufw active with no ALLOW for the port; nftables
// with an input chain whose policy drops and no accept rule naming the port;
// iptables with an INPUT policy of DROP and no ACCEPT for the port.
#include "ui/firewall_check.h"

#include <cctype>
#include <sstream>

#include "engine/ui_strings.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The port as a whole number inside the line (not part of a longer number).
bool has_number(const std::string& line, int port) {
    const std::string p = std::to_string(port);
    for (size_t i = line.find(p); i != std::string::npos; i = line.find(p, i + 1)) {
        const bool left = i == 0 || !isdigit(static_cast<unsigned char>(line[i - 1]));
        const size_t e = i + p.size();
        const bool right = e >= line.size() || !isdigit(static_cast<unsigned char>(line[e]));
        if (left && right) return true;
    }
    return false;
}

bool has(const std::string& line, const char* word) {
    return line.find(word) != std::string::npos;
}

// A line that names the port (after "port" or "dport") and accepts it.
bool accepts(const std::string& rules, int port, const char* accept_word) {
    for (const std::string& l : lines_of(rules))
        if ((has(l, "dport") || has(l, "port")) && has_number(l, port) && has(l, accept_word))
            return true;
    return false;
}

bool ufw_blocks(const std::string& status, int port) {
    if (!has(status, "Status: active")) return false;
    for (const std::string& l : lines_of(status)) {
        const std::string p = std::to_string(port);
        if (l.rfind(p, 0) == 0 &&
            (l.size() == p.size() || !isdigit(static_cast<unsigned char>(l[p.size()]))) &&
            has(l, "ALLOW"))
            return false;
    }
    return true;
}

bool nft_blocks(const std::string& rules, int port) {
    bool drops = false;
    for (const std::string& l : lines_of(rules))
        drops |= has(l, "hook input") && has(l, "policy drop");
    return drops && !accepts(rules, port, "accept");
}

bool iptables_blocks(const std::string& rules, int port) {
    return has(rules, "-P INPUT DROP") && !accepts(rules, port, "ACCEPT");
}

}  // namespace

std::string firewall_report_from(const FirewallRules& r, const std::vector<int>& ports, bool ar) {
    std::string out;
    for (int port : ports) {
        if (port <= 0) continue;
        std::string cmd;
        const std::string p = std::to_string(port);
        if (ufw_blocks(r.ufw_status, port))
            cmd = "ufw allow " + p + "/tcp";
        else if (nft_blocks(r.nft_ruleset, port))
            cmd = "nft add rule inet filter input tcp dport " + p + " accept";
        else if (iptables_blocks(r.iptables, port))
            cmd = "iptables -I INPUT -p tcp --dport " + p + " -j ACCEPT";
        if (cmd.empty()) continue;
        const std::string lrm = ar ? "\u200E" : "";
        out += ui_text("firewall_blocks", ar) + " " + lrm + p + lrm + ". " +
               ui_text("firewall_open", ar) + ": " + lrm + cmd + lrm + "\n";
    }
    if (out.empty()) return ui_text("firewall_none", ar);
    out.pop_back();
    return out;
}
