// Plate geometry, the lenient settings reader and the scaler.
#include "video/overlay.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Drawn {
    std::vector<OverlayRect> rects;
};

Drawn draw(int W, int H, const OverlaySettings& s) {
    std::vector<uint8_t> px(static_cast<size_t>(W) * H * 4, 0x40);
    draw_overlays(px.data(), W, H, s);
    OverlayRect r[4];
    int n = overlay_rectangles(r, 4);
    return Drawn{std::vector<OverlayRect>(r, r + n)};
}

bool overlap(const OverlayRect& a, const OverlayRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

class OverlayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_overlays_for_tests();
        static bool once = [] {
            g_log_set_writer_func(count_warnings, nullptr, nullptr);
            return true;
        }();
        (void)once;
        g_warnings = 0;
    }
    // A text-layout warning (for example about invalid UTF-8) fails the test.
    void TearDown() override { EXPECT_EQ(g_warnings, 0); }

    static inline int g_warnings = 0;
    static GLogWriterOutput count_warnings(GLogLevelFlags level, const GLogField* fields, gsize n,
                                           gpointer data) {
        if (level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL)) ++g_warnings;
        return g_log_writer_default(level, fields, n, data);
    }
};

}  // namespace

TEST_F(OverlayTest, DefaultsOn1080p) {
    // Margin 1080 * 15 / 1000 = 16; font 1080 * 0.026 = 28.08 px, so the plates
    // are trunc(28.08 * 1.9) = 53 high and at least trunc(28.08 * 1.4) = 39 wide.
    Drawn d = draw(1920, 1080, OverlaySettings{});
    ASSERT_EQ(d.rects.size(), 2u);
    const OverlayRect& name = d.rects[0];
    const OverlayRect& clock = d.rects[1];
    EXPECT_EQ(name.right, 1920 - 16);
    EXPECT_EQ(name.bottom, 1080 - 16);
    EXPECT_EQ(name.bottom - name.top, 53);
    EXPECT_GT(name.right - name.left, 39 + 40);  // "Vistrel" is wider than 40 px at 28 px
    EXPECT_EQ(clock.right, 1920 - 16);
    EXPECT_EQ(clock.top, 16);
    EXPECT_EQ(clock.bottom - clock.top, 53);
    EXPECT_GT(clock.right - clock.left, name.right - name.left);
}

TEST_F(OverlayTest, EveryCornerAndBothInOneCorner) {
    const int W = 1920, H = 1080, m = 16;
    for (int pos = 0; pos < 4; ++pos) {
        OverlaySettings s;
        s.name_pos = pos;
        s.clock_on = false;
        Drawn d = draw(W, H, s);
        ASSERT_EQ(d.rects.size(), 1u) << pos;
        const OverlayRect& r = d.rects[0];
        EXPECT_EQ(pos == 0 || pos == 2 ? r.left : W - r.right, m) << pos;
        EXPECT_EQ(pos == 0 || pos == 1 ? r.top : H - r.bottom, m) << pos;

        // Same corner: the clock steps away from the edge by the name's height + 6.
        s.clock_on = true;
        s.clock_pos = pos;
        Drawn both = draw(W, H, s);
        ASSERT_EQ(both.rects.size(), 2u) << pos;
        const OverlayRect& name = both.rects[0];
        const OverlayRect& clock = both.rects[1];
        EXPECT_FALSE(overlap(name, clock)) << pos;
        if (pos == 0 || pos == 1) {
            EXPECT_EQ(clock.top, name.bottom + 6) << pos;
        } else {
            EXPECT_EQ(clock.bottom, name.top - 6) << pos;
        }
        EXPECT_EQ(pos == 0 || pos == 2 ? clock.left : W - clock.right, m) << pos;
    }
}

TEST_F(OverlayTest, SmallPicturesAndSwitchedOffPlatesPublishNothing) {
    EXPECT_TRUE(draw(63, 480, OverlaySettings{}).rects.empty());
    EXPECT_TRUE(draw(640, 63, OverlaySettings{}).rects.empty());
    // Sizes just at the limit get plates, with the 8-pixel minimum margin.
    Drawn d = draw(64, 64, OverlaySettings{});
    ASSERT_FALSE(d.rects.empty());
    EXPECT_EQ(d.rects[0].bottom, 64 - 8);

    // A name far wider than a small picture: the rectangle stays inside it.
    OverlaySettings wide;
    wide.name_text = std::string(90, 'W');
    for (const OverlayRect& r : draw(64, 64, wide).rects) {
        EXPECT_GE(r.left, 0);
        EXPECT_GE(r.top, 0);
        EXPECT_LE(r.right, 64);
        EXPECT_LE(r.bottom, 64);
    }

    OverlaySettings off;
    off.name_on = off.clock_on = false;
    draw(1920, 1080, OverlaySettings{});
    EXPECT_TRUE(draw(1920, 1080, off).rects.empty()) << "old rectangles must not linger";

    OverlaySettings empty_name;
    empty_name.name_text.clear();
    empty_name.clock_on = false;
    EXPECT_TRUE(draw(1920, 1080, empty_name).rects.empty());
}

