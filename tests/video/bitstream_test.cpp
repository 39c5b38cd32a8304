// The bitstream helpers, and a stream that mixes the library's pictures with
// ours (skip pictures, changes in intra slices, keyframes of stored rows),
// made with the real OpenH264 library and decoded by ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
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

// A picture with detail everywhere: a gradient with a grid of small marks,
// and rectangles whose colour is the frame's content in the changed areas.
struct Painted {
    std::vector<uint8_t> px;
    int w, h;
    void fill(const PixelRect& r, int content) {
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                uint8_t* p = &px[(size_t(y) * w + x) * 4];
                const bool mark = (x / 3 + y / 5 + content) % 7 == 0;
                p[0] = uint8_t(mark ? 20 : (x + content * 37) & 0xFF);
                p[1] = uint8_t(mark ? 30 : (y * 2 + content * 11) & 0xFF);
                p[2] = uint8_t(mark ? 240 : (x + y + content * 53) & 0xFF);
            }
    }
};

struct Picture {
    bool idr = false;
    bool params = false;  // SPS and PPS in front
    int frame_num = 0, poc = 0, ref_idc = 0, slices = 0;
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
            if (p.slices++ == 0) {
                p.idr = s.idr;
                p.frame_num = s.frame_num;
                p.poc = s.poc_lsb;
                p.ref_idc = s.nal_ref_idc;
            }
            EXPECT_EQ(std::tie(s.idr, s.frame_num, s.poc_lsb), std::tie(p.idr, p.frame_num, p.poc));
        }
    }
    return p;
}

double luma_psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i) se += double(a[i] - b[i]) * double(a[i] - b[i]);
    return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(n) / se);
}

// fps 8: a keyframe every 8 pictures. Kinds: I library IDR, P library P,
// S our skip picture, C a change in intra slices, K a keyframe of stored rows.
// The picture is 41 x 13 macroblocks (two keyframe tiles a row, a cropped last
// row), and every decoded picture must match its source.
TEST(DamageEncoding, MixedStreamDecodesToTheSource) {
    const int w = 648, h = 200;
    H264Encoder enc;
    ASSERT_TRUE(enc.open(w, h, 8, 4000));
    const PixelRect all{0, 0, w, h}, clock{500, 170, 600, 200}, win{100, 40, 300, 120},
        edge{470, 0, 500, 20}, half{0, 0, w, 110};
    struct Step {
        std::vector<PixelRect> changed;
        bool force;
        char kind;
    } steps[] = {
        {{all}, true, 'I'}, {{}, false, 'P'}, {{}, false, 'P'}, {{}, false, 'P'},  // sharpened
        {{}, false, 'S'},
        {{half}, false, 'P'},  // large: the library, renumbered after our picture
        {{}, false, 'P'}, {{}, false, 'P'},
        {{}, false, 'K'},  // due: every row coded and stored
        {{clock}, false, 'C'}, {{}, false, 'S'},
        {{win, edge}, false, 'C'},  // two areas, one across the tile edge
        {{}, false, 'S'}, {{}, false, 'S'}, {{}, false, 'S'}, {{clock}, false, 'C'},
        {{clock}, false, 'K'},  // due with a change: it comes in the keyframe
        {{half}, false, 'I'},   // large: the library, an IDR after ours
        {{}, false, 'P'}, {{win}, false, 'C'}, {{}, false, 'S'}, {{}, false, 'S'},
        {{}, true, 'K'},  // a new viewer
        {{clock}, false, 'C'}, {{}, false, 'S'},
    };
    Painted pic{std::vector<uint8_t>(size_t(w) * h * 4), w, h};
    SpsInfo sps;
    PpsInfo pps;
    std::vector<uint8_t> stream, expected;
    int last_ref_fn = 0, last_poc = 0, content = 0;
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i << " " << s.kind);
        ++content;
        for (const PixelRect& r : s.changed) pic.fill(r, content);
        std::vector<uint8_t> au;
        const auto before = enc.counts();
        ASSERT_TRUE(enc.encode_changes(pic.px.data(), w, s.force, s.changed, au));
        const auto after = enc.counts();
        const char kind = after.encoded != before.encoded   ? 'L'
                          : after.skipped != before.skipped ? 'S'
                          : after.spliced != before.spliced ? 'C'
                                                            : 'K';
        Picture p = read_picture(au, sps, pps);
        EXPECT_EQ(kind == 'L' ? (p.idr ? 'I' : 'P') : kind, s.kind);
        EXPECT_EQ(p.idr, s.kind == 'I' || s.kind == 'K');
        if (p.idr) {
            EXPECT_TRUE(p.params);  // SPS and PPS before every IDR
            EXPECT_EQ(p.frame_num, 0);
        } else {
            // Consecutive numbering whoever wrote the picture.
            EXPECT_NE(p.ref_idc, 0);
            EXPECT_EQ(p.frame_num, last_ref_fn + 1);
            EXPECT_EQ(p.poc, last_poc + 2);
        }
        if (s.kind == 'S') {
            EXPECT_LT(au.size(), 64u);
        }
        last_ref_fn = p.frame_num;
        last_poc = p.poc;
        stream.insert(stream.end(), au.begin(), au.end());
        std::vector<uint8_t> yuv(size_t(w) * h * 3 / 2);
        bgrx_to_i420(pic.px.data(), w * 4, w, h, yuv.data(), yuv.data() + size_t(w) * h,
                     yuv.data() + size_t(w) * h * 5 / 4);
        expected.insert(expected.end(), yuv.begin(), yuv.end());
    }

    const std::string dir = testing::TempDir();
    const std::string in = dir + "/mixed.h264", raw = dir + "/mixed.yuv", log = dir + "/mixed.log";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                               std::streamsize(stream.size()));
    const std::string cmd = "ffmpeg -nostdin -v warning -y -i " + in +
                            " -f rawvideo -pix_fmt yuv420p " + raw + " 2>" + log;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream lf(log);
    const std::string warnings((std::istreambuf_iterator<char>(lf)), std::istreambuf_iterator<char>());
    EXPECT_EQ(warnings, "");  // no decoder error or warning
    std::ifstream rf(raw, std::ios::binary);
    std::vector<uint8_t> decoded((std::istreambuf_iterator<char>(rf)), std::istreambuf_iterator<char>());
    const size_t frame = size_t(w) * h * 3 / 2;
    ASSERT_EQ(decoded.size(), expected.size());
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_GT(luma_psnr(&decoded[i * frame], &expected[i * frame], size_t(w) * h), 35.0)
            << "picture " << i << " " << steps[i].kind;
}

