#include "video/system_audio.h"

#include <condition_variable>
#include <cstdio>
#include <system_error>
#include <utility>

#include "engine/clock.h"

// The capture thread reports the end of its set-up through this gate; start()
// waits on it. Shared, so that neither side outlives the other's view of it.
struct AudioStartGate {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;

    void signal() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            signalled = true;
        }
        cv.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return signalled; });
    }
};

namespace {

// Set on a capture thread to its record, so that stop() knows when it is
// called from inside the callback.
thread_local const LoopbackAudio* t_capture_owner = nullptr;

// The output may lag the wall clock by at most this many samples (40 ms)
// before silence fills the gap.
constexpr uint64_t k_max_lag_samples = 320;

void say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

bool audio_format_supported(uint32_t tag, uint32_t bits, uint32_t rate, uint32_t channels,
                            SampleKind& kind) {
    bool ok = rate >= 8000 && channels >= 1;
    if (tag == 3 && bits == 32) {
        kind = SampleKind::float32;
    } else if (tag == 1 && bits == 16) {
        kind = SampleKind::pcm16;
    } else {
        ok = false;
    }
    if (!ok) {
        std::printf("Audio: unsupported mix format (tag=%u bits=%u rate=%lu ch=%u)\n", tag, bits,
                    static_cast<unsigned long>(rate), channels);
        std::fflush(stdout);
    }
    return ok;
}

LoopbackAudio::LoopbackAudio(AudioSourceFactory factory) : factory_(std::move(factory)) {}

LoopbackAudio::~LoopbackAudio() {
    stop();
}

bool LoopbackAudio::start(AudioPacketCallback callback) {
    if (!callback) return false;
    if (t_capture_owner == this) return false;  // from inside our own callback
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) {
        if (!stop_.load()) {
            say("Audio: Start ignored (already running)\n");
            return false;
        }
        // The capture stopped itself from its callback; its thread is on its
        // way out, so collect it instead of refusing every later start.
        thread_.join();
    }
    stop_ = false;
    setup_ok_ = false;
    callback_ = std::move(callback);
    auto gate = std::make_shared<AudioStartGate>();
    try {
        thread_ = std::thread(&LoopbackAudio::capture_thread, this, gate);
    } catch (const std::system_error& e) {
        std::printf("Audio: CreateThread failed (err=%lu)\n",
                    static_cast<unsigned long>(e.code().value()));
        std::fflush(stdout);
        return false;
    }
    gate->wait();
    if (setup_ok_.load()) {
        running_ = true;
        return true;
    }
    thread_.join();
    return false;
}

void LoopbackAudio::stop() {
    if (t_capture_owner == this) {
        stop_ = true;
        running_ = false;
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    running_ = false;
}

void LoopbackAudio::capture_thread(std::shared_ptr<AudioStartGate> gate) {
    t_capture_owner = this;
    std::unique_ptr<AudioSource> source = factory_ ? factory_() : nullptr;
    AudioMixFormat format;
    if (!source || !source->open(format)) {
        source.reset();
        setup_ok_ = false;
        gate->signal();
        return;
    }
    std::printf("Audio: loopback started (%lu Hz, %d ch, %s -> 8000 Hz mono G.711u)\n",
                static_cast<unsigned long>(format.rate), static_cast<int>(format.channels),
                format.kind == SampleKind::float32 ? "float32" : "pcm16");
    std::fflush(stdout);
    setup_ok_ = true;
    gate->signal();
    gate.reset();

    UlawPacketizer packets(callback_);
    MonoDecimator decimator(format.rate, format.channels, format.kind, packets);
    const auto sink = [&decimator](const void* data, size_t frames) {
        decimator.push_frames(data, frames);
    };
    const uint64_t start_tick = tick_ms();
    while (!stop_.load()) {
        sleep_ms(10);
        // A lost device is not sought again: silence carries on until stop.
        if (source && !source->read_available(sink)) source.reset();
        // Once the output lags by more than 40 ms, catch up with the clock
        // fully rather than to the 40 ms edge: a source that resumes while the
        // output sits on that edge would otherwise get silence spliced into its
        // sound at every few milliseconds of delivery jitter.
        const uint64_t expected = (tick_ms() - start_tick) * k_ulaw_rate / 1000;
        if (packets.samples_produced() + k_max_lag_samples < expected) {
            while (packets.samples_produced() < expected && !stop_.load())
                packets.push(k_ulaw_silence);
        }
    }
    source.reset();
}

namespace {
std::mutex g_report_lock;
std::string g_last_failure;
}  // namespace

void report_audio_failure(const char* format, unsigned long code) {
    char line[256];
    std::snprintf(line, sizeof line, format, code);
    std::lock_guard<std::mutex> lock(g_report_lock);
    if (g_last_failure == line) return;
    g_last_failure = line;
    std::fputs(line, stdout);
    std::fflush(stdout);
}

void report_audio_started() {
    std::lock_guard<std::mutex> lock(g_report_lock);
    g_last_failure.clear();
}
