// Plate geometry, the lenient settings reader and the scaler.
#include "video/overlay.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

std::vector<OverlayRect> draw(int W, int H, const OverlaySettings& s) {
    std::vector<uint8_t> px(static_cast<size_t>(W) * H * 4, 0x40);
    draw_overlays(px.data(), W, H, s);
    OverlayRect r[4];
    return std::vector<OverlayRect>(r, r + overlay_rectangles(r, 4));
}

bool overlap(const OverlayRect& a, const OverlayRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

class OverlayTest : public ::testing::Test {
  protected:
    void SetUp() override { reset_overlays_for_tests(); }
};

}  // namespace

TEST_F(OverlayTest, DefaultsOn1080p) {
    // Margin 1080 * 15 / 1000 = 16; font 1080 * 0.026 = 28.08 px, so the plates
    // are trunc(28.08 * 1.9) = 53 high and at least trunc(28.08 * 1.4) = 39 wide.
    const auto d = draw(1920, 1080, OverlaySettings{});
    ASSERT_EQ(d.size(), 2u);
    const OverlayRect& name = d[0];
    const OverlayRect& clock = d[1];
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
        const bool left = pos == 0 || pos == 2, top = pos == 0 || pos == 1;
        OverlaySettings s;
        s.name_pos = pos;
        s.clock_on = false;
        const auto one = draw(W, H, s);
        ASSERT_EQ(one.size(), 1u) << pos;
        EXPECT_EQ(left ? one[0].left : W - one[0].right, m) << pos;
        EXPECT_EQ(top ? one[0].top : H - one[0].bottom, m) << pos;

        // Same corner: the clock steps away from the edge by the name's height + 6.
        s.clock_on = true;
        s.clock_pos = pos;
        const auto both = draw(W, H, s);
        ASSERT_EQ(both.size(), 2u) << pos;
        EXPECT_FALSE(overlap(both[0], both[1])) << pos;
        EXPECT_EQ(top ? both[1].top - both[0].bottom : both[0].top - both[1].bottom, 6) << pos;
        EXPECT_EQ(left ? both[1].left : W - both[1].right, m) << pos;
    }
}

TEST_F(OverlayTest, SmallPicturesAndSwitchedOffPlates) {
    EXPECT_TRUE(draw(63, 480, OverlaySettings{}).empty());
    EXPECT_TRUE(draw(640, 63, OverlaySettings{}).empty());
    // Sizes just at the limit get plates, with the 8-pixel minimum margin.
    const auto at_limit = draw(64, 64, OverlaySettings{});
    ASSERT_FALSE(at_limit.empty());
    EXPECT_EQ(at_limit[0].bottom, 64 - 8);

    // A name far wider than a small picture: the rectangle stays inside it.
    OverlaySettings wide;
    wide.name_text = std::string(90, 'W');
    for (const OverlayRect& r : draw(64, 64, wide)) {
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= 64 && r.bottom <= 64);
    }

    OverlaySettings off;
    off.name_on = off.clock_on = false;
    EXPECT_TRUE(draw(1920, 1080, off).empty()) << "old rectangles must not linger";
    off.name_on = true;
    off.name_text.clear();
    EXPECT_TRUE(draw(1920, 1080, off).empty());
}

TEST_F(OverlayTest, PlateFollowsSizeAndTextEvenInvalidUtf8) {
    OverlaySettings s;
    s.clock_on = false;
    const OverlayRect a = draw(640, 480, s).at(0);
    s.name_size = 2;
    // Latin-1 bytes, not UTF-8: a pango warning here aborts the test (GLib
    // warnings are fatal in these tests, see CMakeLists.txt).
    s.name_text = "A much longer camera name \xE9t\xE9";
    const OverlayRect b = draw(640, 480, s).at(0);
    EXPECT_GT(b.right - b.left, a.right - a.left);
    EXPECT_GT(b.bottom - b.top, a.bottom - a.top);
}

TEST(OverlaySettingsReader, LenientValues) {
    using Map = std::map<std::string, std::string>;
    const struct {
        Map cfg;
        std::function<void(OverlaySettings&)> want;  // change from the defaults
    } table[] = {
        {{}, [](auto&) {}},
        {{{"osd_name", "0"},
          {"osd_name_pos", "0"},
          {"osd_name_color", "4"},
          {"osd_clock_op", "100"}},
         [](auto& s) {
             s.name_on = false, s.name_pos = 0, s.name_color = 4, s.clock_opacity = 100;
         }},
        {{{"osd_clock", "0"}, {"osd_clock_size", "2"}},
         [](auto& s) { s.clock_on = false, s.clock_size = 2; }},
        // Out of range, below 25 %, ten digits, a leading blank: defaults.
        {{{"osd_name_size", "3"},
          {"osd_name_op", "10"},
          {"osd_clock_color", "1234567890"},
          {"osd_clock_pos", "-1"},
          {"osd_clock_size", " 2"}},
         [](auto&) {}},
        // Name text: device_name unless osd_name_text is present and valid.
        {{{"device_name", "Desk 7"}}, [](auto& s) { s.name_text = "Desk 7"; }},
        {{{"device_name", "Desk 7"}, {"osd_name_text", ""}},
         [](auto& s) { s.name_text = "Desk 7"; }},
        {{{"device_name", "Desk 7"}, {"osd_name_text", "كاميرا المكتب"}},
         [](auto& s) { s.name_text = "كاميرا المكتب"; }},
        {{{"device_name", "ok"}, {"osd_name_text", "<b>"}}, [](auto& s) { s.name_text = "ok"; }},
        {{{"device_name", "A&B"}}, [](auto&) {}},
        {{{"device_name", std::string(33, 'x')}}, [](auto&) {}},
    };
    for (const auto& row : table) {
        OverlaySettings want;
        row.want(want);
        EXPECT_EQ(read_overlay_settings(row.cfg), want) << testing::PrintToString(row.cfg);
    }
    EXPECT_FALSE(read_show_cursor(Map{}));
    EXPECT_TRUE(read_show_cursor(Map{{"show_cursor", "1"}}));
    EXPECT_FALSE(read_show_cursor(Map{{"show_cursor", "on"}}));
}

TEST(ScaleNearest, PicksTheFloorSourcePixel) {
    const int sw = 5, sh = 3;  // each source pixel tagged with its column and row
    std::vector<uint8_t> src(sw * sh * 4, 0x77);
    for (int i = 0; i < sw * sh; ++i) src[i * 4] = i % sw, src[i * 4 + 1] = i / sw;
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
