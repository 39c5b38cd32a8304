// G.711 mu-law coding, the downmix/decimation to 8 kHz and the 160-byte
// packetisation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "audio_test_util.h"
#include "video/g711.h"

namespace {

TEST(G711, EncodesReferenceValues) {
    // Positive values checked against an independent G.711 implementation
    // (segment edges 123/124, 8158/8159, clipping from 32124 on).
    const struct {
        int32_t in;
        uint8_t out;
    } table[] = {{0, 0xFF},      {1, 0xFF},
                 {100, 0xF2},    {123, 0xF0},
                 {124, 0xEF},    {1000, 0xCE},
                 {4000, 0xAF},   {8158, 0x9F},
                 {8159, 0x9F},   {16000, 0x90},
                 {32123, 0x80},  {32635, 0x80},
                 {32636, 0x80},  {32767, 0x80},
                 {32768, 0x80},  {1 << 30, 0x80},
                 {-100, 0x72},   {-124, 0x6F},
                 {-8159, 0x1F},  {-32767, 0x00},
                 {-32768, 0x00}, {std::numeric_limits<int32_t>::min(), 0x00}};
    for (const auto& row : table) EXPECT_EQ(ulaw_encode(row.in), row.out) << row.in;
}

TEST(G711, NegativeMirrorsPositiveAndSegmentsAreMonotonic) {
    for (int32_t v = 1; v <= 32767; ++v) ASSERT_EQ(ulaw_encode(-v), ulaw_encode(v) & 0x7F) << v;
    // Larger magnitudes never give a smaller code (codes fall as values rise).
    for (int32_t v = 1; v <= 32767; ++v) ASSERT_LE(ulaw_encode(v), ulaw_encode(v - 1)) << v;
}

TEST(G711, RoundTripStaysWithinHalfAStep) {
    for (int code = 0; code < 256; ++code) {
        if (code == 0x7F) continue;  // negative zero decodes to 0, which encodes as 0xFF
        EXPECT_EQ(ulaw_encode(ulaw_decode(static_cast<uint8_t>(code))), code) << code;
    }
    for (int32_t v = -32635; v <= 32635; ++v) {
        const int32_t err = std::abs(ulaw_decode(ulaw_encode(v)) - v);
        // The step in a segment is 2^(e+3) where |v|+132 >= 2^(e+7).
        ASSERT_LE(err, (std::abs(v) + 132) / 32 + 1) << v;
    }
    EXPECT_EQ(ulaw_decode(0x80), 32124);
    EXPECT_EQ(ulaw_decode(0x00), -32124);
    EXPECT_EQ(ulaw_decode(0xFF), 0);
}

TEST(G711Packetizer, CutsPacketsOf160WithTimestamps) {
    std::vector<audio_test::Packet> got;
    UlawPacketizer p(audio_test::collector(got));
    for (int i = 0; i < 3 * 160 + 159; ++i) p.push(static_cast<uint8_t>(i));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(p.samples_produced(), 3u * 160 + 159);
    for (size_t k = 0; k < got.size(); ++k) {
        EXPECT_EQ(got[k].timestamp, k * 160);
        ASSERT_EQ(got[k].bytes.size(), 160u);
        EXPECT_EQ(got[k].bytes[0], static_cast<uint8_t>(k * 160));
        EXPECT_EQ(got[k].bytes[159], static_cast<uint8_t>(k * 160 + 159));
    }
    p.push(0);
    EXPECT_EQ(got.size(), 4u);
}

TEST(G711Decimator, FortyEightKilohertzStereoGivesOneSamplePerSixFrames) {
    std::vector<audio_test::Packet> got;
    UlawPacketizer p(audio_test::collector(got));
    MonoDecimator d(48000, 2, SampleKind::float32, p);
    std::vector<float> frames(2 * 959, 0.0f);
    d.push_frames(frames.data(), 959);
    EXPECT_EQ(p.samples_produced(), 159u);  // 959 / 6
    EXPECT_TRUE(got.empty());
    d.push_frames(frames.data(), 1);  // frame 960 completes the first 20 ms
    ASSERT_EQ(got.size(), 1u);
    frames.assign(2 * 48000, 0.0f);
    d.push_frames(frames.data(), 48000);
    EXPECT_EQ(got.size(), 51u);  // one packet per 20 ms of input
    for (const auto& pk : got)
        for (uint8_t b : pk.bytes) ASSERT_EQ(b, 0xFF);
}

TEST(G711Decimator, FullScaleAndBadFloats) {
    std::vector<audio_test::Packet> got;
    UlawPacketizer p(audio_test::collector(got));
    MonoDecimator d(8000, 2, SampleKind::float32, p);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // One input frame per output sample at 8 kHz; mono is the channel mean.
    const std::vector<float> in = {1.0f, 1.0f, -1.0f, -1.0f, 0.0f, 0.0f,  1.0f,  -1.0f, inf,
                                   inf,  -inf, -inf,  nan,   0.0f, 1e30f, 1e30f, 4.0f,  -4.0f};
    d.push_frames(in.data(), in.size() / 2);
    d.push_frames(nullptr, 160 - in.size() / 2);  // silent frames
    ASSERT_EQ(got.size(), 1u);
    const std::vector<uint8_t> want = {0x80, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0xFF, 0x80, 0xFF};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[0].bytes[i], want[i]) << i;
    EXPECT_EQ(got[0].bytes[159], 0xFF);
}

