// Helpers shared by the audio tests: packet collection, a synthetic 1 kHz tone
// and a tone check of the decoded mu-law.
#pragma once

#include <algorithm>
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
        v[i] = std::is_floating_point_v<T> ? static_cast<T>(s) : static_cast<T>(std::lround(32767 * s));
    }
    return v;
}

struct Tone {
    double peak_hz = 0;    // strongest frequency, 5 Hz resolution
    double amplitude = 0;  // of the sine fitted at the peak
    double snr_db = 0;     // that sine against everything else
};

// DFT over the first 200 ms of the decoded 8 kHz packets, then a sine fit at
// the peak over all of them.
inline Tone analyse(const std::vector<Packet>& packets) {
    std::vector<double> x;
    for (const auto& p : packets)
        for (uint8_t b : p.bytes) x.push_back(ulaw_decode(b));
    const double rate = 8000;
    const size_t n = std::min<size_t>(x.size(), 1600);
    auto fit = [&](double hz, size_t len, double& c, double& d) {
        c = d = 0;
        for (size_t i = 0; i < len; ++i) {
            const double w = 2 * std::numbers::pi * hz * i / rate;
            c += x[i] * std::cos(w) * 2 / len;
            d += x[i] * std::sin(w) * 2 / len;
        }
    };
    Tone t;
    double best = -1, c, d;
    for (size_t k = 1; k < n / 2; ++k) {
        fit(k * rate / n, n, c, d);
        if (c * c + d * d > best) best = c * c + d * d, t.peak_hz = k * rate / n;
    }
    fit(t.peak_hz, x.size(), c, d);
    t.amplitude = std::hypot(c, d);
    double total = 0, residual = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * std::numbers::pi * t.peak_hz * i / rate;
        const double r = x[i] - c * std::cos(w) - d * std::sin(w);
        total += x[i] * x[i];
        residual += r * r;
    }
    t.snr_db = residual > 0 ? 10 * std::log10((total - residual) / residual) : 200;
    return t;
}

}  // namespace audio_test
