// Start-up pieces: positional ports, stream sizes, duplicate ports, banner variants.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Startup, PositionalPorts) {
    EXPECT_EQ(positional_port("554", 8554), 554);
    EXPECT_EQ(positional_port("65535", 1), 65535);
    for (const char* bad : {"0", "65536", "-5", "12a", "", "99999999999999999999", "--background"})
        EXPECT_EQ(positional_port(bad, 8554), 8554) << bad;
}

TEST(Startup, StreamSizes) {
    struct Case {
        int w, h;
        bool sub;
        int sub_w, main_w;
        // screen, main (0/0: full size), sub (0/0: off)
        int sw, sh, mw, mh, subw, subh;
    };
    const Case cases[] = {
        {1920, 1080, true, 640, 0, 1920, 1080, 0, 0, 640, 360},
        {1366, 768, true, 640, 0, 1366, 768, 0, 0, 640, 358},
        {1921, 1081, true, 641, 1280, 1920, 1080, 1280, 720, 640, 360},  // even sizes
        {1920, 1080, true, 640, 1920, 1920, 1080, 0, 0, 640, 360},       // not smaller: full size
        {1920, 1080, true, 640, 7680, 1920, 1080, 0, 0, 640, 360},
        {1920, 1080, false, 640, 0, 1920, 1080, 0, 0, 0, 0},
        {0, 0, true, 640, 1280, 0, 0, 0, 0, 0, 0},     // no display, no division by zero
        {7680, 2, true, 160, 0, 7680, 2, 0, 0, 0, 0},  // sub height 0: sub stream off
    };
    for (const Case& c : cases) {
        const StreamSizes s = compute_stream_sizes(c.w, c.h, c.sub, c.sub_w, c.main_w);
        const int sub_w = s.sub_on ? s.sub_width : 0, sub_h = s.sub_on ? s.sub_height : 0;
        EXPECT_EQ(std::vector<int>(
                      {s.screen_width, s.screen_height, s.main_width, s.main_height, sub_w, sub_h}),
                  std::vector<int>({c.sw, c.sh, c.mw, c.mh, c.subw, c.subh}))
            << c.w << "x" << c.h << " sub " << c.sub_w << " main " << c.main_w;
    }
}

// (ONVIF and web panel on one port is checked end to end.)
TEST(Startup, DuplicatePortWarnings) {
    EXPECT_TRUE(duplicate_port_warnings(8554, 8000, 8000, false).empty());
    const auto w = duplicate_port_warnings(9000, 9000, 9000, true);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].en,
              "\u26A0 Duplicate ports in the config file: RTSP and ONVIF both set to 9000 - one of "
              "them was moved automatically to a free port");
    EXPECT_NE(w[0].ar.find("\u202ARTSP\u202C و \u202AONVIF\u202C"), std::string::npos);
    EXPECT_NE(w[2].ar.find("لوحة التحكّم"), std::string::npos);
}

// The default banner is checked byte for byte end to end; here the lines
// that change with the settings.
TEST(Startup, BannerVariants) {
    StartupValues v;
    v.address = "192.168.1.20";
    v.rtsp_port = 8554;
    v.onvif_port = 8000;
    v.screen_width = 1920;
    v.screen_height = 1080;
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
    v.screen_width = v.screen_height = v.main_width = v.main_height = 0;
    EXPECT_NE(banner_text(v).find("  Video     : no screen @ 10 fps, ~2000 kbps\n  Auth"),
              std::string::npos);
}

// --help, --version and unknown options; the arguments of options are never
// taken for options themselves.
TEST(Startup, CommandLineScan) {
    struct Case {
        std::vector<std::string> args;
        bool help, version;
        std::vector<std::string> unknown;
    } const cases[] = {
        {{"p", "554", "8000", "--background"}, false, false, {}},
        {{"p", "-h"}, true, false, {}},
        {{"p", "--version", "--frobnicate", "-x", "--"}, false, true, {"--frobnicate"}},
        {{"p", "--import-settings", "--help", "--lang", "--version"}, false, false, {}},
        {{"p", "--selftest-strings", "--help"}, true, false, {}},  // FILE is optional
        {{"p", "--selftest-strings", "out.txt", "--Help"}, false, false, {"--Help"}},
        {{"p", "--check-pass"}, false, false, {}},
    };
    for (const Case& c : cases) {
        const CommandLineScan r = scan_command_line(c.args);
        EXPECT_EQ(r.help, c.help) << c.args.back();
        EXPECT_EQ(r.version, c.version) << c.args.back();
        EXPECT_EQ(r.unknown, c.unknown) << c.args.back();
    }
    // One line per option, each option of the scan listed.
    const std::string h = help_text();
    for (const char* o : {"--background", "--check-pass PASSWORD", "--import-settings FILE",
                          "--logon-screen", "--relaunch", "--help, -h", "--version"})
        EXPECT_NE(h.find("\n  " + std::string(o) + " "), std::string::npos) << o;
    EXPECT_EQ(version_text(), "zeb_onvif (Vistrel screen camera) 2.0.5\n");
}
