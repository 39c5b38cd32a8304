// Start-up pieces: positional ports, stream sizes, duplicate ports, banner.
#include "engine/startup.h"

#include <gtest/gtest.h>

TEST(Startup, PositionalPorts) {
    EXPECT_EQ(positional_port("554", 8554), 554);
    EXPECT_EQ(positional_port("65535", 1), 65535);
    for (const char* bad : {"0", "65536", "-5", "12a", "", "99999999999999999999", "--background"})
        EXPECT_EQ(positional_port(bad, 8554), 8554) << bad;
}

TEST(Startup, StreamSizes) {
    StreamSizes s = compute_stream_sizes(1920, 1080, true, 640, 0);
    EXPECT_EQ(s.sub_width, 640);
    EXPECT_EQ(s.sub_height, 360);
    EXPECT_EQ(s.main_width, 0);
    s = compute_stream_sizes(1366, 768, true, 640, 0);
    EXPECT_EQ(s.sub_height, 358);
    s = compute_stream_sizes(1921, 1081, true, 641, 1280);
    EXPECT_EQ(s.screen_width, 1920);
    EXPECT_EQ(s.screen_height, 1080);
    EXPECT_EQ(s.sub_width, 640);
    EXPECT_EQ(s.main_width, 1280);
    EXPECT_EQ(s.main_height, 720);
    EXPECT_EQ(compute_stream_sizes(1920, 1080, true, 640, 1920).main_width, 0);
    EXPECT_EQ(compute_stream_sizes(1920, 1080, true, 640, 7680).main_width, 0);
    EXPECT_FALSE(compute_stream_sizes(1920, 1080, false, 640, 0).sub_on);
    // No display: no sub stream, no division by zero.
    s = compute_stream_sizes(0, 0, true, 640, 1280);
    EXPECT_FALSE(s.sub_on);
    EXPECT_EQ(s.main_width, 0);
    // A very flat screen makes the sub height 0: sub stream off.
    EXPECT_FALSE(compute_stream_sizes(7680, 2, true, 160, 0).sub_on);
}

TEST(Startup, DuplicatePortWarnings) {
    auto w = duplicate_port_warnings(8000, 8000, 8080, true);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].en,
              "\u26A0 Duplicate ports in the config file: RTSP and ONVIF both set to 8000 - one of "
              "them was moved automatically to a free port");
    EXPECT_NE(w[0].ar.find("\u202ARTSP\u202C و \u202AONVIF\u202C"), std::string::npos);
    EXPECT_TRUE(duplicate_port_warnings(8554, 8000, 8000, false).empty());
    w = duplicate_port_warnings(9000, 9000, 9000, true);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_NE(w[2].en.find("ONVIF and Web panel both set to 9000"), std::string::npos);
    EXPECT_NE(w[2].ar.find("لوحة التحكّم"), std::string::npos);
}

TEST(Startup, BannerByteExact) {
    StartupValues v;
    v.address = "192.168.1.20";
    v.address_log = "  net: announce_ip override -> 192.168.1.20\n";
    v.config.announce_ip = "192.168.1.20";
    v.rtsp_port = 8554;
    v.onvif_port = 8000;
    v.web_port = 8080;
    v.screen_width = 1920;
    v.screen_height = 1080;
    v.sub_stream = "screensub";
    v.sub_width = 640;
    v.sub_height = 360;
    EXPECT_EQ(banner_text(v),
              "=== zeb-engine ONVIF screen camera ===\n"
              "  net: announce_ip override -> 192.168.1.20\n"
              "  IP        : 192.168.1.20\n"
              "  ONVIF     : http://192.168.1.20:8000/onvif/device_service\n"
              "  RTSP main : rtsp://192.168.1.20:8554/screenlive\n"
              "  RTSP sub  : rtsp://192.168.1.20:8554/screensub  (640x360)\n"
              "  Web Admin : http://192.168.1.20:8080/\n"
              "  Video     : 1920x1080 @ 10 fps, ~2000 kbps (full screen)\n"
              "  Auth      : OFF (open) (user=admin)\n");
    v.sub_stream.clear();
    v.config.web_admin = false;
    v.config.stream_auth = true;
    v.main_width = 1280;
    v.main_height = 720;
    const std::string b = banner_text(v);
    EXPECT_NE(b.find("  RTSP sub  : disabled (single stream)\n"), std::string::npos);
    EXPECT_EQ(b.find("Web Admin"), std::string::npos);
    EXPECT_NE(b.find("  Video     : 1280x720 @ 10 fps, ~2000 kbps (downscaled)\n"),
              std::string::npos);
    EXPECT_NE(b.find("  Auth      : ON (RTSP Digest + ONVIF WS-Sec) (user=admin)\n"),
              std::string::npos);
}
