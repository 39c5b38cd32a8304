// G.711 mu-law coding, the downmix/decimation to 8 kHz and the 160-byte
// packetisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "audio_test_util.h"

namespace {

using audio_test::Received;

TEST(G711, EncodesReferenceValues) {
    // Checked against an independent G.711 implementation: segment edges
    // 123/124 and 8158/8159, clipping from 32124 on, the int32 extremes.
    const struct {
        int32_t in;
        uint8_t out;
    } table[] = {{0, 0xFF},      {1, 0xFF},
                 {100, 0xF2},    {123, 0xF0},
                 {124, 0xEF},    {1000, 0xCE},
                 {4000, 0xAF},   {8158, 0x9F},
                 {8159, 0x9F},   {16000, 0x90},
                 {32123, 0x80},  {32636, 0x80},
                 {32768, 0x80},  {1 << 30, 0x80},
                 {-100, 0x72},   {-124, 0x6F},
                 {-8159, 0x1F},  {-32767, 0x00},
                 {-32768, 0x00}, {std::numeric_limits<int32_t>::min(), 0x00}};
    for (const auto& row : table) EXPECT_EQ(ulaw_encode(row.in), row.out) << row.in;
}

TEST(G711, MirroredMonotonicAndRoundTripWithinHalfAStep) {
    for (int32_t v = 1; v <= 32767; ++v) {
        ASSERT_EQ(ulaw_encode(-v), ulaw_encode(v) & 0x7F) << v;
        ASSERT_LE(ulaw_encode(v), ulaw_encode(v - 1)) << v;  // codes fall as values rise
        // The step in a segment is 2^(e+3) where |v|+132 >= 2^(e+7).
        if (v <= 32635) {
            ASSERT_LE(std::abs(ulaw_decode(ulaw_encode(v)) - v), (v + 132) / 32 + 1) << v;
        }
    }
    for (int code = 0; code < 256; ++code) {
        if (code == 0x7F) continue;  // negative zero decodes to 0, which encodes as 0xFF
        EXPECT_EQ(ulaw_encode(ulaw_decode(static_cast<uint8_t>(code))), code) << code;
    }
    EXPECT_EQ(ulaw_decode(0x80), 32124);
    EXPECT_EQ(ulaw_decode(0x00), -32124);
}

TEST(G711Decimator, SixFramesPerSampleAndPacketsOf160) {
    Received r;
    UlawPacketizer p(r.callback());
    MonoDecimator d(48000, 2, SampleKind::float32, p);
    std::vector<float> frames(2 * 48000, 0.0f);
    d.push_frames(frames.data(), 959);
    EXPECT_EQ(p.samples_produced(), 159u);
    EXPECT_TRUE(r.packets.empty());
    d.push_frames(frames.data(), 1);  // frame 960 completes the first 20 ms
    ASSERT_EQ(r.packets.size(), 1u);
    d.push_frames(frames.data(), 48000);
    ASSERT_EQ(r.packets.size(), 51u);
    for (size_t k = 0; k < r.packets.size(); ++k) {
        EXPECT_EQ(r.packets[k].timestamp, k * 160);
        EXPECT_EQ(r.packets[k].bytes, std::vector<uint8_t>(160, 0xFF));
    }
}

TEST(G711Decimator, FullScaleAndBadFloats) {
    Received r;
    UlawPacketizer p(r.callback());
    MonoDecimator d(8000, 2, SampleKind::float32, p);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // One input frame per output sample at 8 kHz; mono is the channel mean.
    const std::vector<float> in = {1.0f, 1.0f, -1.0f, -1.0f, 0.0f, 0.0f,  1.0f,  -1.0f, inf,
                                   inf,  -inf, -inf,  nan,   0.0f, 1e30f, 1e30f, 4.0f,  -4.0f};
    d.push_frames(in.data(), in.size() / 2);
    d.push_frames(nullptr, 160 - in.size() / 2);  // silent frames
    ASSERT_EQ(r.packets.size(), 1u);
    const std::vector<uint8_t> want = {0x80, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0xFF, 0x80, 0xFF};
    EXPECT_EQ(std::vector<uint8_t>(r.packets[0].bytes.begin(), r.packets[0].bytes.begin() + 9),
              want);
    EXPECT_EQ(r.packets[0].bytes[159], 0xFF);
}

// A second of 1 kHz at several input formats, fed whole and in ragged chunks:
// both give the same 8000 samples, and they are the tone.
TEST(G711Decimator, OneKilohertzToneComesOutCleanWhateverTheChunking) {
    struct Case {
        uint32_t rate;
        uint16_t channels;
        SampleKind kind;
        double min_snr_db;
    };
    // The box filter averages a whole number of frames per output sample, so
    // rates that are not a multiple of 8000 pay in timing jitter (measured:
    // 40 dB at 48 kHz, mu-law's own floor; 32 dB at 44.1 kHz, 25 dB at 22.05 kHz).
    for (const Case c :
         {Case{48000, 2, SampleKind::float32, 37}, Case{44100, 3, SampleKind::pcm16, 29},
          Case{22050, 1, SampleKind::pcm16, 22}}) {
        const auto f32 = audio_test::sine_1khz<float>(c.rate, c.channels, 0.5);
        const auto s16 = audio_test::sine_1khz<int16_t>(c.rate, c.channels, 0.5);
        const size_t frame_bytes = c.channels * (c.kind == SampleKind::float32 ? 4 : 2);
        const auto* bytes = c.kind == SampleKind::float32
                                ? reinterpret_cast<const uint8_t*>(f32.data())
                                : reinterpret_cast<const uint8_t*>(s16.data());
        Received whole, pieces;
        UlawPacketizer pw(whole.callback()), pp(pieces.callback());
        MonoDecimator dw(c.rate, c.channels, c.kind, pw), dp(c.rate, c.channels, c.kind, pp);
        dw.push_frames(bytes, c.rate);
        for (size_t at = 0, step = 1; at < c.rate; step = step * 7 % 1013 + 1) {
            const size_t n = std::min<size_t>(step, c.rate - at);
            dp.push_frames(bytes + at * frame_bytes, n);
            at += n;
        }
        EXPECT_EQ(pw.samples_produced(), 8000u) << c.rate;
        ASSERT_EQ(whole.packets.size(), 50u) << c.rate;
        ASSERT_EQ(pieces.packets.size(), 50u) << c.rate;
        for (size_t i = 0; i < 50; ++i)
            ASSERT_EQ(pieces.packets[i].bytes, whole.packets[i].bytes) << i;
        const auto t = audio_test::tone_1khz(whole.packets);
        EXPECT_GT(t.snr_db, c.min_snr_db) << c.rate;
        // A 6-frame box filter loses about 0.2 dB at 1 kHz.
        EXPECT_NEAR(t.amplitude, 0.5 * 32767, 0.06 * 32767) << c.rate;
    }
}

}  // namespace
