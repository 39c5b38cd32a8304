// Skip pictures and slice renumbering: the bitstream helpers, and the
// numbering of a stream that mixes the library's pictures, our skip pictures
// and repeated IDR pictures (real OpenH264 library). Whether real decoders
// accept such streams is shown end to end with ffmpeg, GStreamer and mpv.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "video/h264_bitstream.h"
#include "video/h264_encoder.h"

namespace {

TEST(Bitstream, EmulationPreventionRoundTrip) {
    struct Case {
        std::vector<uint8_t> rbsp, nal;
    } cases[] = {
        {{0x41, 0, 0, 0}, {0x41, 0, 0, 3, 0, 3}},  // trailing zero gets a 03 too
        {{0x41, 0, 0, 1, 7}, {0x41, 0, 0, 3, 1, 7}},
        {{0x41, 0, 0, 2, 7}, {0x41, 0, 0, 3, 2, 7}},
        {{0x41, 0, 0, 3, 7}, {0x41, 0, 0, 3, 3, 7}},
        {{0x41, 0, 0, 4, 7}, {0x41, 0, 0, 4, 7}},
        {{0x41, 0, 0, 0, 0, 1}, {0x41, 0, 0, 3, 0, 0, 3, 1}},
        {{0x41, 0, 5, 0, 0, 9}, {0x41, 0, 5, 0, 0, 9}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> nal;
        rbsp_to_nal(c.rbsp, nal);
        EXPECT_EQ(nal, c.nal);
        std::vector<uint8_t> back = nal_to_rbsp(nal.data(), nal.size());
        if (c.rbsp.back() == 0) back.pop_back();  // the escape after a final zero stays
        EXPECT_EQ(back, c.rbsp);
    }
}

TEST(Bitstream, SpsTiming) {
    // OpenH264's SPS for 640x480 (VUI with bitstream restriction, no timing),
    // and the same cut before its VUI.
    const std::vector<uint8_t> with_vui = {0x67, 0x42, 0xC0, 0x16, 0x8C, 0x8D, 0x40,
                                           0x50, 0x1E, 0x90, 0x0F, 0x08, 0x84, 0x6A};
    const std::vector<uint8_t> no_vui = {0x67, 0x42, 0xC0, 0x16, 0x8C,
                                         0x8D, 0x40, 0x50, 0x1E, 0x88};
    auto timed = [](const std::vector<uint8_t>& sps, int fps) {
        std::vector<uint8_t> out;
        EXPECT_TRUE(set_sps_timing(sps.data(), sps.size(), fps, out));
        return out;
    };
    // 15 fps: 1000 / 30000, the restriction kept (as ffmpeg's trace_headers reads it).
    EXPECT_EQ(
        timed(with_vui, 15),
        (std::vector<uint8_t>{0x67, 0x42, 0xC0, 0x16, 0x8C, 0x8D, 0x40, 0x50, 0x1E, 0x90, 0x80,
                              0x00, 0x01, 0xF4, 0x00, 0x00, 0x3A, 0x98, 0x07, 0x84, 0x42, 0x35}));
    for (const auto& sps : {with_vui, no_vui}) {
        for (int fps : {1, 10, 30}) {
            // Timing already there is replaced, and the fields before the VUI stay.
            const std::vector<uint8_t> once = timed(sps, fps);
            EXPECT_EQ(timed(timed(sps, 7), fps), once);
            SpsInfo a, b;
            ASSERT_TRUE(parse_sps(nal_to_rbsp(sps.data(), sps.size()), a));
            ASSERT_TRUE(parse_sps(nal_to_rbsp(once.data(), once.size()), b));
            EXPECT_EQ(std::tie(a.mb_width, a.mb_height, a.log2_max_frame_num, a.log2_max_poc_lsb),
                      std::tie(b.mb_width, b.mb_height, b.log2_max_frame_num, b.log2_max_poc_lsb));
        }
    }
    std::vector<uint8_t> out;
    EXPECT_FALSE(set_sps_timing(with_vui.data(), 5, 10, out));  // cut short
    EXPECT_TRUE(out.empty());
}

// Flat picture with a 16x16 block whose colour is the frame's "content"
// (a small change: the library does not sharpen it afterwards).
std::vector<uint8_t> picture(int w, int h, int content) {
    std::vector<uint8_t> px(size_t(w) * h * 4, 200);
    for (int y = 16; y < 32; ++y)
        for (int x = 32; x < 48; ++x) px[(size_t(y) * w + x) * 4 + 1] = uint8_t(content * 40);
    return px;
}

struct Picture {
    bool idr = false;
    bool params = false;  // SPS and PPS in front
    int frame_num = 0, poc = 0, ref_idc = 0;
};

Picture read_picture(const std::vector<uint8_t>& au, SpsInfo& sps, PpsInfo& pps) {
    Picture p;
    bool have_sps = false;
    for (const NalSpan& n : split_annexb(au.data(), au.size())) {
        std::vector<uint8_t> rbsp = nal_to_rbsp(n.data, n.size);
        const int type = n.data[0] & 0x1F;
        if (type == 7) have_sps = parse_sps(rbsp, sps);
        if (type == 8) p.params = have_sps && parse_pps(rbsp, pps);
        SliceHeaderInfo s;
        if ((type == 1 || type == 5) && parse_slice_header(rbsp, sps, pps, s)) {
            p.idr = s.idr;
            p.frame_num = s.frame_num;
            p.poc = s.poc_lsb;
            p.ref_idc = s.nal_ref_idc;
        }
    }
    return p;
}

// fps 4: a keyframe is due every 4 pictures, at most 2 late. Kinds: I library
// IDR, P library P, S our skip picture, R the last IDR sent again, Q a
// sharpening picture of that IDR sent again.
TEST(DamageEncoding, SkipsReplaysAndRenumberedLibraryPictures) {
    const int w = 160, h = 96;
    H264Encoder enc;
    ASSERT_TRUE(enc.open(w, h, 4, 300));
    struct Step {
        int content;  // new block colour, or -1 when nothing changed
        bool force;
        char kind;
    } steps[] = {
        // clang-format off
        // A first picture is sharpened by three more, and the four are sent
        // again when a keyframe is due.
        {1, true, 'I'}, {-1, false, 'P'}, {-1, false, 'P'}, {-1, false, 'P'},
        {-1, false, 'R'}, {-1, false, 'Q'}, {-1, false, 'Q'}, {-1, false, 'Q'}, {-1, false, 'R'},
        // A change part way through: only a new IDR is safe.
        {2, false, 'I'}, {-1, false, 'S'}, {3, false, 'P'},
        // Due, but coded since the IDR: waits for a change, which comes as the keyframe.
        {-1, false, 'S'}, {-1, false, 'S'}, {4, false, 'I'},
        // Nothing coded since: the IDR alone again.
        {-1, false, 'S'}, {-1, false, 'S'}, {-1, false, 'S'}, {-1, false, 'R'},
        // Forced (a new viewer) although unchanged.
        {-1, true, 'I'}, {5, false, 'P'},
        // Half a period late at most on a still screen, then sharpened.
        {-1, false, 'S'}, {-1, false, 'S'}, {-1, false, 'S'}, {-1, false, 'S'},
        {-1, false, 'I'}, {-1, false, 'P'}, {-1, false, 'P'}, {-1, false, 'P'},
        {-1, false, 'R'}, {-1, false, 'Q'}, {-1, false, 'Q'}, {-1, false, 'Q'},
        // A forced IDR; later a small change when due: the IDR again first, the
        // change one picture later.
        {6, true, 'I'}, {-1, false, 'S'}, {-1, false, 'S'}, {-1, false, 'S'},
        {7, false, 'R'}, {-1, false, 'P'},
        // clang-format on
    };
    SpsInfo sps;
    PpsInfo pps;
    std::vector<std::vector<uint8_t>> chain;  // library IDR and the P pictures right after it
    int last_ref_fn = 0, last_poc = 0, content = 0;
    size_t replayed = 0;
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i << " " << s.kind);
        std::vector<PixelRect> changed;
        if (s.content >= 0) {
            content = s.content;
            changed.push_back({32, 16, 48, 32});
        }
        std::vector<uint8_t> px = picture(w, h, content), au;
        ASSERT_TRUE(enc.encode_changes(px.data(), w, s.force, changed, au));
        ASSERT_FALSE(au.empty());
        Picture p = read_picture(au, sps, pps);
        EXPECT_EQ(p.idr, s.kind == 'I' || s.kind == 'R');
        if (p.idr) {
            EXPECT_TRUE(p.params);  // SPS and PPS before every IDR
            EXPECT_EQ(p.frame_num, 0);
        } else {
            // Consecutive numbering whoever wrote the picture: no gaps in
            // frame_num, order counts rising by 2.
            EXPECT_NE(p.ref_idc, 0);
            EXPECT_EQ(p.frame_num, last_ref_fn + 1);
            EXPECT_EQ(p.poc, last_poc + 2);
        }
        if (s.kind == 'I') chain.assign(1, au);
        if (s.kind == 'P' && chain.size() == size_t(p.frame_num)) chain.push_back(au);
        if (s.kind == 'S') {
            EXPECT_LT(au.size(), 64u);
            chain.resize(std::min<size_t>(chain.size(), 1));  // no longer followed directly
        }
        if (s.kind == 'R') replayed = 0;
        if (s.kind == 'R' || s.kind == 'Q') {
            ASSERT_LT(replayed, chain.size());
            EXPECT_EQ(au, chain[replayed++]);
        }
        last_ref_fn = p.frame_num;
        last_poc = p.poc;
    }
    EXPECT_EQ(enc.counts().skipped, 13u);
    EXPECT_EQ(enc.counts().repeated_idr, 5u);
    EXPECT_EQ(enc.counts().encoded, 15u);
}

TEST(DamageEncoding, WholePictureAfterPlainEncodeAndReopen) {
    // A plain encode (the paused picture) leaves the converted picture out of
    // step with the screen: the next change-driven call converts everything,
    // so "nothing changed" must not produce a skip picture of the old picture.
    const int w = 160, h = 96;
    H264Encoder enc;
    ASSERT_TRUE(enc.open(w, h, 10, 300));
    std::vector<uint8_t> a = picture(w, h, 1), b = picture(w, h, 5), au;
    ASSERT_TRUE(enc.encode_changes(a.data(), w, true, {{0, 0, w, h}}, au));
    au.clear();
    ASSERT_TRUE(enc.encode(b.data(), w, false, au));
    au.clear();
    ASSERT_TRUE(enc.encode_changes(a.data(), w, false, {}, au));
    EXPECT_EQ(enc.counts().skipped, 0u);
    EXPECT_EQ(enc.counts().encoded, 3u);
    ASSERT_TRUE(enc.open(w, h, 10, 300));
    au.clear();
    ASSERT_TRUE(enc.encode_changes(a.data(), w, false, {}, au));
    EXPECT_EQ(enc.counts().skipped, 0u);  // a reopened encoder starts with a coded picture
}

}  // namespace
