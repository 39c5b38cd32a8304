#include "rtsp/rtsp_connection.h"

#include <algorithm>
#include <chrono>
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
#include "rtsp/rtsp_reader.h"
#include "rtsp/rtsp_request.h"

namespace {

constexpr uint64_t k_sender_report_ms = 5000;
constexpr int k_viewer_send_buffer = 512 * 1024;
// How often a play loop that is waiting for a frame looks at its socket, so a
// client that leaves while no frames come is noticed.
constexpr auto k_idle_poll = std::chrono::milliseconds(1000);

enum class SendResult { sent, failed, stalled };

// Sends the whole buffer, unless the client takes none of what is left for
// timeout_ms: a viewer whose socket stays full that long is gone for good.
SendResult send_to_viewer(socket_t s, const uint8_t* p, size_t len, uint32_t timeout_ms) {
    uint64_t blocked_since = 0;
    while (len > 0) {
        long n = send_some(s, p, len);
        if (n < 0) return SendResult::failed;
        if (n > 0) {
            p += n;
            len -= size_t(n);
            continue;
        }
        uint64_t now = tick_ms();
        if (blocked_since == 0) blocked_since = now;
        if (now - blocked_since >= timeout_ms) return SendResult::stalled;
    }
    return SendResult::sent;
}

// Answers one request that came while playing; false when the loop must end.
bool serve_inplay_request(socket_t s, uint32_t send_timeout_ms, std::string_view request) {
    bool found = false;
    int32_t cseq = request_cseq(request_head(request), true, &found);
    if (request_method(request) == "TEARDOWN") {
        // Answered before closing: clients treat a TEARDOWN left unanswered as
        // an error on every normal stop.
        if (found) send_all(s, teardown_reply(cseq));
        return false;
    }
    if (!found) return true;
    std::string reply = keepalive_reply(cseq);
    return send_to_viewer(s, reinterpret_cast<const uint8_t*>(reply.data()), reply.size(),
                          send_timeout_ms) == SendResult::sent;
}

// In-play requests: every whole request already received is answered in
// order (keep-alives; TEARDOWN or a closed socket ends the play loop), then
// whatever the socket holds is read without waiting and served the same way.
// Interleaved RTCP reports are dropped; an unfinished request stays for the
// next call. Returns false when the loop must end.
bool serve_inplay_requests(socket_t s, uint32_t send_timeout_ms, RequestReader& reader) {
    for (bool read = false;;) {
        std::string request;
        int r = take_request(reader.pending, reader.max_head, reader.max_body, request);
        if (r > 0) {
            if (!serve_inplay_request(s, send_timeout_ms, request)) return false;
            continue;
        }
        // Bytes that cannot be framed as a request are dropped; streaming goes on.
        if (r < 0) reader.pending.clear();
        if (read || wait_readable(s, 0) != 1) return true;
        char buf[4096];
        long n = recv_some(s, buf, sizeof buf);
        if (n <= 0) return false;
        reader.pending.append(buf, size_t(n));
        read = true;
    }
}

// Sender-report counters of one track of one viewer. offset turns the media
// clock into this viewer's RTP time: chosen with the first packet so that it
// carries the random initial timestamp announced in RTP-Info.
struct TrackState {
    bool started = false;
    uint32_t offset = 0;
    uint32_t packets = 0;
    uint64_t octets = 0;
};

uint32_t rtp_time(TrackState& t, uint32_t media_time, uint32_t first_rtptime) {
    if (!t.started) {
        t.started = true;
        t.offset = first_rtptime - media_time;
    }
    return media_time + t.offset;
}

// Waits for this client's next frame; false when the client left meanwhile.
bool next_frame(socket_t s, uint32_t send_timeout_ms, RequestReader& reader, StreamQueue& q,
                std::optional<uint64_t>& last_sent, FrameRecord& out) {
    std::unique_lock<std::mutex> lock(q.mutex);
    for (;;) {
        if (auto f = choose_frame(q, last_sent)) {
            out = *f;
            last_sent = out.sequence;
            return true;
        }
        if (q.frame_cond.wait_for(lock, k_idle_poll) == std::cv_status::timeout) {
            lock.unlock();
            if (!serve_inplay_requests(s, send_timeout_ms, reader)) return false;
            lock.lock();
        }
    }
}

// Sender reports map the RTP time of the media clock's present moment to the
// wall clock, for video and (once it has started) audio.
void append_sender_reports(std::vector<uint8_t>& out, const TrackState& video,
                           const TrackState& audio) {
    uint64_t media_us = media_clock_us();
    uint64_t wall_us = wallclock_now_us();
    append_rtcp_sender_report(out, k_video_channel + 1, k_video_ssrc, wall_us,
                              uint32_t(media_ticks(media_us, 90000)) + video.offset, video.packets,
                              uint32_t(video.octets));
    if (audio.started)
        append_rtcp_sender_report(out, k_audio_channel + 1, k_audio_ssrc, wall_us,
                                  uint32_t(media_ticks(media_us, 8000)) + audio.offset,
                                  audio.packets, uint32_t(audio.octets));
}

}  // namespace

