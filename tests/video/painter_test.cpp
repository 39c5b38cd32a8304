// The painter's own pieces that the overlay and paused-picture tests do not
// reach: premultiplied fills, PNG to memory and back, bad PNG input.
#include "video/painter.h"

#include <gtest/gtest.h>

#include <string>

TEST(Painter, FillEncodeAndDecodeBack) {
    std::unique_ptr<Canvas> c = Canvas::make(40, 20, PixelLayout::bgra_premul);
    ASSERT_TRUE(c->ok());
    c->fill_rounded_rect(0, 0, 40, 20, 5, {0x336699, 0.5});
    const uint8_t* mid = c->pixels() + (10 * 40 + 20) * 4;
    EXPECT_NEAR(mid[3], 128, 1);
    EXPECT_NEAR(mid[0], 0x99 / 2, 1);  // premultiplied blue
    EXPECT_LT(c->pixels()[3], 40) << "the rounded corner stays nearly clear";

    const std::string png = c->encode_png();
    ASSERT_GT(png.size(), 8u);
    std::unique_ptr<Canvas> back =
        Canvas::decode_png(reinterpret_cast<const uint8_t*>(png.data()), png.size());
    ASSERT_TRUE(back);
    ASSERT_EQ(back->width(), 40);
    ASSERT_EQ(back->height(), 20);
    const uint8_t* b = back->pixels() + (10 * 40 + 20) * 4;
    EXPECT_NEAR(b[3], mid[3], 1);
    EXPECT_NEAR(b[0], mid[0], 2);
}

TEST(Painter, BadInputGivesNoPictureAndNoCrash) {
    const std::string junk = "\x89PNG\r\n\x1a\n truncated";
    EXPECT_FALSE(Canvas::decode_png(reinterpret_cast<const uint8_t*>(junk.data()), junk.size()));
    EXPECT_FALSE(Canvas::decode_png(nullptr, 0));
    std::unique_ptr<Canvas> none = Canvas::make(0, 10, PixelLayout::bgrx);
    EXPECT_FALSE(none->ok());
    none->fill({0xFFFFFF});  // ignored
    none->draw_text("x", 12, false, 0, 0, {0xFFFFFF});
    EXPECT_TRUE(none->encode_png().empty());
    EXPECT_FALSE(Canvas::over(nullptr, 10, 10, PixelLayout::bgrx)->ok());
}

TEST(Painter, TextBoxGrowsWithSizeAndWeight) {
    const TextBox regular = measure_text("Vistrel", 28, false);
    const TextBox bold = measure_text("Vistrel", 28, true);
    const TextBox big = measure_text("Vistrel", 56, false);
    EXPECT_GT(regular.width, 40);
    EXPECT_GT(bold.width, regular.width);
    EXPECT_GT(big.height, regular.height * 1.6);
    EXPECT_EQ(measure_text("", 28, false).width, 0);
}
