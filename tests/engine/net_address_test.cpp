// Choice of the advertised address over synthetic adapter lists.
#include "engine/net_address.h"

#include <gtest/gtest.h>

namespace {

uint32_t ip(int a, int b, int c, int d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | uint32_t(d);
}

AdapterInfo adapter(const std::string& name, std::vector<AdapterAddress> addrs, uint32_t gw = 0,
                    bool wired = true) {
    AdapterInfo a;
    a.name = name;
    a.up = true;
    a.wired_or_wifi = wired;
    a.has_gateway = gw != 0;
    a.gateway = gw;
    a.addresses = std::move(addrs);
    return a;
}

}  // namespace

TEST(ChooseAddress, PickedAddressAndLog) {
    AdapterInfo vpn = adapter("tun0", {{ip(10, 8, 0, 2), 24}});
    vpn.tunnel = true;
    AdapterInfo hv = adapter("", {{ip(172, 20, 0, 1), 20}});
    hv.description = "Hyper-V Virtual Ethernet Adapter";
    AdapterInfo down = adapter("eth0", {{ip(192, 168, 0, 2), 24}});
    down.up = false;
    AdapterInfo lo = adapter("lo", {{ip(127, 0, 0, 1), 8}});
    lo.loopback = true;
    const AdapterInfo link_local =
        adapter("eth1", {{ip(169, 254, 3, 4), 16}, {ip(127, 0, 0, 2), 8}});
    const std::string fallback = "  net: no usable adapters - falling back to 127.0.0.1\n";
    struct Case {
        std::vector<AdapterInfo> adapters;
        std::string picked, log;  // log "": not checked
    };
    const Case cases[] = {
        {{vpn, adapter("eth0", {{ip(192, 168, 1, 20), 24}}, ip(192, 168, 1, 1))},
         "192.168.1.20",
         "  net: 10.8.0.2 (tun0) -> skipped (vpn/virtual) [no-gw][private]\n"
         "  net: 192.168.1.20 (eth0) -> PICKED [gw][private]\n"},
        // Only a virtual adapter: still picked, named by its description.
        {{hv},
         "172.20.0.1",
         "  net: 172.20.0.1 (Hyper-V Virtual Ethernet Adapter) -> PICKED [no-gw][private]\n"},
        // The address in the gateway's subnet wins within one adapter.
        {{adapter("eth0", {{ip(10, 1, 1, 5), 24}, {ip(192, 168, 7, 9), 24}}, ip(192, 168, 7, 1))},
         "192.168.7.9",
         "  net: 10.1.1.5 (eth0) -> candidate [gw][private]\n"
         "  net: 192.168.7.9 (eth0) -> PICKED [gw][private]\n"},
        // Wi-Fi, public address and gateway (6) beats Ethernet, private, no gateway (5).
        {{adapter("eth0", {{ip(192, 168, 0, 2), 24}}),
          adapter("wlan0", {{ip(81, 2, 3, 4), 24}}, ip(81, 2, 3, 1))},
         "81.2.3.4",
         ""},
        // Equal scores: the first one stays.
        {{adapter("eth0", {{ip(192, 168, 0, 2), 24}}), adapter("eth1", {{ip(192, 168, 5, 2), 24}})},
         "192.168.0.2",
         ""},
        {{down, lo, link_local}, "127.0.0.1", fallback},
        {{}, "127.0.0.1", fallback},
    };
    for (const Case& c : cases) {
        std::string log;
        EXPECT_EQ(choose_address(c.adapters, &log), c.picked);
        if (!c.log.empty()) {
            EXPECT_EQ(log, c.log);
        }
    }
    EXPECT_TRUE(is_virtual_adapter(hv));
    AdapterInfo bridge = adapter("br0", {{ip(10, 0, 0, 1), 8}});
    bridge.no_device = true;
    EXPECT_TRUE(is_virtual_adapter(bridge));
    EXPECT_TRUE(is_virtual_adapter(adapter("tailscale0", {})));
    EXPECT_FALSE(is_virtual_adapter(adapter("eth0", {})));
}
