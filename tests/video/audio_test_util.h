// Helpers shared by the audio tests: packet collection, a synthetic 1 kHz tone
// and a fit of that tone to the decoded mu-law.
#pragma once

#include <cmath>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <vector>

#include "video/g711.h"

namespace audio_test {

struct Packet {
    std::vector<uint8_t> bytes;
    uint32_t timestamp = 0;
};

// Collects packets, also from a capture thread.
struct Received {
    std::mutex mutex;
    std::vector<Packet> packets;
    AudioPacketCallback callback() {
        return [this](const uint8_t* b, size_t n, uint32_t ts) {
            std::lock_guard<std::mutex> lock(mutex);
            packets.push_back({std::vector<uint8_t>(b, b + n), ts});
        };
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return packets.size();
    }
};

// One second of a 1 kHz sine in every channel: float, or 16-bit full scale.
template <typename T>
std::vector<T> sine_1khz(uint32_t rate, uint16_t channels, double amp) {
    std::vector<T> v(size_t{rate} * channels);
    for (size_t i = 0; i < v.size(); ++i) {
        const double s = amp * std::sin(2 * std::numbers::pi * 1000.0 * (i / channels) / rate);
        v[i] = std::is_floating_point_v<T> ? static_cast<T>(s)
                                           : static_cast<T>(std::lround(32767 * s));
    }
    return v;
}

struct Tone {
    double amplitude = 0;  // of the 1 kHz sine that fits best
    double snr_db = 0;     // that sine against everything else
};

// Fits a 1 kHz sine to the decoded 8 kHz packets. A tone a few Hz off drifts
// out of phase over the packets and fits badly, so a high ratio also pins the frequency.
inline Tone tone_1khz(const std::vector<Packet>& packets) {
    std::vector<double> x;
    for (const auto& p : packets)
        for (uint8_t b : p.bytes) x.push_back(ulaw_decode(b));
    double c = 0, d = 0, total = 0, residual = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        c += x[i] * std::cos(std::numbers::pi * i / 4) * 2 / x.size();
        d += x[i] * std::sin(std::numbers::pi * i / 4) * 2 / x.size();
    }
    for (size_t i = 0; i < x.size(); ++i) {
        const double r =
            x[i] - c * std::cos(std::numbers::pi * i / 4) - d * std::sin(std::numbers::pi * i / 4);
        total += x[i] * x[i];
        residual += r * r;
    }
    return {std::hypot(c, d), residual > 0 ? 10 * std::log10((total - residual) / residual) : 200};
}

}  // namespace audio_test
