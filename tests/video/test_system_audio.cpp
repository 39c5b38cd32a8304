// LoopbackAudio's start/stop rules and its real-time silence, with a scripted
// recorder in place of the platform's.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "audio_test_util.h"
#include "video/system_audio.h"

namespace {

struct Script {
    bool open_ok = true;
    uint32_t rate = 48000;
    uint16_t channels = 2;
    int lose_after_reads = -1;   // device lost on this read (-1: never)
    size_t frames_per_read = 0;  // 0: the device delivers nothing
    int silent_reads = -1;       // >= 0: quiet for this many reads, then real-time
                                 // sound delivered on every second read only
    std::atomic<int> reads{0};
    std::atomic<int> sources_alive{0};
};

class ScriptedSource : public AudioSource {
  public:
    explicit ScriptedSource(Script& s) : s_(s) { ++s_.sources_alive; }
    ~ScriptedSource() override { --s_.sources_alive; }
    bool open(AudioMixFormat& f) override {
        f = {s_.rate, s_.channels, SampleKind::float32};
        return s_.open_ok;
    }
    bool read_available(const std::function<void(const void*, size_t)>& sink) override {
        const int n = ++s_.reads;
        if (n == s_.lose_after_reads) return false;
        if (s_.silent_reads >= 0) return jittery(n, sink);
        if (s_.frames_per_read) {
            std::vector<float> loud(s_.frames_per_read * s_.channels, 1.0f);
            sink(loud.data(), s_.frames_per_read);
        }
        return true;
    }

  private:
    bool jittery(int n, const std::function<void(const void*, size_t)>& sink) {
        if (n <= s_.silent_reads) return true;
        const auto now = std::chrono::steady_clock::now();
        if (n == s_.silent_reads + 1) resumed_ = now;
        if (n % 2) return true;
        const auto due = static_cast<size_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(now - resumed_).count() *
            s_.rate / 1000000);
        std::vector<float> loud((due - delivered_) * s_.channels, 1.0f);
        sink(loud.data(), due - delivered_);
        delivered_ = due;
        return true;
    }

    Script& s_;
    std::chrono::steady_clock::time_point resumed_;
    size_t delivered_ = 0;
};

AudioSourceFactory factory_for(Script& s) {
    return [&s] { return std::make_unique<ScriptedSource>(s); };
}

