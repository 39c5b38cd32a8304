// LoopbackAudio against a real PulseAudio server that the test starts in its
// own runtime directory (never the user's session): set-up failures, a 1 kHz
// tone played into a null sink, and the sink vanishing mid-capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio_test_util.h"
#include "video/system_audio.h"

namespace {

using namespace std::chrono_literals;

bool have_program(const char* name) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Starts `argv` in its own process group with output to `log`; returns its pid.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    if (FILE* f = std::fopen(log.c_str(), "a")) {
        dup2(fileno(f), 1);
        dup2(fileno(f), 2);
    }
    unsetenv("DISPLAY");  // keeps the server from reaching for an X session bus
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void end_group(pid_t& pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(20ms);
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

class PulseCapture : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!have_program("pulseaudio") || !have_program("pactl")) return;
        char dir_template[] = "/tmp/vistrel-audio-XXXXXX";
        if (!mkdtemp(dir_template)) return;
        dir_ = dir_template;
        // Everything the client library and the server look at lives in the
        // private directory, so a real user session is never touched.
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("HOME", dir_.c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/pulse/native").c_str(), 1);
        server_ =
            spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                   "--use-pid-file=no", "--load=module-native-protocol-unix"},
                  dir_ + "/server.log");
        for (int i = 0; i < 250 && !std::filesystem::exists(dir_ + "/pulse/native"); ++i)
            std::this_thread::sleep_for(20ms);
        for (int i = 0; i < 50 && std::system("pactl info >/dev/null 2>&1") != 0; ++i)
            std::this_thread::sleep_for(100ms);
        ready_ = std::system("pactl info >/dev/null 2>&1") == 0;
    }
    static void TearDownTestSuite() {
        end_group(server_);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "no pulseaudio server could be started";
    }
    static bool pactl(const std::string& args) {
        return std::system(("pactl " + args + " >/dev/null 2>&1").c_str()) == 0;
    }

    static inline std::string dir_;
    static inline pid_t server_ = -1;
    static inline bool ready_ = false;
};

TEST(PulseCaptureNoServer, FailsWithTheSetUpMessage) {
    const char* old = getenv("PULSE_SERVER");
    const std::string saved = old ? old : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/vistrel-test/native", 1);
    LoopbackAudio audio;
    audio_test::Received c;
    testing::internal::CaptureStdout();
    const bool started = audio.start(c.callback());
    const std::string out = testing::internal::GetCapturedStdout();
    if (old)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    EXPECT_FALSE(started);
    EXPECT_FALSE(audio.running());
    EXPECT_EQ(out.rfind("Audio: MMDeviceEnumerator failed (hr=0x", 0), 0u) << out;
    EXPECT_EQ(c.count(), 0u);
}

TEST(PulseCaptureNoServer, ServerThatNeverAnswersDoesNotHoldUpStart) {
    // A socket that accepts connections but never speaks: start() runs on the
    // stream distribution thread, so it must give up within its set-up time.
    const std::string path = "/tmp/vistrel-mute-" + std::to_string(getpid());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    const char* old = getenv("PULSE_SERVER");
    const std::string saved = old ? old : "";
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
    LoopbackAudio audio;
    audio_test::Received c;
    testing::internal::CaptureStdout();
    const auto t0 = std::chrono::steady_clock::now();
    const bool started = audio.start(c.callback());
    const auto took = std::chrono::steady_clock::now() - t0;
    const std::string out = testing::internal::GetCapturedStdout();
    if (old)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    close(fd);
    unlink(path.c_str());
    EXPECT_FALSE(started);
    EXPECT_LT(took, 4s);
    EXPECT_EQ(out.rfind("Audio: MMDeviceEnumerator failed (hr=0x", 0), 0u) << out;
}

TEST_F(PulseCapture, NoSinkThenToneThenSinkLost) {
    {
        LoopbackAudio audio;
        audio_test::Received c;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(audio.start(c.callback()));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("Audio: no default render device (hr=0x", 0), 0u) << out;
    }

    ASSERT_TRUE(pactl("load-module module-null-sink sink_name=vs"));
    ASSERT_TRUE(pactl("set-default-sink vs"));
    pid_t tone = -1;
    if (have_program("sox") && have_program("pacat"))
        tone = spawn({"sh", "-c",
                      "sox -n -r 48000 -c 2 -t raw -e signed -b 16 - synth 6 sine 1000 vol 0.5"
                      " | pacat --raw --rate=48000 --channels=2 --format=s16le -d vs"},
                     dir_ + "/tone.log");
    if (tone < 0) GTEST_SKIP() << "sox or pacat missing";
    std::this_thread::sleep_for(500ms);

    LoopbackAudio audio;
    audio_test::Received c;
    testing::internal::CaptureStdout();
    const bool started = audio.start(c.callback());
    // A null sink that was idle may take up to two seconds before its monitor
    // delivers (the capture sends silence meanwhile): wait for 1.2 s of sound.
    size_t first_loud = 0;
    for (int i = 0; i < 160 && started; ++i) {
        std::this_thread::sleep_for(50ms);
        std::lock_guard<std::mutex> lock(c.mutex);
        const auto quiet = [](const audio_test::Packet& p) {
            return std::count(p.bytes.begin(), p.bytes.end(), k_ulaw_silence) > 80;
        };
        while (first_loud < c.packets.size() && quiet(c.packets[first_loud])) ++first_loud;
        if (first_loud + 60 <= c.packets.size()) break;
    }
    const size_t before_loss = c.count();
    // The sink goes away while we record: silence must carry on.
    pactl("unload-module module-null-sink");
    std::this_thread::sleep_for(600ms);
    const size_t after_loss = c.count();
    const bool running = audio.running();
    audio.stop();
    const std::string out = testing::internal::GetCapturedStdout();
    end_group(tone);

    ASSERT_TRUE(started) << out;
    EXPECT_EQ(out.rfind("Audio: loopback started (", 0), 0u) << out;
    EXPECT_NE(out.find(" Hz, 2 ch, pcm16 -> 8000 Hz mono G.711u)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Audio: capture device lost (hr=0x"), std::string::npos) << out;
    EXPECT_NE(out.find("), continuing with silence\n"), std::string::npos) << out;
    EXPECT_TRUE(running);
    EXPECT_GE(after_loss, before_loss + 20);  // 600 ms of silence still arrive as packets

    std::lock_guard<std::mutex> lock(c.mutex);
    ASSERT_GE(before_loss, first_loud + 60);
    for (size_t i = 0; i < c.packets.size(); ++i) ASSERT_EQ(c.packets[i].timestamp, i * 160);
    // One second of sound from the middle of the tone.
    std::vector<audio_test::Packet> middle(c.packets.begin() + first_loud + 5,
                                           c.packets.begin() + first_loud + 55);
    const auto a = audio_test::analyse(audio_test::decode(middle), 8000.0);
    EXPECT_NEAR(a.peak_hz, 1000.0, 5.0);
    EXPECT_GT(a.tone_snr_db, 20.0);
    EXPECT_NEAR(a.tone_amplitude, 0.5 * 32767, 0.1 * 32767);
    for (uint8_t b : c.packets.back().bytes) EXPECT_EQ(b, 0xFF);
}

}  // namespace
