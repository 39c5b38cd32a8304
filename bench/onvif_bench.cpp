// GetProfiles answered per second by the ONVIF endpoint on loopback, with 8
// concurrent clients, one request per connection (as recorders do). The real
// listener and connection threads serve; the clients are plain sockets.
#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "engine/net_socket.h"
#include "onvif/onvif_context.h"
#include "onvif/onvif_server.h"

namespace {

uint16_t start_server() {
    static uint16_t port = [] {
        static OnvifContext ctx;
        onvif_identity_from(ctx, "bench-machine");
        ctx.address = "127.0.0.1";
        ctx.width = 1920;
        ctx.height = 1080;
        ctx.sub_stream_on = true;
        ctx.substream_name = "screensub";
        ctx.stream_name = "screenlive";
        ctx.sub_width = 640;
        ctx.sub_height = 360;
        ctx.listen_socket = tcp_listen_on("127.0.0.1", 0, 8);
        ctx.onvif_port = socket_local_port(ctx.listen_socket);
        std::thread(onvif_server, std::ref(ctx)).detach();
        return static_cast<uint16_t>(ctx.onvif_port);
    }();
    return port;
}

const std::string& request() {
    static const std::string r = [] {
        const std::string body =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope "
            "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><trt:GetProfiles "
            "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\"/></s:Body></s:Envelope>";
        return "POST /onvif/media_service HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
               "application/soap+xml; charset=utf-8\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }();
    return r;
}

void BM_GetProfiles(benchmark::State& state) {
    const uint16_t port = start_server();
    char buf[16384];
    int64_t answered = 0;
    for (auto _ : state) {
        const socket_t s = tcp_connect("127.0.0.1", port, 2000);
        if (s == k_invalid_socket) {
            state.SkipWithError("connect failed");
            break;
        }
        send_all(s, request());
        std::string answer;
        for (long n; (n = recv_some(s, buf, sizeof buf)) > 0;)
            answer.append(buf, static_cast<size_t>(n));
        net_close(s);
        if (answer.find("</trt:GetProfilesResponse>") != std::string::npos) ++answered;
    }
    state.SetItemsProcessed(answered);
    if (answered != static_cast<int64_t>(state.iterations()))
        state.SkipWithError("unanswered requests");
}
BENCHMARK(BM_GetProfiles)->Threads(8)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