TEST_F(OverlayTest, PlateChangesWithSettingsAndPixelsOutsideStayUntouched) {
    const int W = 640, H = 480;
    OverlaySettings s;
    s.clock_on = false;
    std::vector<uint8_t> px(W * H * 4, 0x40);
    draw_overlays(px.data(), W, H, s);
    OverlayRect a;
    ASSERT_EQ(overlay_rectangles(&a, 1), 1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            bool inside = x >= a.left && x < a.right && y >= a.top && y < a.bottom;
            if (!inside) {
                ASSERT_EQ(px[(y * W + x) * 4], 0x40) << x << "," << y;
            }
        }
    s.name_size = 2;
    s.name_text = "A much longer camera name \xE9t\xE9";  // Latin-1 bytes, not UTF-8
    draw_overlays(px.data(), W, H, s);
    OverlayRect b;
    ASSERT_EQ(overlay_rectangles(&b, 1), 1);
    EXPECT_GT(b.right - b.left, a.right - a.left);
    EXPECT_GT(b.bottom - b.top, a.bottom - a.top);
}

TEST(OverlaySettingsReader, LenientValues) {
    using Map = std::map<std::string, std::string>;
    OverlaySettings d = read_overlay_settings(Map{});
    EXPECT_EQ(d, OverlaySettings{});
    EXPECT_FALSE(read_show_cursor(Map{}));

    OverlaySettings s = read_overlay_settings(Map{{"osd_name", "0"},
                                                  {"osd_name_pos", "0"},
                                                  {"osd_name_op", "10"},  // below 25: default
                                                  {"osd_name_color", "4"},
                                                  {"osd_name_size", "3"},  // out of range
                                                  {"osd_clock", "007"},
                                                  {"osd_clock_pos", "-1"},
                                                  {"osd_clock_op", "100"},
                                                  {"osd_clock_color", "1234567890"},  // 10 digits
                                                  {"osd_clock_size", " 2"},
                                                  {"show_cursor", "1"}});
    EXPECT_FALSE(s.name_on);
    EXPECT_EQ(s.name_pos, 0);
    EXPECT_EQ(s.name_opacity, 70);
    EXPECT_EQ(s.name_color, 4);
    EXPECT_EQ(s.name_size, 1);
    EXPECT_TRUE(s.clock_on);
    EXPECT_EQ(s.clock_pos, 1);
    EXPECT_EQ(s.clock_opacity, 100);
    EXPECT_EQ(s.clock_color, 0);
    EXPECT_EQ(s.clock_size, 1);
    EXPECT_TRUE(read_show_cursor(Map{{"show_cursor", "1"}}));
    EXPECT_FALSE(read_show_cursor(Map{{"show_cursor", "on"}}));

    // Name text: device_name unless osd_name_text is present and valid.
    EXPECT_EQ(read_overlay_settings(Map{{"device_name", "Desk 7"}}).name_text, "Desk 7");
    EXPECT_EQ(
        read_overlay_settings(Map{{"device_name", "Desk 7"}, {"osd_name_text", ""}}).name_text,
        "Desk 7");
    EXPECT_EQ(
        read_overlay_settings(Map{{"device_name", "Desk 7"}, {"osd_name_text", "كاميرا المكتب"}})
            .name_text,
        "كاميرا المكتب");
    EXPECT_EQ(read_overlay_settings(Map{{"device_name", "A&B"}}).name_text, "Vistrel");
    EXPECT_EQ(read_overlay_settings(Map{{"device_name", std::string(33, 'x')}}).name_text,
              "Vistrel");
    EXPECT_EQ(read_overlay_settings(Map{{"device_name", "ok"}, {"osd_name_text", "<b>"}}).name_text,
              "ok");
}

TEST(ScaleNearest, PicksTheFloorSourcePixel) {
    // 5x3 source, each pixel tagged with its column and row.
    const int sw = 5, sh = 3;
    std::vector<uint8_t> src(sw * sh * 4);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            uint8_t* p = &src[(y * sw + x) * 4];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = 0x77;
            p[3] = 0;
        }
    for (auto [dw, dh] : {std::pair{2, 2}, std::pair{5, 3}, std::pair{11, 7}, std::pair{1, 1}}) {
        std::vector<uint8_t> dst(dw * dh * 4, 0xEE);
        scale_nearest(src.data(), sw, sh, dst.data(), dw, dh);
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x) {
                const uint8_t* p = &dst[(y * dw + x) * 4];
                ASSERT_EQ(p[0], x * sw / dw) << dw << "x" << dh;
                ASSERT_EQ(p[1], y * sh / dh) << dw << "x" << dh;
                ASSERT_EQ(p[2], 0x77);
            }
    }
}
