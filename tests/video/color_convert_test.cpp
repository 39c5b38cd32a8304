// The three conversion variants against the formula itself, written out here
// independently of the library's scalar helpers.
#include "video/color_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct I420 {
    std::vector<uint8_t> y, u, v;
};

int trunc_div256(int n) {
    return n >= 0 ? n / 256 : -((-n) / 256);
}
uint8_t clamp_chroma(int q) {
    return q < -128 ? 0 : q > 127 ? 255 : static_cast<uint8_t>(q + 128);
}

I420 formula(const std::vector<uint8_t>& src, int stride, int w, int h) {
    I420 o{std::vector<uint8_t>(w * h), std::vector<uint8_t>(w / 2 * (h / 2)),
           std::vector<uint8_t>(w / 2 * (h / 2))};
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const uint8_t* p = &src[r * stride + c * 4];
            o.y[r * w + c] =
                static_cast<uint8_t>(((25 * p[0] + 129 * p[1] + 66 * p[2] + 128) >> 8) + 16);
        }
    for (int j = 0; j < h / 2; ++j)
        for (int i = 0; i < w / 2; ++i) {
            int s[3] = {0, 0, 0};
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    for (int ch = 0; ch < 3; ++ch)
                        s[ch] += src[(2 * j + dy) * stride + (2 * i + dx) * 4 + ch];
            int b = s[0] >> 2, g = s[1] >> 2, r = s[2] >> 2;
            o.u[j * (w / 2) + i] = clamp_chroma(trunc_div256(112 * b - 74 * g - 38 * r + 128));
            o.v[j * (w / 2) + i] = clamp_chroma(trunc_div256(112 * r - 94 * g - 18 * b + 128));
        }
    return o;
}

I420 run(ConvertFn fn, const std::vector<uint8_t>& src, int stride, int w, int h) {
    // Guard bytes after each plane catch writes past the area.
    I420 o{std::vector<uint8_t>(w * h + 64, 0xAB), std::vector<uint8_t>(w / 2 * (h / 2) + 64, 0xAB),
           std::vector<uint8_t>(w / 2 * (h / 2) + 64, 0xAB)};
    fn(src.data(), stride, w, h, o.y.data(), o.u.data(), o.v.data());
    for (auto* plane : {&o.y, &o.u, &o.v}) {
        for (size_t k = plane->size() - 64; k < plane->size(); ++k)
            EXPECT_EQ((*plane)[k], 0xAB) << "write past plane";
        plane->resize(plane->size() - 64);
    }
    return o;
}

struct Variant {
    const char* name;
    ConvertFn fn;
};

// The plain, SSE2 and AVX2 loops (where the CPU has it) and the run-time choice.
std::vector<Variant> variants() {
    std::vector<Variant> v = {
        {"c", bgrx_to_i420_c}, {"sse2", bgrx_to_i420_sse2}, {"chosen", bgrx_to_i420}};
    if (cpu_has_avx2()) v.push_back({"avx2", bgrx_to_i420_avx2});
    return v;
}

std::vector<uint8_t> random_picture(int stride, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(static_cast<size_t>(stride) * h);
    for (auto& b : px) b = static_cast<uint8_t>(rng());
    return px;
}

}  // namespace

TEST(ColorConvert, AllVariantsMatchFormulaOnRandomPictures) {
    // Odd screen sizes encode at the even size below, read with the screen's stride;
    // widths around the SIMD chunk sizes exercise the scalar tails.
    const std::pair<int, int> sizes[] = {{1365, 767}, {1366, 768}, {64, 2},  {66, 4},
                                         {2, 2},      {30, 6},     {97, 33}, {1920, 1080}};
    for (auto [screen_w, screen_h] : sizes) {
        const int w = screen_w & ~1, h = screen_h & ~1, stride = screen_w * 4;
        const auto src = random_picture(stride, screen_h, static_cast<uint32_t>(w * 31 + h));
        const I420 want = formula(src, stride, w, h);
        for (const Variant& v : variants()) {
            SCOPED_TRACE(std::string(v.name) + " " + std::to_string(screen_w) + "x" +
                         std::to_string(screen_h));
            I420 got = run(v.fn, src, stride, w, h);
            EXPECT_EQ(got.y, want.y);
            EXPECT_EQ(got.u, want.u);
            EXPECT_EQ(got.v, want.v);
        }
    }
}

TEST(ColorConvert, ExtremeColoursAndSaturatedChroma) {
    const int w = 64, h = 4;
    struct Case {
        uint8_t b, g, r;
        uint8_t y, u, v;
    };
    // White and black are the documented anchors; pure blue and red push U and V
    // to their largest magnitudes, and blue gives V from a negative sum that
    // must truncate toward zero (-4462 / 256 -> -17, so 111, not 110).
    for (Case c : {Case{255, 255, 255, 235, 128, 128}, Case{0, 0, 0, 16, 128, 128},
                   Case{255, 0, 0, 41, 240, 111}, Case{0, 0, 255, 82, 91, 240}}) {
        const uint8_t pixel[4] = {c.b, c.g, c.r, 0x5A};  // the fourth byte carries no meaning
        std::vector<uint8_t> src(w * h * 4);
        for (size_t k = 0; k < src.size(); ++k) src[k] = pixel[k % 4];
        for (const Variant& v : variants()) {
            SCOPED_TRACE(v.name);
            I420 got = run(v.fn, src, w * 4, w, h);
            EXPECT_EQ(got.y, std::vector<uint8_t>(w * h, c.y));
            EXPECT_EQ(got.u, std::vector<uint8_t>(w / 2 * h / 2, c.u));
            EXPECT_EQ(got.v, std::vector<uint8_t>(w / 2 * h / 2, c.v));
        }
    }
}
