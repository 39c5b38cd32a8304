#include "rtsp/rtp_packetizer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Packet {
    uint8_t channel;
    bool marker;
    uint8_t pt;
    uint16_t seq;
    uint32_t ts;
    uint32_t ssrc;
    std::vector<uint8_t> payload;
};

// Parses interleaved RTP packets back out of a buffer; fails the test on bad framing.
std::vector<Packet> parse(const std::vector<uint8_t>& b) {
    std::vector<Packet> out;
    size_t i = 0;
    while (i < b.size()) {
        EXPECT_EQ(b[i], '$');
        EXPECT_LE(i + 4, b.size());
        size_t len = size_t(b[i + 2]) << 8 | b[i + 3];
        EXPECT_LE(i + 4 + len, b.size());
        const uint8_t* p = &b[i + 4];
        Packet k;
        k.channel = b[i + 1];
        EXPECT_EQ(p[0], 0x80);
        k.marker = p[1] & 0x80;
        k.pt = p[1] & 0x7F;
        k.seq = uint16_t(p[2] << 8 | p[3]);
        k.ts = uint32_t(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7];
        k.ssrc = uint32_t(p[8]) << 24 | p[9] << 16 | p[10] << 8 | p[11];
        k.payload.assign(p + 12, p + len);
        out.push_back(k);
        i += 4 + len;
    }
    return out;
}

std::vector<uint8_t> nal(uint8_t header, size_t len) {
    std::vector<uint8_t> v(len);
    v[0] = header;
    for (size_t i = 1; i < len; ++i) v[i] = uint8_t(i * 7 + 1);  // never forms a start code
    return v;
}

void add_unit(std::vector<uint8_t>& au, const std::vector<uint8_t>& unit, bool four = true) {
    if (four) au.push_back(0);
    au.insert(au.end(), {0, 0, 1});
    au.insert(au.end(), unit.begin(), unit.end());
}

}  // namespace

TEST(SplitNalUnits, StartCodesOfBothLengthsGarbageAndEmptyUnits) {
    // garbage, 4-byte code, unit A, 3-byte code, unit B, empty unit, 4-byte code, unit C
    std::vector<uint8_t> b = {0x09, 0x09, 0, 0, 0, 1, 0x67, 0xAA, 0,    0,    1,   0x68,
                              0xBB, 0,    0, 1, 0, 0, 0,    1,    0x65, 0x11, 0x22};
    auto u = split_nal_units(b.data(), b.size());
    ASSERT_EQ(u.size(), 3u);
    EXPECT_EQ(u[0], (std::pair<size_t, size_t>{6, 2}));
    EXPECT_EQ(u[1], (std::pair<size_t, size_t>{11, 2}));
    EXPECT_EQ(u[2], (std::pair<size_t, size_t>{20, 3}));
    EXPECT_TRUE(is_keyframe(b.data(), b.size()));

    std::vector<uint8_t> none = {1, 2, 3, 0, 0, 2, 0, 0};
    EXPECT_TRUE(split_nal_units(none.data(), none.size()).empty());
    EXPECT_TRUE(split_nal_units(nullptr, 0).empty());
    std::vector<uint8_t> only_code = {0, 0, 0, 1};
    EXPECT_TRUE(split_nal_units(only_code.data(), only_code.size()).empty());
    std::vector<uint8_t> p_frame = {0, 0, 0, 1, 0x41, 0x9A};
    EXPECT_FALSE(is_keyframe(p_frame.data(), p_frame.size()));
}

