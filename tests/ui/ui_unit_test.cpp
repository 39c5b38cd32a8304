// Badge rules and picture, the string table's self-test, the firewall check.
#include <cairo.h>
#include <gtest/gtest.h>

#include "engine/ui_strings.h"
#include "ui/firewall_check.h"
#include "ui/stream_badge.h"

TEST(BadgeTest, AlphaFromOpacity) {
    struct Case {
        int opacity, background, text;
    } cases[] = {
        {25, 50, 63},    {100, 200, 255}, {80, 160, 204}, {0, 50, 63},  // clamped up to 25
        {250, 200, 255},                                                // clamped down to 100
    };
    for (const Case& c : cases) {
        const BadgeAlpha a = badge_alpha(c.opacity);
        EXPECT_EQ(a.background, c.background) << c.opacity;
        EXPECT_EQ(a.text, c.text) << c.opacity;
        EXPECT_EQ(a.second, c.text * 3 / 4) << c.opacity;
    }
}

TEST(BadgeTest, PlacedFourteenPixelsInsideTheWorkArea) {
    // A 1920x1080 screen with a 40 px taskbar at the bottom and one of 60 px on the left.
    const WorkArea area{60, 0, 1860, 1040};
    struct Case {
        int corner, x, y;
    } cases[] = {
        {0, 74, 14},
        {1, 1920 - 14 - 200, 14},
        {2, 74, 1040 - 14 - 50},
        {3, 1920 - 14 - 200, 976},
    };
    for (const Case& c : cases) {
        const BadgePoint p = badge_position(area, c.corner, 200, 50);
        EXPECT_EQ(p.x, c.x) << c.corner;
        EXPECT_EQ(p.y, c.y) << c.corner;
    }
}

TEST(BadgeTest, CustomTextGivesOneLine) {
    const BadgeLines def = badge_lines("");
    EXPECT_EQ(def.title, "\u25CF  Screen is being streamed");
    EXPECT_EQ(def.second, "يتم بث الشاشة الآن");
    const BadgeLines custom = badge_lines("Live");
    EXPECT_EQ(custom.title, "\u25CF  Live");
    EXPECT_TRUE(custom.second.empty());

    // The picture: one line is lower than two; every size is wider than its margins.
    BadgeSettings s;
    cairo_surface_t* two = render_badge(s);
    s.text = "Live";
    cairo_surface_t* one = render_badge(s);
    EXPECT_LT(cairo_image_surface_get_height(one), cairo_image_surface_get_height(two));
    EXPECT_GT(cairo_image_surface_get_width(one), 36);
    // The box's alpha at its centre is the background alpha (premultiplied ARGB).
    s.opacity = 25;
    s.text = "";
    cairo_surface_t* faint = render_badge(s);
    const unsigned char* px = cairo_image_surface_get_data(faint);
    const int stride = cairo_image_surface_get_stride(faint);
    const int h = cairo_image_surface_get_height(faint);
    EXPECT_EQ(px[(h - 3) * stride + 4 * 30 + 3], 50);  // below the text, inside the box
    for (cairo_surface_t* x : {one, two, faint}) cairo_surface_destroy(x);
}

TEST(StringsTest, TableAndPlantedFaults) {
    EXPECT_TRUE(check_ui_strings(ui_strings()).empty());
    struct Case {
        std::vector<UiString> table;
        size_t problems;
    } cases[] = {
        {{{"a", "نص", "Text"}}, 0},
        {{{"a", "", "Text"}}, 1},                // missing Arabic
        {{{"a", "نص", ""}}, 1},                  // missing English
        {{{"a", "منفذ RTSP", "RTSP port"}}, 1},  // unmarked Latin
        {{{"a", "منفذ \u200ERTSP\u200E", "RTSP port"}}, 0},
        {{{"a", "المنفذ 8554", "Port 8554"}}, 0},         // digits alone need no marks
        {{{"a", "نص", "Text"}, {"a", "نص", "Text"}}, 1},  // duplicate id
    };
    for (const Case& c : cases) EXPECT_EQ(check_ui_strings(c.table).size(), c.problems);
    EXPECT_EQ(ui_text("apply_restart", false), "Apply & restart");
    EXPECT_EQ(ui_text("no_such_text", true), "no_such_text");
}

TEST(FirewallTest, BlockedPortsAndTheirCommands) {
    const std::vector<int> ports = {8554, 8000, 8080};
    struct Case {
        FirewallRules rules;
        const char* expect;
        const char* absent;
    } cases[] = {
        {{"", "", ""}, "No active firewall", "8554"},
        {{"Status: inactive\n", "", ""}, "No active firewall", "8554"},
        {{"Status: active\n\nTo Action From\n8554/tcp ALLOW Anywhere\n", "", ""},
         "ufw allow 8000/tcp",
         "ufw allow 8554/tcp"},
        {{"",
          "table inet filter {\n chain input {\n  type filter hook input priority 0; policy "
          "drop;\n  tcp dport 8000 accept\n }\n}\n",
          ""},
         "tcp dport 8554 accept",
         "dport 8000 accept\n"},
        {{"", "", "-P INPUT DROP\n-A INPUT -p tcp -m tcp --dport 85540 -j ACCEPT\n"},
         "iptables -I INPUT -p tcp --dport 8554 -j ACCEPT",
         "No active"},
    };
    for (const Case& c : cases) {
        const std::string r = firewall_report_from(c.rules, ports, false);
        EXPECT_NE(r.find(c.expect), std::string::npos) << r;
        EXPECT_EQ(r.find(c.absent), std::string::npos) << r;
    }
}
