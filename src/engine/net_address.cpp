// Choice of the advertised IPv4 address over a list of adapters.
#include "engine/net_address.h"

#include <algorithm>
#include <cctype>

namespace {

// Matched anywhere in the lower-cased "description name" text.
const char* const k_virtual_keywords[] = {
    "virtual",    "vmware",  "virtualbox", "vbox",      "hyper-v",   "loopback",
    "pseudo",     "tap",     "tunnel",     "bluetooth", "vpn",       "warp",
    "cloudflare", "radmin",  "hamachi",    "zerotier",  "tailscale", "wireguard",
    "wintun",     "openvpn", "nordlynx",   "proton",    "softether"};

bool is_private_ip(uint32_t ip) {
    return (ip >> 24) == 10 || (ip >> 20) == ((172u << 4) | 1) || (ip >> 16) == ((192u << 8) | 168);
}

uint32_t prefix_mask(int len) {
    return len >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> len);
}

int score_of(const AddressCandidate& c) {
    return (c.is_wired_or_wifi ? 4 : 0) + (c.has_gateway ? 2 : 0) + (c.is_private ? 1 : 0);
}

}  // namespace

std::string ipv4_text(uint32_t ip) {
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 255) + "." +
           std::to_string((ip >> 8) & 255) + "." + std::to_string(ip & 255);
}

bool is_virtual_adapter(const AdapterInfo& a) {
    if (a.tunnel || a.no_device) return true;
    std::string text = a.description + " " + a.name;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* k : k_virtual_keywords)
        if (text.find(k) != std::string::npos) return true;
    return false;
}

std::string choose_address(const std::vector<AdapterInfo>& adapters, std::string* log_out,
                           std::vector<AddressCandidate>* candidates_out) {
    std::vector<AddressCandidate> cands;
    int best = -1, best_score = -1;
    for (const AdapterInfo& a : adapters) {
        if (!a.up || a.loopback) continue;
        const bool virt = is_virtual_adapter(a);
        std::vector<AdapterAddress> usable;
        for (const AdapterAddress& ad : a.addresses) {
            if ((ad.ip >> 24) == 127 || (ad.ip >> 16) == ((169u << 8) | 254)) continue;
            usable.push_back(ad);
        }
        if (usable.empty()) continue;
        size_t preferred = 0;
        if (a.has_gateway && a.gateway != 0) {
            for (size_t i = 0; i < usable.size(); ++i) {
                const int len = usable[i].prefix_len;
                if (len < 1 || len > 32) continue;
                const uint32_t m = prefix_mask(len);
                if ((usable[i].ip & m) == (a.gateway & m)) {
                    preferred = i;
                    break;
                }
            }
        }
        const size_t first = cands.size();
        for (const AdapterAddress& ad : usable) {
            AddressCandidate c;
            c.address = ipv4_text(ad.ip);
            c.adapter = a.name.empty() ? a.description : a.name;
            c.is_virtual = virt;
            c.has_gateway = a.has_gateway;
            c.is_wired_or_wifi = a.wired_or_wifi;
            c.is_private = is_private_ip(ad.ip);
            cands.push_back(c);
        }
        if (!virt) {
            const int idx = static_cast<int>(first + preferred);
            const int s = score_of(cands[idx]);
            if (s > best_score) {
                best_score = s;
                best = idx;
            }
        }
    }
    if (best < 0) {
        for (size_t i = 0; i < cands.size(); ++i) {
            const int s = score_of(cands[i]);
            if (s > best_score) {
                best_score = s;
                best = static_cast<int>(i);
            }
        }
    }
    std::string log;
    std::string chosen = "127.0.0.1";
    if (best >= 0) {
        cands[best].picked = true;
        chosen = cands[best].address;
        for (const AddressCandidate& c : cands) {
            log += "  net: " + c.address + " (" + c.adapter + ") ";
            log += c.picked       ? "-> PICKED"
                   : c.is_virtual ? "-> skipped (vpn/virtual)"
                                  : "-> candidate";
            log += c.has_gateway ? " [gw]" : " [no-gw]";
            log += c.is_private ? "[private]" : "[public-range]";
            log += "\n";
        }
    } else {
        log = "  net: no usable adapters - falling back to 127.0.0.1\n";
    }
    if (log_out) *log_out = log;
    if (candidates_out) *candidates_out = cands;
    return chosen;
}

std::string choose_address(std::string* log_out) {
    return choose_address(enumerate_adapters(), log_out);
}
