// System-audio capture: records what the PC is playing, turns it into 8 kHz
// mono G.711 mu-law and hands 160-byte packets (20 ms) to a callback on its
// own capture thread. When nothing plays, or the device goes away, silence
// keeps the packets coming at real-time pace so the RTP clock never stalls.
// start() and stop() are serialised by the record's mutex; the flags are
// atomics. Messages go to standard output only, not to the log ring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "video/g711.h"

struct AudioStartGate;  // the capture thread's set-up report

struct AudioMixFormat {
    uint32_t rate = 0;  // Hz
    uint16_t channels = 0;
    SampleKind kind = SampleKind::float32;
};

// The platform's loopback recorder, used only on the capture thread.
class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // Set-up. On failure prints its "Audio: ..." message and returns false.
    virtual bool open(AudioMixFormat& format) = 0;
    // Hands every interleaved frame available now to `sink` (data null means
    // that many silent frames) without waiting for more. Returns false once the
    // device is lost, after printing the device-lost message and releasing it.
    virtual bool read_available(
        const std::function<void(const void* data, size_t frames)>& sink) = 0;
};

using AudioSourceFactory = std::function<std::unique_ptr<AudioSource>()>;

// The default sink's monitor through PulseAudio (or PipeWire's PulseAudio
// server) on Linux.
std::unique_ptr<AudioSource> make_platform_audio_source();

// For the platform recorders: a set-up is retried while it fails, and each
// retry fails the same way, so a failure line (a printf format with one %lu
// for the error code) is printed once, until a start succeeds (the "loopback
// started" line then tells of the recovery) or the line changes.
void report_audio_failure(const char* format, unsigned long code);
void report_audio_started();

// True when the recorded format can be converted: 32-bit float (tag 3) or
// 16-bit integer (tag 1) samples, at least 8000 Hz, at least one channel; sets
// `kind`. Prints the unsupported-format message otherwise.
bool audio_format_supported(uint32_t tag, uint32_t bits, uint32_t rate, uint32_t channels,
                            SampleKind& kind);

class LoopbackAudio {
  public:
    explicit LoopbackAudio(AudioSourceFactory factory = make_platform_audio_source);
    ~LoopbackAudio();  // stops a running capture
    LoopbackAudio(const LoopbackAudio&) = delete;
    LoopbackAudio& operator=(const LoopbackAudio&) = delete;

    // True when the capture thread runs after a successful set-up. An empty
    // callback, a capture already running or a failed set-up give false.
    bool start(AudioPacketCallback callback);
    // Ends the capture and waits for its thread; from the capture thread
    // itself (inside the callback) it only asks it to finish.
    void stop();
    bool running() const { return running_.load(); }

  private:
    void capture_thread(std::shared_ptr<AudioStartGate> gate);

    AudioSourceFactory factory_;
    AudioPacketCallback callback_;
    std::mutex mutex_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> setup_ok_{false};
    std::atomic<bool> running_{false};
};
