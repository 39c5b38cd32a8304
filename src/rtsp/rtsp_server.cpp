#include <stdexcept>
#include <string>
#include <thread>

#include "engine/clock.h"
#include "engine/log.h"
#include "engine/ports.h"
#include "rtsp/connection_table.h"
#include "rtsp/rtsp_connection.h"
#include "rtsp/rtsp_engine.h"

namespace {

// Starts a detached thread for the connection. An address at its bound, or
// the port at its overall bound, gets the connection closed at once; when no
// thread can be made the connection is closed and the camera goes on.
void serve(RtspEngine& e, socket_t s, const std::string& peer) {
    ConnectionTable& table = rtsp_connection_table();
    if (!table.admit(s, peer, e.bounds)) {
        engine_vlog("RTSP: too many connections from %s, closed\n", peer.c_str());
        net_close(s);
        return;
    }
    try {
        std::thread([&e, s, peer] { rtsp_connection(e, s, peer); }).detach();
    } catch (const std::system_error&) {
        engine_log("RTSP: no thread for the connection from %s, closed\n", peer.c_str());
        table.closed(s);
        net_close(s);
    }
}

}  // namespace

void rtsp_server(RtspEngine& e) {
    net_init();
    if (e.listen_socket == k_invalid_socket) {
        socket_t s = tcp_listen(uint16_t(e.port), 8, true);
        if (s == k_invalid_socket) {
            engine_log("RTSP bind failed on port %d: %d\n", e.port, net_last_error());
            port_slot(k_slot_rtsp).requested.store(e.port);
            port_slot(k_slot_rtsp).state.store(k_slot_state_down);
            return;
        }
        e.listen_socket = s;
    }
    std::string suffix = e.substream_enabled ? " (+sub: " + e.sub_stream_name + ")" : std::string();
    engine_log("RTSP server ready (multi-client) -> rtsp://<ip>:%d/%s%s\n", e.port,
               e.main_stream_name.c_str(), suffix.c_str());
    std::thread([&e] { stream_distribution_loop(e); }).detach();
    for (;;) {
        std::string peer;
        socket_t s = tcp_accept(e.listen_socket, &peer);
        if (s == k_invalid_socket) {
            // Out of descriptors or similar: retry, without spinning a core.
            sleep_ms(10);
            continue;
        }
        if (peer.size() > 64) peer.resize(64);
        engine_log("RTSP: connection from %s\n", peer.c_str());
        serve(e, s, peer);
    }
}
