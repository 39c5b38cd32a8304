#include "rtsp/rtp_packetizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Packet {
    uint8_t channel;
    bool marker;
    uint8_t pt;
    uint16_t seq;
    uint32_t ts;
    uint32_t ssrc;
    Bytes payload;
};

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Interleaved RTP packets read back out of a buffer; bad framing fails the test.
std::vector<Packet> parse(const Bytes& b) {
    std::vector<Packet> out;
    size_t i = 0;
    while (i + 16 <= b.size()) {
        size_t len = size_t(b[i + 2]) << 8 | b[i + 3];
        EXPECT_EQ(b[i], '$');
        EXPECT_LE(i + 4 + len, b.size());
        const uint8_t* p = &b[i + 4];
        EXPECT_EQ(p[0], 0x80);
        out.push_back({b[i + 1], bool(p[1] & 0x80), uint8_t(p[1] & 0x7F),
                       uint16_t(p[2] << 8 | p[3]), be32(p + 4), be32(p + 8),
                       Bytes(p + 12, p + len)});
        i += 4 + len;
    }
    EXPECT_EQ(i, b.size());
    return out;
}

Bytes nal(uint8_t header, size_t len) {
    Bytes v(len);
    v[0] = header;
    for (size_t i = 1; i < len; ++i) v[i] = uint8_t(i * 7 + 1);  // never forms a start code
    return v;
}

}  // namespace

TEST(SplitNalUnits, StartCodesAndKeyframes) {
    struct Case {
        Bytes in;
        std::vector<std::pair<size_t, size_t>> units;
        bool key;
    };
    const Case cases[] = {
        // garbage, 4-byte code + SPS, 3-byte code + PPS, an empty unit, 4-byte code + IDR
        {{9, 9, 0, 0, 0, 1, 0x67, 0xAA, 0, 0, 1, 0x68, 0xBB, 0, 0, 1, 0, 0, 0, 1, 0x65, 0x11, 0x22},
         {{6, 2}, {11, 2}, {20, 3}},
         true},
        {{0, 0, 0, 1, 0x41, 0x9A}, {{4, 2}}, false},
        {{1, 2, 3, 0, 0, 2, 0, 0}, {}, false},
        {{0, 0, 0, 1}, {}, false},
        {{}, {}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_nal_units(c.in.data(), c.in.size()), c.units)
            << ::testing::PrintToString(c.in);
        EXPECT_EQ(is_keyframe(c.in.data(), c.in.size()), c.key) << ::testing::PrintToString(c.in);
    }
}

TEST(H264Packetizer, SingleNalUpTo1400FuABeyond) {
    // FU indicator keeps the NRI with type 28; headers carry S/E and the unit's
    // type; the marker goes only on the last packet of the access unit's last
    // unit. Sequence numbers wrap at 65536.
    struct Case {
        size_t len;
        bool last;
        Bytes fu_headers;  // none: a single NAL unit packet
    };
    uint16_t seq = 65534;
    for (const Case& c : {Case{1400, true, {}}, Case{1401, true, {0x85, 0x45}},
                          Case{1 + 1398 * 2 + 10, false, {0x85, 0x05, 0x45}}}) {
        Bytes out;
        auto unit = nal(0x65, c.len);
        uint16_t first = seq;
        append_h264_nal(out, unit.data(), unit.size(), seq, 99, c.last);
        auto p = parse(out);
        ASSERT_EQ(p.size(), std::max<size_t>(1, c.fu_headers.size())) << c.len;
        EXPECT_EQ(seq, uint16_t(first + p.size()));
        EXPECT_EQ(p[0].payload.size(), 1400u);
        Bytes back = c.fu_headers.empty()
                         ? Bytes{}
                         : Bytes{uint8_t((p[0].payload[0] & 0xE0) | (p[0].payload[1] & 0x1F))};
        for (size_t i = 0; i < p.size(); ++i) {
            EXPECT_EQ(std::tie(p[i].channel, p[i].pt, p[i].seq, p[i].ts, p[i].ssrc),
                      std::make_tuple(0, 96, uint16_t(first + i), 99u, k_video_ssrc));
            EXPECT_EQ(p[i].marker, c.last && i + 1 == p.size());
            if (c.fu_headers.empty()) continue;
            EXPECT_EQ(p[i].payload[0], 0x7C);
            EXPECT_EQ(p[i].payload[1], c.fu_headers[i]);
            back.insert(back.end(), p[i].payload.begin() + 2, p[i].payload.end());
        }
        EXPECT_EQ(c.fu_headers.empty() ? p[0].payload : back, unit);
    }
    Bytes out;
    append_h264_nal(out, nal(0x41, 1).data(), 0, seq, 0, true);
    EXPECT_TRUE(out.empty());
}

TEST(H264Packetizer, AccessUnitSharesTimestampMarkerOnLast) {
    Bytes au;
    auto sps = nal(0x67, 12), pps = nal(0x68, 4), idr = nal(0x65, 3000);
    for (const Bytes* u : {&sps, &pps, &idr}) {
        au.insert(au.end(), {0, 0, 1});
        au.insert(au.end(), u->begin(), u->end());
    }
    au.insert(au.begin(), 0);  // a 4-byte start code first, then 3-byte ones
    Bytes out;
    uint16_t seq = 0;
    uint64_t octets = 0;
    size_t n = append_access_unit(out, au.data(), au.size(), seq, 90000, &octets);
    auto p = parse(out);
    ASSERT_EQ(n, p.size());
    ASSERT_EQ(p.size(), 2u + 3u);  // SPS, PPS, IDR in three fragments
    size_t payload_total = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_EQ(p[i].ts, 90000u);
        EXPECT_EQ(p[i].seq, i);
        EXPECT_EQ(p[i].marker, i + 1 == p.size());
        payload_total += p[i].payload.size();
    }
    EXPECT_EQ(p[0].payload, sps);
    EXPECT_EQ(p[1].payload, pps);
    EXPECT_EQ(octets, payload_total);
}

TEST(Rtcp, SenderReportLayout) {
    Bytes out;
    uint64_t us = 1767225600ULL * 1000000 + 500000;  // 2026-01-01T00:00:00.5Z
    append_rtcp_sender_report(out, 1, k_video_ssrc, us, 0xDEADBEEF, 10, 5000);
    ASSERT_GE(out.size(), 4u + 28u + 8u);
    size_t len = size_t(out[2]) << 8 | out[3];
    EXPECT_EQ(std::make_tuple(out[0], out[1], len + 4, len % 4),
              std::make_tuple('$', 1, out.size(), 0u));
    const uint8_t* sr = &out[4];
    EXPECT_EQ(std::make_tuple(sr[0], sr[1], sr[2] << 8 | sr[3]), std::make_tuple(0x80, 200, 6));
    EXPECT_EQ(std::make_tuple(be32(sr + 4), be32(sr + 8), be32(sr + 12), be32(sr + 16),
                              be32(sr + 20), be32(sr + 24)),
              std::make_tuple(k_video_ssrc, uint32_t(1767225600ULL + 2208988800ULL), 0x80000000u,
                              0xDEADBEEFu, 10u, 5000u));
    // SDES with a CNAME follows and its length field covers the rest.
    const uint8_t* sdes = sr + 28;
    EXPECT_EQ(std::make_tuple(sdes[0], sdes[1], size_t((sdes[2] << 8 | sdes[3]) + 1) * 4, sdes[8]),
              std::make_tuple(0x81, 202, len - 28, 1));
}