void wait_for(const std::function<bool()>& done, int max_ms = 5000) {
    for (int i = 0; i < max_ms / 5 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(LoopbackAudio, RefusesEmptyCallbackAndFailedSetUp) {
    Script s;
    LoopbackAudio audio(factory_for(s));
    EXPECT_FALSE(audio.start(nullptr));
    s.open_ok = false;
    audio_test::Received r;
    EXPECT_FALSE(audio.start(r.callback()));
    EXPECT_FALSE(audio.running());
    EXPECT_EQ(s.sources_alive, 0);  // nothing kept after a failed set-up
    s.open_ok = true;               // a later retry succeeds
    EXPECT_TRUE(audio.start(r.callback()));
    EXPECT_TRUE(audio.running());
    audio.stop();
    EXPECT_FALSE(audio.running());
    EXPECT_EQ(s.sources_alive, 0);
}

TEST(LoopbackAudio, SecondStartIsIgnoredWithoutDisturbingTheFirst) {
    Script s;
    s.frames_per_read = 480;  // 10 ms of full-scale sound per read
    LoopbackAudio audio(factory_for(s));
    audio_test::Received first, second;
    ASSERT_TRUE(audio.start(first.callback()));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(audio.start(second.callback()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Audio: Start ignored (already running)\n");
    wait_for([&] { return first.count() >= 5; });
    audio.stop();
    EXPECT_EQ(second.count(), 0u);
    ASSERT_GE(first.count(), 5u);
    std::lock_guard<std::mutex> lock(first.mutex);
    for (size_t i = 0; i < first.packets.size(); ++i)
        EXPECT_EQ(first.packets[i].timestamp, i * 160);
    size_t loud = 0;
    for (const auto& p : first.packets)
        for (uint8_t b : p.bytes) loud += b == 0x80;
    EXPECT_GT(loud, 4u * 160 / 2);  // the device's sound, not only filler silence
}

TEST(LoopbackAudio, SilenceKeepsPaceWithTheClockAndSurvivesDeviceLoss) {
    for (int lose : {-1, 3}) {
        Script s;
        s.lose_after_reads = lose;
        LoopbackAudio audio(factory_for(s));
        audio_test::Received r;
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(audio.start(r.callback()));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        const size_t got = r.count();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        EXPECT_TRUE(audio.running());
        audio.stop();
        // Never more than 40 ms (2 packets) behind; allow for a poll and a
        // busy machine.
        EXPECT_GE(got + 5, static_cast<size_t>(ms / 20)) << "lose=" << lose;
        EXPECT_LE(got, static_cast<size_t>(ms / 20) + 1) << "lose=" << lose;
        if (lose > 0) {
            EXPECT_EQ(s.reads, lose);  // the lost device is not polled again
            EXPECT_EQ(s.sources_alive, 0);
        }
        std::lock_guard<std::mutex> lock(r.mutex);
        for (const auto& p : r.packets)
            for (uint8_t b : p.bytes) ASSERT_EQ(b, 0xFF);
    }
}

TEST(LoopbackAudio, SoundResumingAfterSilenceIsNotCutByFiller) {
    Script s;
    s.silent_reads = 20;  // ~200 ms of nothing, then sound arriving in 20 ms bursts
    LoopbackAudio audio(factory_for(s));
    audio_test::Received r;
    ASSERT_TRUE(audio.start(r.callback()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    audio.stop();
    std::vector<uint8_t> all;
    for (const auto& p : r.packets) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    const auto first = std::find(all.begin(), all.end(), 0x80);
    ASSERT_NE(first, all.end());
    // Filler may catch up once when the sound resumes; after that, the
    // delivery jitter must not splice silence into the sound.
    int gaps = 0;
    for (auto it = first; it + 1 != all.end(); ++it) gaps += it[0] == 0x80 && it[1] == 0xFF;
    EXPECT_LE(gaps, 1);
    EXPECT_GT(std::count(first, all.end(), 0x80), 8000 * 8 / 10);  // about a second of sound
}

TEST(LoopbackAudio, StopFromTheCallbackThenRestartFromZero) {
    Script s;
    LoopbackAudio audio(factory_for(s));
    std::atomic<int> calls{0};
    ASSERT_TRUE(audio.start([&](const uint8_t*, size_t, uint32_t) {
        if (++calls == 2) audio.stop();
    }));
    wait_for([&] { return !audio.running(); });
    EXPECT_FALSE(audio.running());
    audio_test::Received r;
    ASSERT_TRUE(
        audio.start(r.callback()));  // the stopped thread is collected, not "already running"
    wait_for([&] { return r.count() >= 1; });
    audio.stop();
    ASSERT_GE(r.count(), 1u);
    EXPECT_EQ(r.packets[0].timestamp, 0u);
    EXPECT_LE(calls.load(), 3);
}

TEST(LoopbackAudio, FormatCheck) {
    SampleKind kind{};
    EXPECT_TRUE(audio_format_supported(3, 32, 48000, 2, kind));
    EXPECT_EQ(kind, SampleKind::float32);
    EXPECT_TRUE(audio_format_supported(1, 16, 22050, 1, kind));
    EXPECT_EQ(kind, SampleKind::pcm16);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(audio_format_supported(1, 8, 48000, 2, kind));
    EXPECT_FALSE(audio_format_supported(1, 24, 44100, 2, kind));
    EXPECT_FALSE(audio_format_supported(3, 32, 7999, 2, kind));
    EXPECT_FALSE(audio_format_supported(3, 32, 48000, 0, kind));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Audio: unsupported mix format (tag=1 bits=8 rate=48000 ch=2)\n"
              "Audio: unsupported mix format (tag=1 bits=24 rate=44100 ch=2)\n"
              "Audio: unsupported mix format (tag=3 bits=32 rate=7999 ch=2)\n"
              "Audio: unsupported mix format (tag=3 bits=32 rate=48000 ch=0)\n");
}

}  // namespace
