// Helpers shared by the audio tests: packet collection, synthetic tones and a
// small spectrum check of decoded mu-law.
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

inline AudioPacketCallback collector(std::vector<Packet>& out) {
    return [&out](const uint8_t* b, size_t n, uint32_t ts) {
        out.push_back({std::vector<uint8_t>(b, b + n), ts});
    };
}

// Thread-safe collector for packets arriving on a capture thread.
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

inline std::vector<float> sine_f32(uint32_t rate, uint16_t channels, double hz, double amp,
                                   size_t frames) {
    std::vector<float> v(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c)
            v[i * channels + c] =
                static_cast<float>(amp * std::sin(2 * std::numbers::pi * hz * i / rate));
    return v;
}

inline std::vector<int16_t> sine_s16(uint32_t rate, uint16_t channels, double hz, double amp,
                                     size_t frames) {
    std::vector<int16_t> v(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c)
            v[i * channels + c] = static_cast<int16_t>(
                std::lround(32767 * amp * std::sin(2 * std::numbers::pi * hz * i / rate)));
    return v;
}

inline std::vector<double> decode(const std::vector<Packet>& packets) {
    std::vector<double> out;
    for (const auto& p : packets)
        for (uint8_t b : p.bytes) out.push_back(ulaw_decode(b));
    return out;
}

struct Spectrum {
    double peak_hz = 0;         // strongest frequency, 5 Hz resolution
    double tone_amplitude = 0;  // amplitude of the best-fitting sine at the peak
    double tone_snr_db = 0;     // that sine against everything else
};

// DFT over a 200 ms window (5 Hz bins) up to half the rate, then a sine fit
// at the peak over the whole signal.
inline Spectrum analyse(const std::vector<double>& x, double rate) {
    Spectrum s;
    const size_t n = std::min<size_t>(x.size(), static_cast<size_t>(rate / 5));
    double best = -1;
    for (size_t k = 1; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t i = 0; i < n; ++i) {
            const double w = 2 * std::numbers::pi * k * i / n;
            re += x[i] * std::cos(w);
            im -= x[i] * std::sin(w);
        }
        const double mag = re * re + im * im;
        if (mag > best) {
            best = mag;
            s.peak_hz = k * rate / n;
        }
    }
    double c = 0, d = 0, total = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * std::numbers::pi * s.peak_hz * i / rate;
        c += x[i] * std::cos(w);
        d += x[i] * std::sin(w);
        total += x[i] * x[i];
    }
    c *= 2.0 / x.size();
    d *= 2.0 / x.size();
    s.tone_amplitude = std::hypot(c, d);
    double residual = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * std::numbers::pi * s.peak_hz * i / rate;
        const double r = x[i] - c * std::cos(w) - d * std::sin(w);
        residual += r * r;
    }
    s.tone_snr_db = residual > 0 ? 10 * std::log10((total - residual) / residual) : 200;
    return s;
}

}  // namespace audio_test
