// G.711 mu-law (ITU-T G.711) and the path from captured PCM to 20 ms packets:
// downmix to mono, decimate to 8000 Hz with a box filter, encode, and cut into
// 160-byte packets with their 8 kHz RTP timestamps. Pure code, no threads or
// locks; the capture thread of LoopbackAudio owns one chain per capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

constexpr uint32_t k_ulaw_rate = 8000;       // samples per second
constexpr size_t k_ulaw_packet_bytes = 160;  // 20 ms at 8 kHz
constexpr uint8_t k_ulaw_silence = 0xFF;     // encoding of 0

// Receives one packet (bytes, length, RTP timestamp at 8 kHz).
using AudioPacketCallback =
    std::function<void(const uint8_t* bytes, size_t length, uint32_t timestamp)>;

// 16-bit linear to mu-law. 32768 and above give 0x80 (positive full scale);
// values below -32768 are treated as -32768.
uint8_t ulaw_encode(int32_t value);
// mu-law to 16-bit linear (the G.711 decision values' midpoints).
int16_t ulaw_decode(uint8_t byte);

enum class SampleKind { float32, pcm16 };

// Collects mu-law bytes into 160-byte packets. The timestamp starts at 0 and
// advances by 160 per packet.
class UlawPacketizer {
  public:
    explicit UlawPacketizer(AudioPacketCallback callback);
    void push(uint8_t byte);
    uint64_t samples_produced() const { return produced_; }
    uint32_t next_timestamp() const { return timestamp_; }

  private:
    AudioPacketCallback callback_;
    uint8_t packet_[k_ulaw_packet_bytes] = {};
    size_t fill_ = 0;
    uint32_t timestamp_ = 0;
    uint64_t produced_ = 0;
};

// Interleaved frames at `rate` Hz with `channels` channels in, mu-law at
// 8000 Hz mono out: each output sample is the mean of the input frames since
// the previous one (6 at 48 kHz, 5 or 6 at 44.1 kHz).
class MonoDecimator {
  public:
    MonoDecimator(uint32_t rate, uint16_t channels, SampleKind kind, UlawPacketizer& out);
    // `data` null stands for `frames` silent frames.
    void push_frames(const void* data, size_t frames);

  private:
    void push_mono(double mono);

    uint32_t rate_;
    uint16_t channels_;
    SampleKind kind_;
    UlawPacketizer& out_;
    uint64_t phase_ = 0;
    double sum_ = 0;
    uint32_t count_ = 0;
};
