// The system's IPv4 adapters for the address choice, from IP Helper's
// GetAdaptersAddresses: type, tunnel type, operational state, gateways and
// on-link prefix lengths.
#include <winsock2.h>
//
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include "engine/net_address.h"
#include "engine/wide_text_win.h"

namespace {

constexpr ULONG k_first_buffer = 15000;
constexpr ULONG k_type_wifi = 71;  // IF_TYPE_IEEE80211

uint32_t host_order(const sockaddr* sa) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
}

}  // namespace

std::vector<AdapterInfo> enumerate_adapters() {
    std::vector<AdapterInfo> out;
    ULONG size = k_first_buffer;
    std::vector<unsigned char> buf;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    // The list can grow between the size query and the call: ask again.
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buf.resize(size);
        rc = GetAdaptersAddresses(AF_INET,
                                  GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                      GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_GATEWAYS,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()),
                                  &size);
    }
    if (rc != NO_ERROR) return out;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
        AdapterInfo info;
        if (a->FriendlyName) info.name = wide_to_utf8(a->FriendlyName);
        if (a->Description) info.description = wide_to_utf8(a->Description);
        info.up = a->OperStatus == IfOperStatusUp;
        info.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        info.tunnel = a->IfType == IF_TYPE_TUNNEL || a->TunnelType != TUNNEL_TYPE_NONE;
        info.wired_or_wifi = a->IfType == IF_TYPE_ETHERNET_CSMACD || a->IfType == k_type_wifi;
        const IP_ADAPTER_GATEWAY_ADDRESS_LH* gw = a->FirstGatewayAddress;
        if (gw && gw->Address.lpSockaddr && gw->Address.lpSockaddr->sa_family == AF_INET) {
            info.has_gateway = true;
            info.gateway = host_order(gw->Address.lpSockaddr);
        }
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr* sa = u->Address.lpSockaddr;
            if (!sa || sa->sa_family != AF_INET) continue;
            AdapterAddress ad;
            ad.ip = host_order(sa);
            ad.prefix_len = u->OnLinkPrefixLength;
            info.addresses.push_back(ad);
        }
        out.push_back(std::move(info));
    }
    return out;
}
