// The system's IPv4 adapters for the address choice: getifaddrs for addresses
// and flags, /sys/class/net for the link type, /proc/net/route for gateways.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "engine/net_address.h"
#include "engine/paths.h"

namespace {

int link_type(const std::string& ifname) {
    auto t = read_file("/sys/class/net/" + ifname + "/type", 64);
    return t ? std::atoi(t->c_str()) : -1;
}

// Interface -> gateway (host order) of its default route; 0 when the route
// has no gateway (point-to-point).
std::map<std::string, uint32_t> default_gateways() {
    std::map<std::string, uint32_t> out;
    auto text = read_file("/proc/net/route", 16u << 20);
    if (!text) return out;
    size_t pos = text->find('\n');
    while (pos != std::string::npos && pos + 1 < text->size()) {
        size_t nl = text->find('\n', pos + 1);
        std::string line =
            text->substr(pos + 1, nl == std::string::npos ? std::string::npos : nl - pos - 1);
        pos = nl;
        char iface[64] = {};
        unsigned long dest = 0, gw = 0, mask = 0;
        unsigned flags = 0;
        if (std::sscanf(line.c_str(), "%63s %lx %lx %x %*d %*d %*d %lx", iface, &dest, &gw, &flags,
                        &mask) != 5)
            continue;
        if (dest != 0 || mask != 0 || !(flags & 0x1 /* RTF_UP */)) continue;
        if (!out.count(iface)) out[iface] = ntohl(static_cast<uint32_t>(gw));
    }
    return out;
}

int prefix_len(const sockaddr* mask) {
    if (!mask || mask->sa_family != AF_INET) return 0;
    uint32_t m = ntohl(reinterpret_cast<const sockaddr_in*>(mask)->sin_addr.s_addr);
    return __builtin_popcount(m);
}

}  // namespace

std::vector<AdapterInfo> enumerate_adapters() {
    std::vector<AdapterInfo> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    const auto gateways = default_gateways();
    std::map<std::string, size_t> index;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_name) continue;
        const std::string name = i->ifa_name;
        auto it = index.find(name);
        if (it == index.end()) {
            AdapterInfo a;
            a.name = name;
            a.up = (i->ifa_flags & IFF_UP) && (i->ifa_flags & IFF_RUNNING);
            a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
            const std::string sys = "/sys/class/net/" + name;
            const int type = link_type(name);
            a.tunnel = type == 768 || type == 776 || type == 778 || type == 65534;
            a.no_device = !path_exists(sys + "/device");
            a.wired_or_wifi = type == 1;
            auto g = gateways.find(name);
            if (g != gateways.end()) {
                a.has_gateway = true;
                a.gateway = g->second;
            }
            it = index.emplace(name, out.size()).first;
            out.push_back(a);
        }
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        AdapterAddress ad;
        ad.ip = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        ad.prefix_len = prefix_len(i->ifa_netmask);
        out[it->second].addresses.push_back(ad);
    }
    freeifaddrs(list);
    return out;
}