TEST(DamageEncoding, KeyframesOfStoredRowsKeepToTheBitRate) {
    // A detailed still picture with a ticking clock at 100 kbit/s: the first
    // keyframes of stored rows are far too large for it, later ones fit.
    const int w = 648, h = 200, fps = 4, kbps = 100;
    H264Encoder enc;
    ASSERT_TRUE(enc.open(w, h, fps, kbps));
    Painted pic{std::vector<uint8_t>(size_t(w) * h * 4), w, h};
    pic.fill({0, 0, w, h}, 1);
    std::vector<size_t> sizes;
    for (int i = 0; i < 60; ++i) {
        std::vector<PixelRect> changed;
        if (i == 0) changed.push_back({0, 0, w, h});
        if (i % fps == 0) changed.push_back({500, 170, 600, 200});
        pic.fill({500, 170, 600, 200}, i / fps);
        std::vector<uint8_t> au;
        ASSERT_TRUE(enc.encode_changes(pic.px.data(), w, i == 0, changed, au));
        sizes.push_back(au.size());
    }
    EXPECT_GT(enc.counts().put_together, 10u);
    const size_t second = size_t(kbps) * 1000 / 8;
    size_t first = 0, last = 0;
    for (int i = 0; i < fps; ++i) {
        first += sizes[size_t(fps + i)];
        last += sizes[sizes.size() - 1 - size_t(i)];
    }
    EXPECT_GT(first, second);
    EXPECT_LT(last, second);
}

TEST(DamageEncoding, WholePictureAfterPlainEncodeAndReopen) {
    // A plain encode (the paused picture) leaves the converted picture out of
    // step with the screen: the next change-driven call converts everything,
    // so "nothing changed" must not produce a skip picture of the old picture.
    const int w = 160, h = 96;
    H264Encoder enc;
    ASSERT_TRUE(enc.open(w, h, 10, 300));
    Painted pa{std::vector<uint8_t>(size_t(w) * h * 4), w, h}, pb = pa;
    pa.fill({0, 0, w, h}, 1);
    pb.fill({0, 0, w, h}, 5);
    const std::vector<uint8_t>&a = pa.px, &b = pb.px;
    std::vector<uint8_t> au;
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
