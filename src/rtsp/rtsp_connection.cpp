#include "rtsp/rtsp_connection.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/clock.h"
#include "engine/log.h"
#include "rtsp/digest_auth.h"
#include "rtsp/recent_clients.h"
#include "rtsp/rtp_packetizer.h"
#include "rtsp/rtsp_engine.h"
#include "rtsp/rtsp_request.h"

namespace {

constexpr uint64_t k_sender_report_ms = 5000;
// How often a play loop that is waiting for a frame looks at its socket, so a
// client that leaves while no frames come is noticed.
constexpr auto k_idle_poll = std::chrono::milliseconds(1000);

// In-play requests: keep-alives are answered, TEARDOWN or a closed socket ends
// the play loop. Returns false when the loop must end.
bool serve_inplay_requests(socket_t s) {
    if (wait_readable(s, 0) != 1) return true;
    char buf[2048];
    long n = recv_some(s, buf, sizeof buf - 1);
    if (n <= 0) return false;
    std::string_view text(buf, size_t(n));
    bool found = false;
    int32_t cseq = request_cseq(text, true, &found);
    if (text.find("TEARDOWN") != std::string_view::npos) {
        // Answered before closing: clients treat a TEARDOWN left unanswered as
        // an error on every normal stop.
        if (found) send_all(s, teardown_reply(cseq));
        return false;
    }
    if (!found) return true;  // RTCP receiver reports and other bytes are ignored
    return send_all(s, keepalive_reply(cseq));
}

struct RtcpState {
    uint32_t packets = 0;
    uint64_t octets = 0;
    uint32_t last_timestamp = 0;
    uint64_t last_wallclock_us = 0;
    bool any = false;
};

void note_sent(RtcpState& r, uint32_t timestamp, uint64_t wallclock_us) {
    r.last_timestamp = timestamp;
    r.last_wallclock_us = wallclock_us;
    r.any = true;
}

// Waits for this client's next frame; false when the client left meanwhile.
bool next_frame(socket_t s, StreamQueue& q, std::optional<uint64_t>& last_sent, FrameRecord& out) {
    std::unique_lock<std::mutex> lock(q.mutex);
    for (;;) {
        if (auto f = choose_frame(q, last_sent)) {
            out = *f;
            last_sent = out.sequence;
            return true;
        }
        if (q.frame_cond.wait_for(lock, k_idle_poll) == std::cv_status::timeout) {
            lock.unlock();
            if (!serve_inplay_requests(s)) return false;
            lock.lock();
        }
    }
}

}  // namespace

void rtsp_play_loop(RtspEngine& e, socket_t s, StreamQueue& q, bool audio_requested) {
    std::optional<uint64_t> last_video, last_audio;
    uint16_t video_seq = 0, audio_seq = 0;
    RtcpState video_rtcp, audio_rtcp;
    uint64_t last_report = 0;
    bool reported = false;
    std::vector<uint8_t> out;
    FrameRecord frame;
    for (;;) {
        if (!next_frame(s, q, last_video, frame)) return;
        out.clear();
        uint64_t octets = 0;
        video_rtcp.packets += uint32_t(append_access_unit(
            out, frame.data->data(), frame.data->size(), video_seq, frame.timestamp, &octets));
        video_rtcp.octets += octets;
        note_sent(video_rtcp, frame.timestamp, frame.wallclock_us);

        if (audio_requested && e.audio_enabled) {
            for (const AudioPacket& p : take_audio(e.audio_queue, last_audio)) {
                append_rtp(out, k_audio_channel, k_audio_payload_type, p.data->data(),
                           p.data->size(), audio_seq++, p.timestamp, k_audio_ssrc, true);
                ++audio_rtcp.packets;
                audio_rtcp.octets += p.data->size();
                note_sent(audio_rtcp, p.timestamp, p.wallclock_us);
            }
        }

        uint64_t now = tick_ms();
        if (!reported || now - last_report >= k_sender_report_ms) {
            reported = true;
            last_report = now;
            append_rtcp_sender_report(out, k_video_channel + 1, k_video_ssrc,
                                      video_rtcp.last_wallclock_us, video_rtcp.last_timestamp,
                                      video_rtcp.packets, uint32_t(video_rtcp.octets));
            if (audio_rtcp.any)
                append_rtcp_sender_report(out, k_audio_channel + 1, k_audio_ssrc,
                                          audio_rtcp.last_wallclock_us, audio_rtcp.last_timestamp,
                                          audio_rtcp.packets, uint32_t(audio_rtcp.octets));
        }
        if (!send_all(s, out.data(), out.size())) return;
        frame = FrameRecord();  // drop the hold on the frame's bytes
        if (!serve_inplay_requests(s)) return;
    }
}

namespace {

void play(RtspEngine& e, socket_t s, const std::string& peer, const RtspConnState& st) {
    {
        std::lock_guard<std::mutex> lock(e.engine_mutex);
        if (e.playing_clients.fetch_add(1) == 0) e.keyframe_request.exchange(1);
    }
    e.engine_cond.notify_all();
    int32_t kind = st.sub_selected ? k_client_sub : k_client_main;
    client_connected(peer, kind);
    rtsp_play_loop(e, s, st.sub_selected ? e.sub_queue : e.main_queue, st.audio_requested);
    client_disconnected(peer, kind);
    e.playing_clients.fetch_sub(1);
}

}  // namespace

namespace {
std::mutex g_pending_mutex;
std::deque<socket_t> g_pending;  // oldest first
}  // namespace

void pending_add(socket_t s) {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    g_pending.push_back(s);
}

void pending_remove(socket_t s) {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    for (auto it = g_pending.begin(); it != g_pending.end(); ++it)
        if (*it == s) {
            g_pending.erase(it);
            return;
        }
}

size_t pending_count() {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    return g_pending.size();
}

void pending_evict_oldest() {
    std::lock_guard<std::mutex> lock(g_pending_mutex);
    if (g_pending.empty()) return;
    // The owner closes the socket only after pending_remove, which takes this
    // mutex, so the descriptor is still this connection's here.
    net_shutdown(g_pending.front());
    g_pending.pop_front();
}

void rtsp_connection(RtspEngine& e, socket_t s, const std::string& peer) {
    RtspConnState st;
    st.nonce = random_hex(16);
    // Until it plays, a connection that stays silent this long is closed.
    set_recv_timeout(s, e.idle_timeout_ms);
    set_send_timeout(s, e.idle_timeout_ms);
    bool pending = true;
    std::vector<char> buf(8192);
    for (;;) {
        long n = recv_some(s, buf.data(), 8191);
        if (n <= 0) break;
        RtspOutcome out = handle_rtsp_request(e, st, std::string_view(buf.data(), size_t(n)));
        if (!send_all(s, out.reply)) break;
        if (out.next == RtspNext::close) break;
        if (out.next == RtspNext::play) {
            set_recv_timeout(s, 0);
            set_send_timeout(s, e.play_send_timeout_ms);
            e.pending_connections.fetch_sub(1);
            pending_remove(s);
            pending = false;
            play(e, s, peer, st);
            break;
        }
    }
    if (pending) {
        e.pending_connections.fetch_sub(1);
        pending_remove(s);
    }
    net_close(s);
}
