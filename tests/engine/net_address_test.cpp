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

TEST(ChooseAddress, EthernetBeatsVpn) {
    AdapterInfo vpn = adapter("tun0", {{ip(10, 8, 0, 2), 24}});
    vpn.tunnel = true;
    std::string log;
    EXPECT_EQ(choose_address(
                  {vpn, adapter("eth0", {{ip(192, 168, 1, 20), 24}}, ip(192, 168, 1, 1))}, &log),
              "192.168.1.20");
    EXPECT_EQ(log,
              "  net: 10.8.0.2 (tun0) -> skipped (vpn/virtual) [no-gw][private]\n"
              "  net: 192.168.1.20 (eth0) -> PICKED [gw][private]\n");
}

TEST(ChooseAddress, OnlyVirtualIsStillPicked) {
    AdapterInfo hv = adapter("", {{ip(172, 20, 0, 1), 20}}, 0, true);
    hv.description = "Hyper-V Virtual Ethernet Adapter";
    std::string log;
    EXPECT_EQ(choose_address({hv}, &log), "172.20.0.1");
    EXPECT_EQ(log,
              "  net: 172.20.0.1 (Hyper-V Virtual Ethernet Adapter) -> PICKED [no-gw][private]\n");
    EXPECT_TRUE(is_virtual_adapter(hv));
    AdapterInfo br = adapter("br0", {{ip(10, 0, 0, 1), 8}});
    br.no_device = true;
    EXPECT_TRUE(is_virtual_adapter(br));
    EXPECT_TRUE(is_virtual_adapter(adapter("tailscale0", {})));
    EXPECT_FALSE(is_virtual_adapter(adapter("eth0", {})));
}

TEST(ChooseAddress, PreferredAddressIsInTheGatewaySubnet) {
    std::vector<AddressCandidate> c;
    std::string log;
    EXPECT_EQ(choose_address({adapter("eth0", {{ip(10, 1, 1, 5), 24}, {ip(192, 168, 7, 9), 24}},
                                      ip(192, 168, 7, 1))},
                             &log, &c),
              "192.168.7.9");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_FALSE(c[0].picked);
    EXPECT_TRUE(c[1].picked);
    EXPECT_EQ(log,
              "  net: 10.1.1.5 (eth0) -> candidate [gw][private]\n"
              "  net: 192.168.7.9 (eth0) -> PICKED [gw][private]\n");
}

TEST(ChooseAddress, ScoresAndTies) {
    // Wi-Fi with a public address and gateway (6) beats Ethernet private without gateway (5).
    EXPECT_EQ(choose_address({adapter("eth0", {{ip(192, 168, 0, 2), 24}}),
                              adapter("wlan0", {{ip(81, 2, 3, 4), 24}}, ip(81, 2, 3, 1))},
                             nullptr),
              "81.2.3.4");
    // Equal scores: the first one stays.
    EXPECT_EQ(choose_address({adapter("eth0", {{ip(192, 168, 0, 2), 24}}),
                              adapter("eth1", {{ip(192, 168, 5, 2), 24}})},
                             nullptr),
              "192.168.0.2");
}

TEST(ChooseAddress, NothingUsable) {
    AdapterInfo down = adapter("eth0", {{ip(192, 168, 0, 2), 24}});
    down.up = false;
    AdapterInfo lo = adapter("lo", {{ip(127, 0, 0, 1), 8}});
    lo.loopback = true;
    AdapterInfo ll = adapter("eth1", {{ip(169, 254, 3, 4), 16}, {ip(127, 0, 0, 2), 8}});
    std::string log;
    EXPECT_EQ(choose_address({down, lo, ll}, &log), "127.0.0.1");
    EXPECT_EQ(log, "  net: no usable adapters - falling back to 127.0.0.1\n");
    EXPECT_EQ(choose_address({}, &log), "127.0.0.1");
}
