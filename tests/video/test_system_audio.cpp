// LoopbackAudio's start/stop rules and its real-time silence, with a scripted
// recorder in place of the platform's.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "audio_test_util.h"
#include "video/system_audio.h"

namespace {

using namespace std::chrono_literals;
using audio_test::Received;

struct Script {
    bool open_ok = true;
    int lose_after_reads = -1;   // device lost on this read (-1: never)
    size_t frames_per_read = 0;  // full-scale 48 kHz stereo frames; 0: nothing
    std::atomic<int> reads{0};
    std::atomic<int> sources_alive{0};
};

class ScriptedSource : public AudioSource {
  public:
    explicit ScriptedSource(Script& s) : s_(s) { ++s_.sources_alive; }
    ~ScriptedSource() override { --s_.sources_alive; }
    bool open(AudioMixFormat& f) override {
        f = {48000, 2, SampleKind::float32};
        return s_.open_ok;
    }
    bool read_available(const std::function<void(const void*, size_t)>& sink) override {
        if (++s_.reads == s_.lose_after_reads) return false;
        std::vector<float> loud(s_.frames_per_read * 2, 1.0f);
        if (s_.frames_per_read) sink(loud.data(), s_.frames_per_read);
        return true;
    }

  private:
    Script& s_;
};

AudioSourceFactory factory_for(Script& s) {
    return [&s] { return std::make_unique<ScriptedSource>(s); };
}

void wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(5ms);
}

TEST(LoopbackAudio, StartAndStopRules) {
    Script s;
    s.frames_per_read = 480;  // 10 ms of full-scale sound per read
    LoopbackAudio audio(factory_for(s));
    Received first, second;
    EXPECT_FALSE(audio.start(nullptr));
    s.open_ok = false;
    EXPECT_FALSE(audio.start(first.callback()));
    EXPECT_EQ(s.sources_alive, 0);  // nothing kept after a failed set-up
    s.open_ok = true;               // a later retry succeeds
    ASSERT_TRUE(audio.start(first.callback()));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(audio.start(second.callback()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Audio: Start ignored (already running)\n");
    wait_until([&] { return first.count() >= 5; });
    audio.stop();
    EXPECT_FALSE(audio.running());
    EXPECT_EQ(s.sources_alive, 0);
    EXPECT_EQ(second.count(), 0u);
    ASSERT_GE(first.count(), 5u);
    size_t loud = 0;
    for (size_t i = 0; i < first.packets.size(); ++i) {
        EXPECT_EQ(first.packets[i].timestamp, i * 160);
        loud += std::count(first.packets[i].bytes.begin(), first.packets[i].bytes.end(), 0x80);
    }
    EXPECT_GT(loud, 4u * 160 / 2);  // the device's sound, not only filler silence

    // Viewers come and go: a stopped capture starts again, counting from 0.
    Received again;
    ASSERT_TRUE(audio.start(again.callback()));
    wait_until([&] { return again.count() >= 1; });
    audio.stop();
    ASSERT_GE(again.count(), 1u);
    EXPECT_EQ(again.packets[0].timestamp, 0u);
}

TEST(LoopbackAudio, SilenceKeepsPaceWithTheClockAndSurvivesDeviceLoss) {
    for (int lose : {-1, 3}) {
        Script s;
        s.lose_after_reads = lose;
        LoopbackAudio audio(factory_for(s));
        Received r;
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(audio.start(r.callback()));
        std::this_thread::sleep_for(600ms);
        const size_t got = r.count();
        const auto ms = (std::chrono::steady_clock::now() - t0) / 1ms;
        EXPECT_TRUE(audio.running());
        audio.stop();
        // Never more than 40 ms (2 packets) behind; allow for a poll and a busy machine.
        EXPECT_GE(got + 5, static_cast<size_t>(ms / 20)) << "lose=" << lose;
        EXPECT_LE(got, static_cast<size_t>(ms / 20) + 1) << "lose=" << lose;
        if (lose > 0) {
            EXPECT_EQ(s.reads, lose);  // the lost device is not polled again
            EXPECT_EQ(s.sources_alive, 0);
        }
        for (const auto& p : r.packets) ASSERT_EQ(p.bytes, std::vector<uint8_t>(160, 0xFF));
    }
}

}  // namespace
