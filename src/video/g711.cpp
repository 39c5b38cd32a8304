#include "video/g711.h"

#include <cmath>
#include <cstring>
#include <utility>

uint8_t ulaw_encode(int32_t value) {
    if (value >= 32768) return 0x80;
    if (value < -32768) value = -32768;
    const uint8_t sign = value < 0 ? 0x80 : 0x00;
    const int32_t magnitude = value < 0 ? -value : value;
    uint8_t exponent = 7;
    uint8_t mantissa = 15;
    if (magnitude < 32636) {
        const int32_t v =
            magnitude + 132;  // bias: puts every value's leading one at bit 7 or above
        exponent = 0;
        for (int bit = 14; bit >= 7; --bit) {
            if (v & (1 << bit)) {
                exponent = static_cast<uint8_t>(bit - 7);
                break;
            }
        }
        mantissa = static_cast<uint8_t>((v >> (exponent + 3)) & 0x0F);
    }
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int16_t ulaw_decode(uint8_t byte) {
    const uint8_t b = static_cast<uint8_t>(~byte);
    const int exponent = (b >> 4) & 0x07;
    const int mantissa = b & 0x0F;
    const int magnitude = (((mantissa << 3) + 132) << exponent) - 132;
    return static_cast<int16_t>((b & 0x80) ? -magnitude : magnitude);
}

UlawPacketizer::UlawPacketizer(AudioPacketCallback callback) : callback_(std::move(callback)) {}

void UlawPacketizer::push(uint8_t byte) {
    packet_[fill_++] = byte;
    ++produced_;
    if (fill_ < k_ulaw_packet_bytes) return;
    fill_ = 0;
    const uint32_t ts = timestamp_;
    timestamp_ += static_cast<uint32_t>(k_ulaw_packet_bytes);
    if (callback_) callback_(packet_, k_ulaw_packet_bytes, ts);
}

MonoDecimator::MonoDecimator(uint32_t rate, uint16_t channels, SampleKind kind, UlawPacketizer& out)
    : rate_(rate), channels_(channels), kind_(kind), out_(out) {}

void MonoDecimator::push_frames(const void* data, size_t frames) {
    if (data == nullptr || channels_ == 0) {
        for (size_t i = 0; i < frames; ++i) push_mono(0.0);
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t sample_size = kind_ == SampleKind::float32 ? 4 : 2;
    const size_t frame_size = sample_size * channels_;
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = bytes + i * frame_size;
        double sum = 0;
        for (uint16_t c = 0; c < channels_; ++c) {
            // memcpy: the platform's buffers promise no alignment.
            if (kind_ == SampleKind::float32) {
                float f;
                std::memcpy(&f, frame + c * 4, 4);
                sum += f;
            } else {
                int16_t s;
                std::memcpy(&s, frame + c * 2, 2);
                sum += s * (1.0 / 32768.0);
            }
        }
        push_mono(sum / channels_);
    }
}

void MonoDecimator::push_mono(double mono) {
    sum_ += mono;
    ++count_;
    phase_ += k_ulaw_rate;
    if (phase_ < rate_) return;
    phase_ -= rate_;
    double scaled = sum_ / count_ * 32767.0;
    sum_ = 0;
    count_ = 0;
    // Float sources may carry values far beyond full scale, infinities or NaN;
    // bound them before the integer conversion, which is undefined otherwise.
    if (std::isnan(scaled)) scaled = 0;
    if (scaled > 32768.0) scaled = 32768.0;
    if (scaled < -32768.0) scaled = -32768.0;
    out_.push(ulaw_encode(static_cast<int32_t>(scaled)));
}