TEST(H264Packetizer, SingleNalUpTo1400AndFuABeyond) {
    std::vector<uint8_t> out;
    uint16_t seq = 7;
    auto n1400 = nal(0x41, 1400);
    append_h264_nal(out, n1400.data(), n1400.size(), seq, 1234, true);
    auto p = parse(out);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].payload, n1400);
    EXPECT_TRUE(p[0].marker);
    EXPECT_EQ(p[0].seq, 7);
    EXPECT_EQ(seq, 8);
    EXPECT_EQ(p[0].pt, 96);
    EXPECT_EQ(p[0].ssrc, 0x13572468u);
    EXPECT_EQ(p[0].channel, 0);
    EXPECT_EQ(p[0].ts, 1234u);

    out.clear();
    auto n1401 = nal(0x65, 1401);
    append_h264_nal(out, n1401.data(), n1401.size(), seq, 99, true);
    p = parse(out);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].payload.size(), 1400u);
    EXPECT_EQ(p[1].payload.size(), 4u);
    EXPECT_EQ(p[0].payload[0], 0x7C);
    EXPECT_EQ(p[0].payload[1], 0x85);
    EXPECT_EQ(p[1].payload[0], 0x7C);
    EXPECT_EQ(p[1].payload[1], 0x45);
    EXPECT_FALSE(p[0].marker);
    EXPECT_TRUE(p[1].marker);
    EXPECT_EQ(p[0].seq, 8);
    EXPECT_EQ(p[1].seq, 9);
    // Reassembly gives back the unit.
    std::vector<uint8_t> back = {uint8_t((p[0].payload[0] & 0xE0) | (p[0].payload[1] & 0x1F))};
    for (auto& k : p) back.insert(back.end(), k.payload.begin() + 2, k.payload.end());
    EXPECT_EQ(back, n1401);

    // Three fragments: first, middle, last headers; no marker when not last of the unit.
    out.clear();
    auto big = nal(0x65, 1 + 1398 * 2 + 10);
    append_h264_nal(out, big.data(), big.size(), seq, 0, false);
    p = parse(out);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].payload[1], 0x85);
    EXPECT_EQ(p[1].payload[1], 0x05);
    EXPECT_EQ(p[2].payload[1], 0x45);
    for (auto& k : p) EXPECT_FALSE(k.marker);

    // Sequence numbers wrap at 65536; an empty unit sends nothing.
    out.clear();
    seq = 65535;
    append_h264_nal(out, n1401.data(), n1401.size(), seq, 0, true);
    p = parse(out);
    EXPECT_EQ(p[0].seq, 65535);
    EXPECT_EQ(p[1].seq, 0);
    out.clear();
    append_h264_nal(out, n1401.data(), 0, seq, 0, true);
    EXPECT_TRUE(out.empty());
}

TEST(H264Packetizer, AccessUnitSharesTimestampMarkerOnLast) {
    std::vector<uint8_t> au;
    auto sps = nal(0x67, 12), pps = nal(0x68, 4), idr = nal(0x65, 3000);
    add_unit(au, sps);
    add_unit(au, pps, false);
    add_unit(au, idr);
    std::vector<uint8_t> out;
    uint16_t seq = 0;
    uint64_t octets = 0;
    size_t n = append_access_unit(out, au.data(), au.size(), seq, 90000, &octets);
    auto p = parse(out);
    ASSERT_EQ(n, p.size());
    ASSERT_EQ(p.size(), 2u + 3u);  // SPS, PPS, IDR in three fragments
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_EQ(p[i].ts, 90000u);
        EXPECT_EQ(p[i].seq, i);
        EXPECT_EQ(p[i].marker, i + 1 == p.size());
    }
    EXPECT_EQ(p[0].payload, sps);
    EXPECT_EQ(p[1].payload, pps);
    size_t payload_total = 0;
    for (auto& k : p) payload_total += k.payload.size();
    EXPECT_EQ(octets, payload_total);
}

TEST(Rtcp, SenderReportLayout) {
    std::vector<uint8_t> out;
    // 2026-01-01T00:00:00.5Z
    uint64_t us = 1767225600ULL * 1000000 + 500000;
    append_rtcp_sender_report(out, 1, k_video_ssrc, us, 0xDEADBEEF, 10, 5000);
    ASSERT_GE(out.size(), 4u + 28u);
    EXPECT_EQ(out[0], '$');
    EXPECT_EQ(out[1], 1);
    size_t len = size_t(out[2]) << 8 | out[3];
    ASSERT_EQ(len + 4, out.size());
    EXPECT_EQ(len % 4, 0u);
    const uint8_t* sr = &out[4];
    EXPECT_EQ(sr[0], 0x80);
    EXPECT_EQ(sr[1], 200);
    EXPECT_EQ((sr[2] << 8 | sr[3]), 6);
    auto be32 = [](const uint8_t* p) {
        return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    };
    EXPECT_EQ(be32(sr + 4), k_video_ssrc);
    EXPECT_EQ(be32(sr + 8), uint32_t(1767225600ULL + 2208988800ULL));
    EXPECT_EQ(be32(sr + 12), 0x80000000u);
    EXPECT_EQ(be32(sr + 16), 0xDEADBEEFu);
    EXPECT_EQ(be32(sr + 20), 10u);
    EXPECT_EQ(be32(sr + 24), 5000u);
    // SDES with a CNAME follows and its length field covers the rest.
    const uint8_t* sdes = sr + 28;
    EXPECT_EQ(sdes[0], 0x81);
    EXPECT_EQ(sdes[1], 202);
    EXPECT_EQ(size_t((sdes[2] << 8 | sdes[3]) + 1) * 4, len - 28);
    EXPECT_EQ(sdes[8], 1);  // CNAME
}