TEST(G711Decimator, ChunkingDoesNotChangeTheOutput) {
    // 44.1 kHz, 16-bit, 3 channels: 5 or 6 frames per output sample.
    const auto pcm = audio_test::sine_s16(44100, 3, 1000.0, 0.4, 44100);
    std::vector<audio_test::Packet> whole, pieces;
    UlawPacketizer pw(audio_test::collector(whole)), pp(audio_test::collector(pieces));
    MonoDecimator dw(44100, 3, SampleKind::pcm16, pw), dp(44100, 3, SampleKind::pcm16, pp);
    dw.push_frames(pcm.data(), 44100);
    size_t at = 0, step = 1;
    while (at < 44100) {
        const size_t n = std::min<size_t>(step, 44100 - at);
        dp.push_frames(pcm.data() + at * 3, n);
        at += n;
        step = step * 7 % 1013 + 1;
    }
    EXPECT_EQ(pw.samples_produced(), 8000u);  // exactly 8000 per second of input
    ASSERT_EQ(whole.size(), 50u);
    ASSERT_EQ(pieces.size(), whole.size());
    for (size_t i = 0; i < whole.size(); ++i) EXPECT_EQ(pieces[i].bytes, whole[i].bytes) << i;
}

TEST(G711Decimator, OneKilohertzToneComesOutClean) {
    struct Case {
        uint32_t rate;
        uint16_t channels;
        SampleKind kind;
        double min_snr_db;
    };
    // The box filter averages a whole number of frames per output sample, so
    // rates that are not a multiple of 8000 pay in timing jitter (measured:
    // 40 dB at 48 kHz, which is mu-law's own floor, 32 dB at 44.1 kHz, 25 dB at
    // 22.05 kHz).
    for (const Case c :
         {Case{48000, 2, SampleKind::float32, 37}, Case{44100, 2, SampleKind::pcm16, 29},
          Case{22050, 1, SampleKind::pcm16, 22}}) {
        std::vector<audio_test::Packet> got;
        UlawPacketizer p(audio_test::collector(got));
        MonoDecimator d(c.rate, c.channels, c.kind, p);
        if (c.kind == SampleKind::float32) {
            const auto in = audio_test::sine_f32(c.rate, c.channels, 1000.0, 0.5, c.rate);
            d.push_frames(in.data(), c.rate);
        } else {
            const auto in = audio_test::sine_s16(c.rate, c.channels, 1000.0, 0.5, c.rate);
            d.push_frames(in.data(), c.rate);
        }
        const auto linear = audio_test::decode(got);
        ASSERT_EQ(linear.size(), 8000u);
        const auto a = audio_test::analyse(linear, 8000.0);
        EXPECT_NEAR(a.peak_hz, 1000.0, 5.0) << c.rate;
        EXPECT_GT(a.tone_snr_db, c.min_snr_db) << c.rate;
        // A 6-frame box filter loses about 0.2 dB at 1 kHz.
        EXPECT_NEAR(a.tone_amplitude, 0.5 * 32767, 0.06 * 32767) << c.rate;
    }
}

}  // namespace