void rtsp_play_loop(RtspEngine& e, socket_t s, StreamQueue& q, bool audio_requested,
                    const PlayStart& start, const std::string& peer, RequestReader& reader) {
    std::optional<uint64_t> last_video, last_audio;
    uint16_t video_seq = start.video_seq, audio_seq = start.audio_seq;
    TrackState video, audio;
    uint64_t last_report = 0;
    bool reported = false;
    std::vector<uint8_t> out;
    FrameRecord frame;
    // A short send time-out per call; the viewer's time-out is counted across calls.
    set_send_timeout(s, std::min<uint32_t>(1000, e.play_send_timeout_ms));
    // Requests that came in the same read as PLAY are answered before any media.
    if (!serve_inplay_requests(s, e.play_send_timeout_ms, reader)) return;
    for (;;) {
        if (!next_frame(s, e.play_send_timeout_ms, reader, q, last_video, frame)) return;
        out.clear();
        const bool video_had_started = video.started, audio_had_started = audio.started;
        const uint32_t ts = rtp_time(video, frame.timestamp, start.video_rtptime);
        std::vector<AudioPacket> sound;
        if (audio_requested && e.audio_enabled) sound = take_audio(e.audio_queue, last_audio);
        if (!sound.empty()) rtp_time(audio, sound.front().timestamp, start.audio_rtptime);

        uint64_t now = tick_ms();
        // A report ahead of the first media of each track, so that players map
        // its RTP time to the wall clock from its first packet on (a report
        // that came after would shift the track in time); then every few seconds.
        if (!reported || now - last_report >= k_sender_report_ms ||
            video.started != video_had_started || audio.started != audio_had_started) {
            reported = true;
            last_report = now;
            append_sender_reports(out, video, audio);
        }

        uint64_t octets = 0;
        video.packets += uint32_t(append_access_unit(out, frame.data->data(), frame.data->size(),
                                                     video_seq, ts, &octets));
        video.octets += octets;
        for (const AudioPacket& p : sound) {
            append_rtp(out, k_audio_channel, k_audio_payload_type, p.data->data(), p.data->size(),
                       audio_seq++, rtp_time(audio, p.timestamp, start.audio_rtptime), k_audio_ssrc,
                       true);
            ++audio.packets;
            audio.octets += p.data->size();
        }
        SendResult sent = send_to_viewer(s, out.data(), out.size(), e.play_send_timeout_ms);
        if (sent == SendResult::stalled)
            engine_log("RTSP: viewer %s took no data for %u s, dropped\n", peer.c_str(),
                       unsigned(e.play_send_timeout_ms / 1000));
        if (sent != SendResult::sent) return;
        frame = FrameRecord();  // drop the hold on the frame's bytes
        if (!serve_inplay_requests(s, e.play_send_timeout_ms, reader)) return;
    }
}

namespace {

void play(RtspEngine& e, socket_t s, const std::string& peer, const RtspConnState& st,
          RequestReader& reader) {
    bool first;
    {
        std::lock_guard<std::mutex> lock(e.engine_mutex);
        first = e.playing_clients.fetch_add(1) == 0;
        if (first) e.keyframe_request.exchange(1);
    }
    if (first) {
        // Nobody else plays: what the queues hold was taken before this
        // viewer came (possibly long ago) and would start its recording with
        // a jump in time. The keyframe request makes the next frame a start.
        clear_frames(e.main_queue);
        clear_frames(e.sub_queue);
        clear_audio(e.audio_queue);
    }
    e.engine_cond.notify_all();
    int32_t kind = st.sub_selected ? k_client_sub : k_client_main;
    client_connected(peer, kind);
    rtsp_play_loop(e, s, st.sub_selected ? e.sub_queue : e.main_queue, st.audio_requested,
                   st.play_start, peer, reader);
    client_disconnected(peer, kind);
    e.playing_clients.fetch_sub(1);
}

}  // namespace

namespace {

// Serves one whole request; false when the connection must end.
bool serve_request(RtspEngine& e, socket_t s, const std::string& peer, RtspConnState& st,
                   RequestReader& reader, const std::string& request, int32_t& auth_failures) {
    RtspOutcome out = handle_rtsp_request(e, st, request);
    if (out.credentials_failed) {
        // Slows password guessing down to a few tries per connection and
        // about one a second, while a client's first, bare request still gets
        // its challenge at once.
        sleep_ms(e.auth_failure_delay_ms);
        if (++auth_failures >= e.max_auth_failures) {
            engine_vlog("RTSP: %d failed logins from %s, connection closed\n", auth_failures,
                        peer.c_str());
            send_all(s, out.reply);
            return false;
        }
    }
    if (!send_all(s, out.reply)) return false;
    if (out.next == RtspNext::close) return false;
    if (out.next == RtspNext::play) {
        set_recv_timeout(s, 0);
        // Bounds what a viewer that stops reading ties up in kernel memory
        // (several megabytes when left to grow), and so how soon it shows as stalled.
        set_send_buffer(s, k_viewer_send_buffer);
        rtsp_connection_table().playing(s);
        play(e, s, peer, st, reader);
        return false;
    }
    return true;
}

}  // namespace

void rtsp_connection(RtspEngine& e, socket_t s, const std::string& peer) {
    RtspConnState st;
    st.nonce = random_hex(16);
    set_send_timeout(s, e.idle_timeout_ms);
    RequestReader reader;
    reader.idle_timeout_ms = e.idle_timeout_ms;
    reader.request_timeout_ms = e.request_timeout_ms;
    ByteSource source = [s](char* buf, size_t len, uint32_t timeout_ms) -> long {
        if (timeout_ms) {
            int r = wait_readable(s, timeout_ms);
            if (r == 0) return -2;
            if (r < 0) return -1;
        }
        return recv_some(s, buf, len);
    };
    int32_t auth_failures = 0;
    std::string request;
    for (;;) {
        ReadStatus r = reader.next(source, request);
        if (r == ReadStatus::closed) break;
        if (r == ReadStatus::malformed) {
            // The framing is lost: answer, then close.
            send_all(s, bad_request_reply(request_cseq(request_head(reader.pending))));
            break;
        }
        if (!serve_request(e, s, peer, st, reader, request, auth_failures)) break;
    }
    rtsp_connection_table().closed(s);
    net_close(s);
}
