// Encoder output structure (with the real OpenH264 library), parameter-set
// extraction and the paused picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "video/h264_encoder.h"
#include "video/paused_picture.h"

namespace {

// NAL unit types of an Annex B access unit, in order.
std::vector<int> nal_types(const std::vector<uint8_t>& au) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) types.push_back(au[i += 3] & 0x1F);
    return types;
}

bool has(const std::vector<int>& t, int type) {
    return std::find(t.begin(), t.end(), type) != t.end();
}

// A desktop-like picture: light background, dark "text" strokes, and a block
// that moves with the frame number so that frames differ.
std::vector<uint8_t> desktop(int w, int h, int frame) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            const bool ink = (x / 3 + y / 7) % 5 == 0 && y % 24 < 14;
            const bool block = x >= frame * 8 && x < frame * 8 + 40 && y >= 20 && y < 60;
            p[0] = block ? 200 : ink ? 30 : 235;
            p[1] = block ? 60 : ink ? 30 : 235;
            p[2] = block ? 40 : ink ? 30 : 225;
        }
    return px;
}

}  // namespace

TEST(H264Encoder, IdrFirstAndEveryKeyframeCarriesParameterSets) {
    H264Encoder enc;
    const int fps = 5;
    // Odd source: encodes at 322x182 from a stride of 323 pixels.
    ASSERT_TRUE(enc.open(323, 183, fps, 500));
    EXPECT_EQ(enc.width(), 322);
    EXPECT_EQ(enc.height(), 182);
    int idr_count = 0;
    for (int f = 0; f < 3 * fps + 1; ++f) {
        const auto px = desktop(323, 183, f);
        std::vector<uint8_t> au;
        ASSERT_TRUE(enc.encode(px.data(), 323, f == 7, au)) << f;
        ASSERT_FALSE(au.empty()) << "frame skipping is off, frame " << f;
        const auto t = nal_types(au);
        if (f == 0) {
            ASSERT_GE(t.size(), 3u);
            EXPECT_EQ(t[0], 7);
            EXPECT_EQ(t[1], 8);
            ParameterSets ps;
            ASSERT_TRUE(extract_parameter_sets(au, ps.sps, ps.pps, ps.profile_level_id));
            char want[8];
            std::snprintf(want, sizeof want, "%02X%02X%02X", ps.sps[1], ps.sps[2], ps.sps[3]);
            EXPECT_EQ(ps.profile_level_id, want);
            EXPECT_NE(ps.profile_level_id, "42C020");
        }
        EXPECT_TRUE((f != 0 && f != 7) || has(t, 5)) << "no IDR at frame " << f;
        if (has(t, 5)) {
            ++idr_count;
            EXPECT_TRUE(has(t, 7) && has(t, 8)) << "keyframe without SPS/PPS at frame " << f;
        }
    }
    EXPECT_GE(idr_count, 3);  // frame 0, the forced one, and the periodic ones

    // Misuse fails cleanly instead of reading past the picture.
    std::vector<uint8_t> out;
    const auto narrow = desktop(100, 183, 0);
    EXPECT_FALSE(enc.encode(narrow.data(), 100, false, out));
    EXPECT_FALSE(enc.encode(nullptr, 323, false, out));
    enc.close();
    EXPECT_FALSE(enc.encode(narrow.data(), 323, false, out));
    EXPECT_FALSE(enc.open(1, 1, fps, 500)) << "1x1 rounds down to 0x0";
}

TEST(ExtractParameterSets, StartCodesReplacementAndGarbage) {
    using Bytes = std::vector<uint8_t>;
    const struct {
        Bytes au;
        bool ok;
        Bytes sps, pps;
        std::string plid;
    } table[] = {
        // Mixed 4- and 3-byte start codes; the second SPS replaces the first.
        {{0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1F, 0xAA, 0, 0, 1, 0x68, 0xCE, 0x3C,
          0, 0, 0, 1, 0x67, 0x64, 0x00, 0x28, 0xBB, 0, 0, 1, 0x65, 0x88, 0x84},
         true,
         {0x67, 0x64, 0x00, 0x28, 0xBB},
         {0x68, 0xCE, 0x3C},
         "640028"},
        // No PPS; a too-short SPS leaves the profile-level-id alone.
        {{0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x41, 0x9A}, false, {0x67, 0x42}, {}, "42C020"},
        {{}, false, {}, {}, "42C020"},
        {{0x67, 0x68, 1, 2, 3, 0, 0, 1}, false, {}, {}, "42C020"},  // start code at the very end
    };
    for (const auto& row : table) {
        Bytes sps, pps;
        std::string plid = "42C020";
        EXPECT_EQ(extract_parameter_sets(row.au, sps, pps, plid), row.ok) << row.au.size();
        EXPECT_EQ(sps, row.sps) << row.au.size();
        EXPECT_EQ(pps, row.pps) << row.au.size();
        EXPECT_EQ(plid, row.plid) << row.au.size();
    }
}

TEST(PausedPicture, AnySizeAndItEncodes) {
    EXPECT_TRUE(paint_paused_picture(0, 720).empty());
    EXPECT_TRUE(paint_paused_picture(-5, 5).empty());
    for (auto [w, h] : {std::pair{1280, 720}, std::pair{33, 17}, std::pair{1, 1}})
        EXPECT_EQ(paint_paused_picture(w, h).size(), static_cast<size_t>(w) * h * 4)
            << w << "x" << h;
    const auto px = paint_paused_picture(640, 360);
    EXPECT_LT(px[(358 * 640 + 2) * 4], 0x50);  // the corners are the dark gradient
    H264Encoder enc;
    ASSERT_TRUE(enc.open(640, 360, 2, 256));
    std::vector<uint8_t> au;
    ASSERT_TRUE(enc.encode(px.data(), 640, true, au));
    EXPECT_TRUE(has(nal_types(au), 5));
}
