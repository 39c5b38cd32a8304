// LoopbackAudio against a real PulseAudio server that the test starts in its
// own runtime directory (never the user's session): no server, a 1 kHz tone
// played into a null sink, and the sink vanishing mid-capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "audio_test_util.h"
#include "video/system_audio.h"

namespace {

using namespace std::chrono_literals;
using audio_test::Received;

bool sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// Starts a shell command in its own process group, output to log; returns its pid.
pid_t spawn(const std::string& cmd, const std::string& log) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    unsetenv("DISPLAY");  // keeps the server from reaching for an X session bus
    execlp("sh", "sh", "-c", (cmd + " >>" + log + " 2>&1").c_str(), nullptr);
    _exit(127);
}

void end_group(pid_t pid) {
    kill(-pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(20ms);
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// No server at all, and a socket that accepts but never speaks: start() runs
// on the stream distribution thread, so it must give up within its set-up time.
TEST(PulseCaptureNoServer, FailsQuicklyWithTheSetUpMessage) {
    const std::string mute = "/tmp/vistrel-mute-" + std::to_string(getpid());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", mute.c_str());
    unlink(mute.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    // The camera retries every few seconds: the same failure again prints
    // nothing, a different one is printed.
    const std::string gone = "unix:/nonexistent/vistrel-test/native";
    for (const auto& [server, said] :
         {std::pair{gone, true}, {gone, false}, {"unix:" + mute, true}}) {
        setenv("PULSE_SERVER", server.c_str(), 1);  // every test here sets its own
        LoopbackAudio audio;
        Received r;
        testing::internal::CaptureStdout();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(audio.start(r.callback())) << server;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 4s) << server;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(audio.running());
        EXPECT_EQ(out.rfind("Audio: no sound server (PulseAudio error ", 0),
                  said ? 0u : std::string::npos)
            << server << ": " << out;
        EXPECT_EQ(r.count(), 0u);
    }
    close(fd);
    unlink(mute.c_str());
}

TEST(PulseCapture, ToneThenSinkLost) {
    if (!sh("command -v pulseaudio && command -v pactl && command -v sox && command -v pacat"))
        GTEST_SKIP() << "pulseaudio, pactl, sox or pacat missing";
    char dir_template[] = "/tmp/vistrel-audio-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    // Everything the client library and the server look at lives in the
    // private directory, so a real user session is never touched.
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + dir + "/pulse/native").c_str(), 1);
    const pid_t server = spawn(
        "exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit "
        "--use-pid-file=no --load=module-native-protocol-unix",
        dir + "/server.log");
    for (int i = 0; i < 100 && !sh("pactl info"); ++i) std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(sh("pactl info")) << "no pulseaudio server could be started";
    ASSERT_TRUE(sh("pactl load-module module-null-sink sink_name=vs && pactl set-default-sink vs"));
    const pid_t tone = spawn(
        "sox -n -r 48000 -c 2 -t raw -e signed -b 16 - synth 6 sine 1000 vol 0.5"
        " | pacat --raw --rate=48000 --channels=2 --format=s16le -d vs",
        dir + "/tone.log");
    std::this_thread::sleep_for(500ms);

    LoopbackAudio audio;
    Received r;
    testing::internal::CaptureStdout();
    const bool started = audio.start(r.callback());
    // A null sink that was idle may take up to two seconds before its monitor
    // delivers (the capture sends silence meanwhile): wait for 1.2 s of sound.
    size_t first_loud = 0;
    for (int i = 0; i < 160 && started; ++i) {
        std::this_thread::sleep_for(50ms);
        std::lock_guard<std::mutex> lock(r.mutex);
        while (first_loud < r.packets.size() &&
               std::count(r.packets[first_loud].bytes.begin(), r.packets[first_loud].bytes.end(),
                          k_ulaw_silence) > 80)
            ++first_loud;
        if (first_loud + 100 <= r.packets.size()) break;
    }
    const size_t before_loss = r.count();
    sh("pactl unload-module module-null-sink");  // silence must carry on
    std::this_thread::sleep_for(600ms);
    const size_t after_loss = r.count();
    const bool running = audio.running();
    audio.stop();
    const std::string out = testing::internal::GetCapturedStdout();
    end_group(tone);
    end_group(server);
    std::filesystem::remove_all(dir);

    ASSERT_TRUE(started) << out;
    EXPECT_EQ(out.rfind("Audio: loopback started (", 0), 0u) << out;
    for (const char* line :
         {" Hz, 2 ch, pcm16 -> 8000 Hz mono G.711u)\n",
          "Audio: sound server lost (PulseAudio error ", "), continuing with silence\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    EXPECT_TRUE(running);
    EXPECT_GE(after_loss, before_loss + 20);  // 600 ms of silence still arrive as packets
    ASSERT_GE(before_loss, first_loud + 100);
    for (size_t i = 0; i < r.packets.size(); ++i) ASSERT_EQ(r.packets[i].timestamp, i * 160);
    // The conversion is judged on one second of the tone. A capture thread
    // held up for more than 40 ms on a loaded machine gets silence spliced in
    // (by design: the packets keep real-time pace), so the best second counts.
    audio_test::Tone t{};
    for (size_t at = first_loud + 5; at + 50 <= before_loss; at += 5) {
        const std::vector<audio_test::Packet> second(r.packets.begin() + at,
                                                     r.packets.begin() + at + 50);
        const auto here = audio_test::tone_1khz(second);
        if (at == first_loud + 5 || here.snr_db > t.snr_db) t = here;
    }
    EXPECT_GT(t.snr_db, 20.0);
    EXPECT_NEAR(t.amplitude, 0.5 * 32767, 0.1 * 32767);
    EXPECT_EQ(r.packets.back().bytes, std::vector<uint8_t>(160, 0xFF));
}

}  // namespace
