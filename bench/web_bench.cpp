// Web panel figures on the current X display (run_web_bench.py provides a
// 1920x1080 Xvfb with a detailed picture on it):
//  1. the cost of one web snapshot (capture + JPEG at quality 55), and of its
//     two halves;
//  2. the answer time (median, p99) of GET /config.json on loopback while 10
//     panels poll the preview every 1200 ms, served by the real listener.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/net_socket.h"
#include "onvif/onvif_snapshot.h"
#include "video/jpeg_encoder.h"
#include "video/screen_capture.h"
#include "web/web_server.h"
#include "web/web_snapshot.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

std::string exchange(uint16_t port, const std::string& request) {
    socket_t s = tcp_connect("127.0.0.1", port, 5000);
    if (s == k_invalid_socket) return "";
    send_all(s, request);
    std::string out;
    char buf[65536];
    long n;
    while ((n = recv_some(s, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    net_close(s);
    return out;
}

void snapshot_cost() {
    ScreenCapturer cap;
    if (!cap.init()) {
        std::printf("no screen: set DISPLAY\n");
        return;
    }
    std::vector<double> whole, capture, encode;
    size_t bytes = 0;
    for (int i = 0; i < 40; ++i) {
        auto t0 = Clock::now();
        const uint8_t* f = cap.capture();
        capture.push_back(ms_since(t0));
        auto t1 = Clock::now();
        bytes = encode_jpeg_bgrx(f, cap.width(), cap.height(), k_web_snapshot_quality).size();
        encode.push_back(ms_since(t1));
        auto t2 = Clock::now();
        web_snapshot();
        whole.push_back(ms_since(t2));
    }
    std::printf(
        "web snapshot %dx%d: median %.1f ms (capture %.1f ms + JPEG q55 %.1f ms), "
        "p99 %.1f ms, %zu bytes\n",
        cap.width(), cap.height(), percentile(whole, 0.5), percentile(capture, 0.5),
        percentile(encode, 0.5), percentile(whole, 0.99), bytes);
}

void config_under_preview_load() {
    static WebAdminContext ctx;
    ctx.data_dir = "/tmp";
    ctx.admin_user = "admin";
    ctx.admin_pass = "bench";
    ctx.advertised_address = "127.0.0.1";
    ctx.listen_socket = tcp_listen_on("127.0.0.1", 0, 64);
    ctx.web_port = socket_local_port(ctx.listen_socket);
    web_context_init(ctx);
    std::thread(web_server, std::ref(ctx)).detach();
    const uint16_t port = static_cast<uint16_t>(ctx.web_port);
    const std::string form = "user=admin&pass=bench";
    const std::string login =
        exchange(port, "POST /login HTTP/1.1\r\nContent-Length: " + std::to_string(form.size()) +
                           "\r\n\r\n" + form);
    const size_t at = login.find("zeb_sess=");
    if (at == std::string::npos) {
        std::printf("login failed\n");
        return;
    }
    const std::string cookie = "Cookie: zeb_sess=" + login.substr(at + 9, 32) + "\r\n";

    std::atomic<bool> stop{false};
    std::atomic<int> previews{0};
    std::vector<std::thread> panels;
    for (int i = 0; i < 10; ++i)
        panels.emplace_back([&, i] {
            std::this_thread::sleep_for(std::chrono::milliseconds(120 * i));  // spread the polls
            while (!stop) {
                auto t0 = Clock::now();
                if (exchange(port, "GET /snapshot.jpg HTTP/1.1\r\n" + cookie + "\r\n").size() >
                    1000)
                    ++previews;
                std::this_thread::sleep_until(t0 + std::chrono::milliseconds(1200));
            }
        });
    std::vector<double> times;
    std::string status;
    for (int i = 0; i < 300; ++i) {
        auto t0 = Clock::now();
        const std::string a = exchange(port, "GET /config.json HTTP/1.1\r\n" + cookie + "\r\n");
        times.push_back(ms_since(t0));
        status = a.substr(9, a.find("\r\n") - 9);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    stop = true;
    for (auto& t : panels) t.join();
    std::printf(
        "GET /config.json (answer \"%s\") with 10 panels polling the preview: "
        "median %.2f ms, p99 %.2f ms over %zu requests; %d previews served\n",
        status.c_str(), percentile(times, 0.5), percentile(times, 0.99), times.size(),
        previews.load());
}

}  // namespace

int main() {
    net_init();
    snapshot_cost();
    config_under_preview_load();
    std::fflush(stdout);
    std::_Exit(0);  // the server thread is still running: no static destructors
}
