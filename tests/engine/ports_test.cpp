// Candidate ports, binding with fallback, ports.status and the port warnings.
#include "engine/ports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/net_socket.h"

namespace {

// The listed ports followed by from..to.
std::vector<int> ports(std::vector<int> v, int from, int to) {
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

class PortsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_port_slots_for_tests();
        reset_config_warnings_for_tests();
    }
    void set(int slot, int req, int act, int state) {
        port_slot(slot).requested = req;
        port_slot(slot).actual = act;
        port_slot(slot).state = state;
    }
};

}  // namespace

TEST_F(PortsTest, CandidateLists) {
    EXPECT_EQ(candidate_ports(554), ports({554, 8554, 10554, 20554, 30554}, 555, 574));
    EXPECT_EQ(candidate_ports(8000), ports({8000, 18000, 28000, 38000}, 8001, 8020));
    EXPECT_EQ(candidate_ports(60000), ports({}, 60000, 60020));
    EXPECT_EQ(candidate_ports(65530), ports({}, 65530, 65535));
    EXPECT_EQ(candidate_ports(40000), ports({40000, 50000, 60000}, 40001, 40020));
    // 8554 requested: no duplicate of 8554.
    EXPECT_EQ(candidate_ports(8554), ports({8554, 18554, 28554, 38554}, 8555, 8574));
}

TEST_F(PortsTest, BusyPortMovesAndNamesItsHolder) {
    socket_t holder = tcp_listen(0, 8, true);
    ASSERT_NE(holder, k_invalid_socket);
    const int busy = socket_local_port(holder);
    int actual = -1;
    socket_t s = bind_with_fallback(busy, &actual, 3, 5);
    ASSERT_NE(s, k_invalid_socket);
    const auto cands = candidate_ports(busy);
    EXPECT_NE(actual, busy);
    EXPECT_NE(std::find(cands.begin(), cands.end(), actual), cands.end());
    EXPECT_EQ(socket_local_port(s), actual);
    EXPECT_EQ(port_owner(busy), lookup_port_owner(busy));  // this test process
    EXPECT_FALSE(port_owner(busy).empty());
    net_close(s);
    net_close(holder);
    EXPECT_EQ(lookup_port_owner(busy), "");
}

// A port held by this camera's own earlier server moves at once and the
// warning names that server; one held by another program is announced at the
// first failed attempt with its holder, then waited for.
TEST_F(PortsTest, OwnServerPortMovesAtOnceForeignPortIsAnnounced) {
    socket_t foreign = tcp_listen(0, 8, true);
    ASSERT_NE(foreign, k_invalid_socket);
    const int foreign_port = socket_local_port(foreign);
    int rtsp_port = 0;
    socket_t rtsp = bind_slot(k_slot_rtsp, foreign_port + 1, &rtsp_port, 1, 1);
    ASSERT_NE(rtsp, k_invalid_socket);
    struct Case {
        int slot, requested, attempts;
        const char* says;    // in the warning
        const char* logged;  // in the log before the move; nullptr: nothing
        double max_seconds;
    } const cases[] = {
        {k_slot_onvif, rtsp_port, 125, "is already used by this camera's RTSP server", nullptr,
         5.0},  // waiting on itself took 125 x 120 ms
        {k_slot_web, foreign_port, 3, "is used by another program (engine_tests)",
         ", held by engine_tests - waiting up to 0 s for it, then moving to a fallback port", 30},
    };
    for (const Case& c : cases) {
        LogRing::reset_for_tests();
        const auto t0 = std::chrono::steady_clock::now();
        int port = 0;
        socket_t s = bind_slot(c.slot, c.requested, &port, c.attempts, 5);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
        ASSERT_NE(s, k_invalid_socket);
        EXPECT_NE(port, c.requested);
        EXPECT_TRUE(port_slot(c.slot).moved());
        EXPECT_LT(took.count(), c.max_seconds);
        const std::string w = port_warnings(false);
        EXPECT_NE(w.find(c.says), std::string::npos) << w;
        const std::string log = LogRing::joined();
        if (c.logged)
            EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        else
            EXPECT_EQ(log.find("is busy"), std::string::npos) << log;
        net_close(s);
    }
    EXPECT_EQ(port_warnings(false).find("another program (engine_tests)"),
              port_warnings(false).rfind("another program"));  // ONVIF's does not blame one
    net_close(rtsp);
    net_close(foreign);
}

TEST_F(PortsTest, StatusFileRoundTripAndTolerantReading) {
    set(k_slot_rtsp, 554, 8554, 1);
    set(k_slot_onvif, 8000, 8000, 1);
    EXPECT_EQ(format_ports_status(),
              "rtsp=554,8554,1\r\nonvif=8000,8000,1\r\nweb=0,0,0\r\nwsd=0,0,0\r\n");
    reset_port_slots_for_tests();
    EXPECT_FALSE(parse_ports_status(""));
    EXPECT_FALSE(parse_ports_status("rtsp=1,2\nweb=1,2,3,4\nfoo=1,2,3\nonvif=a,b,c\n\x01\xff=\n"));
    EXPECT_EQ(port_slot(k_slot_rtsp).requested.load(), 0);
    EXPECT_TRUE(parse_ports_status("garbage\nweb=13030,23030,1\r\nwsd=3702,0,2"));
    EXPECT_EQ(port_slot(k_slot_web).actual.load(), 23030);
    EXPECT_EQ(port_slot(k_slot_wsd).state.load(), 2);
}

// (The moved RTSP port's text is checked end to end with a real holder.)
TEST_F(PortsTest, WarningsForMovedDownAndDiscovery) {
    EXPECT_EQ(port_warnings(false), "");
    set(k_slot_onvif, 18000, 28000, 1);
    set_port_owner(18000, "nginx");
    set(k_slot_web, 13030, 0, 2);
    set(k_slot_wsd, 3702, 0, 2);
    add_config_warning({"cfg warning", "تحذير"});
    EXPECT_EQ(port_warnings(false),
              "cfg warning\n"
              "\u26A0 Port 18000 (ONVIF) is used by another program (nginx), so the service runs "
              "on 28000 for now. It goes back to 18000 by itself when the port is free. If this "
              "keeps happening, choose another port in the Network tab.\n"
              "\u26A0 Web panel service is DOWN: every fallback port was busy (requested 13030)\n"
              "\u26A0 Auto-discovery (WS-Discovery) is off: add the camera manually by IP and port "
              "(everything else works)");
    const std::string ar = port_warnings(true);
    EXPECT_EQ(ar.rfind("تحذير\n", 0), 0u);
    EXPECT_NE(ar.find("(nginx)"), std::string::npos);
    EXPECT_NE(ar.find("لوحة التحكّم"), std::string::npos);

    // Same port as requested, or web panel off: nothing to say.
    reset_port_slots_for_tests();
    reset_config_warnings_for_tests();
    set(k_slot_rtsp, 8554, 8554, 1);
    set(k_slot_onvif, 8000, 8000, 1);
    EXPECT_EQ(port_warnings(true), "");
}
