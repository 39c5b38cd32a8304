// The distribution thread: while anyone plays, capture once, encode once per
// stream, queue the access units; the paused picture every 500 ms while
// streaming is paused; system audio started and stopped with the viewers.
#include <chrono>
#include <optional>
#include <vector>

#include "engine/clock.h"
#include "engine/log.h"
#include "rtsp/rtp_packetizer.h"
#include "rtsp/rtsp_engine.h"
#include "video/h264_encoder.h"
#include "video/motion_detector.h"
#include "video/overlay.h"
#include "video/paused_picture.h"
#include "video/screen_capture.h"
#include "video/system_audio.h"

namespace {

constexpr uint32_t k_paused_step = 45000;  // half a second at 90 kHz
constexpr uint32_t k_paused_interval_ms = 500;
constexpr uint64_t k_audio_retry_ms = 5000;

struct LoopState {
    bool force_keyframe = true;
    bool was_streaming = false;
    bool paused_sent = false;
    // Last frame times of each stream (90 kHz media clock, 64 bits).
    std::optional<uint64_t> main_time, sub_time;
    std::vector<uint8_t> main_paused, sub_paused;
    int main_paused_w = 0, main_paused_h = 0, sub_paused_w = 0, sub_paused_h = 0;
    uint64_t next_due = 0;    // tick of the next frame
    uint64_t paused_due = 0;  // tick of the next paused picture
    uint64_t stats_tick = 0;
    uint64_t next_audio_try = 0;
    bool audio_failure_told = false;  // the retries after a logged failure stay quiet
    bool filling = false;                            // silence stands in for the capture
    bool refresh_main = false, refresh_sub = false;  // new parameter sets due after a size change
    uint64_t fill_start = 0;                         // media clock, microseconds
    uint64_t fill_packets = 0;
    uint32_t step = 9000;
    size_t limit = 34;
    uint32_t pause_ms = 100;
    // The scale buffers hold the scaled previous capture (damage path).
    bool main_scaled_valid = false, sub_scaled_valid = false;
    std::vector<PixelRect> main_changes, sub_changes;
};

bool wait_for_viewers(RtspEngine& e) {
    std::unique_lock<std::mutex> lock(e.engine_mutex);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (e.playing_clients.load() < 1) {
        if (e.engine_cond.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    return e.playing_clients.load() >= 1;
}

void stop_audio(RtspEngine& e, const char* message) {
    if (e.audio_running.exchange(0)) {
        if (e.audio_capture) e.audio_capture->stop();
        engine_vlog("%s", message);
    }
}

// Keeps the announced audio track flowing with mu-law silence while the
// capture is not running (no sound server, or streaming paused), paced by the
// clock: players wait for data on every announced track and stall without it.
void fill_silence(RtspEngine& e, LoopState& ls) {
    uint64_t now = media_clock_us();
    if (!ls.filling) {
        ls.filling = true;
        ls.fill_start = now;
        ls.fill_packets = 0;
        audio_restarted(e.audio_queue);
    }
    static const std::vector<uint8_t> k_silence(160, 0xFF);
    // Each packet is stamped with the time its 20 ms end, not with when this
    // loop came round to it.
    uint64_t due = (now - ls.fill_start) / 20000 + 1;
    while (ls.fill_packets < due) {
        ++ls.fill_packets;
        push_audio_continuous(e.audio_queue, k_silence.data(), k_silence.size(),
                              ls.fill_start + ls.fill_packets * 20000);
    }
}

void control_audio(RtspEngine& e, LoopState& ls) {
    if (!e.audio_enabled) return;
    if (streaming_paused.load()) {
        stop_audio(e, "Audio: capture stopped (streaming paused)\n");
    } else if (!e.audio_running.load() && tick_ms() >= ls.next_audio_try) {
        if (!e.audio_capture) e.audio_capture = std::make_unique<LoopbackAudio>();
        AudioQueue* q = &e.audio_queue;
        audio_restarted(*q);
        bool ok = e.audio_capture->start([q](const uint8_t* bytes, size_t len, uint32_t) {
            push_audio_continuous(*q, bytes, len);
        });
        e.audio_running.exchange(ok ? 1 : 0);
        // A failed start is retried, but not on every frame: each attempt
        // costs a connection to the sound server. Only the first failure and
        // the recovery are logged, not every retry.
        if (ok || !ls.audio_failure_told) {
            engine_log(ok ? "Audio: on\n" : "Audio: not available on this PC\n");
            engine_vlog(ok ? "Audio: capture started (G.711 8kHz, system loopback)\n"
                           : "Audio: no audio device - streaming video only\n");
        }
        ls.audio_failure_told = !ok;
        if (!ok) ls.next_audio_try = tick_ms() + k_audio_retry_ms;
    }
    if (e.audio_running.load()) {
        ls.filling = false;
    } else {
        fill_silence(e, ls);
    }
}

// Stores the parameter sets of a keyframe, so the SDP of later clients
// describes the size actually streamed after a re-initialisation.
void refresh_parameter_sets(StreamQueue& q, const std::vector<uint8_t>& au) {
    ParameterSets ps;
    if (!extract_parameter_sets(au, ps.sps, ps.pps, ps.profile_level_id)) return;
    std::lock_guard<std::mutex> lock(q.mutex);
    q.params = std::move(ps);
}

// Encodes and queues one picture taken at media-clock time clock_us; the
// stream's frame time advances whether or not the encoder yields a frame.
void encode_and_push(RtspEngine& e, H264Encoder& enc, const uint8_t* picture, int src_width,
                     bool force_idr, StreamQueue& q, std::optional<uint64_t>& time, uint32_t step,
                     size_t limit, uint64_t clock_us, bool* refresh = nullptr,
                     const std::vector<PixelRect>* changes = nullptr) {
    time = next_frame_time(time, media_ticks(clock_us, 90000), step);
    const uint32_t ts = uint32_t(*time);
    std::vector<uint8_t> au;
    const bool ok = changes ? enc.encode_changes(picture, src_width, force_idr, *changes, au)
                            : enc.encode(picture, src_width, force_idr, au);
    if (!ok || au.empty()) return;
    e.frames_encoded.fetch_add(1);
    bool key = is_keyframe(au.data(), au.size());
    if (key && refresh && *refresh) {
        refresh_parameter_sets(q, au);
        *refresh = false;
    }
    push_frame(q, std::move(au), key, ts, limit);
}

// The capturer saw a new screen size: new main size, encoders re-opened.
void reinit_encoders(RtspEngine& e, LoopState& ls) {
    const int w = e.capturer->width(), h = e.capturer->height();
    const int fps = effective_fps(e);
    if (!e.main_scaled || w < 1) {
        e.main_width = w;
        e.main_height = h;
    } else {
        int mh = int((int64_t(e.main_width) * h / w)) & ~1;
        e.main_height = mh < 2 ? 2 : mh;
        e.main_scale_buffer.assign(size_t(e.main_width) * e.main_height * 4, 0);
    }
    ls.main_scaled_valid = false;
    ls.sub_scaled_valid = false;
    e.main_encoder->close();
    if (!e.main_encoder->open(e.main_width, e.main_height, fps, e.bitrate)) {
        sleep_ms(200);
        return;
    }
    if (e.substream_enabled && e.sub_encoder) {
        e.sub_encoder->close();
        e.sub_encoder->open(e.sub_width, e.sub_height, fps, e.sub_bitrate);
    }
    ls.force_keyframe = true;
    ls.refresh_main = true;
    ls.refresh_sub = e.substream_enabled;
    engine_log("RTSP: re-initialised encoders for %dx%d\n", e.main_width, e.main_height);
}

// Sleeps until the next frame is due. Pacing by deadline (rather than a fixed
// pause after the work) keeps the real frame rate at fps while capture and
// encoding take part of each period.
void pace(LoopState& ls) {
    uint64_t now = tick_ms();
    if (ls.next_due == 0 || now > ls.next_due + ls.pause_ms)
        ls.next_due = now;  // fell behind: restart
    ls.next_due += ls.pause_ms;
    if (ls.next_due > now) sleep_ms(uint32_t(ls.next_due - now));
}

// Scales what changed of the capture into a stream's buffer and lists the
// destination areas whose pixels really changed.
void scale_changes(const ScreenCapturer& cap, const uint8_t* frame, std::vector<uint8_t>& buffer,
                   int w, int h, bool& valid, std::vector<PixelRect>& changes) {
    const int cw = cap.width(), ch = cap.height();
    changes.clear();
    if (!valid || cap.all_changed()) {
        scale_nearest(frame, cw, ch, buffer.data(), w, h);
        changes.push_back(PixelRect{0, 0, w, h});
        valid = true;
        return;
    }
    for (const PixelRect& r : cap.changed_rects()) {
        PixelRect d = scaled_area(r, cw, ch, w, h);
        if (!d.empty() && scale_nearest_area(frame, cw, ch, buffer.data(), w, h, d))
            changes.push_back(d);
    }
}

// The damage path: each encoder sees only what changed in its own picture,
// and codes nothing itself when that is nothing.
void encode_changes(RtspEngine& e, LoopState& ls, const uint8_t* frame, bool force_idr,
                    uint64_t captured_us) {
    const ScreenCapturer& cap = *e.capturer;
    const int cw = cap.width(), ch = cap.height();
    if (e.main_encoder->is_open()) {
        const uint8_t* picture = frame;
        int stride_px = cw;
        if (e.main_scaled) {
            scale_changes(cap, frame, e.main_scale_buffer, e.main_width, e.main_height,
                          ls.main_scaled_valid, ls.main_changes);
            picture = e.main_scale_buffer.data();
            stride_px = e.main_width;
        } else if (cap.all_changed()) {
            ls.main_changes.assign(1, PixelRect{0, 0, cw, ch});
        } else {
            ls.main_changes = cap.changed_rects();
        }
        encode_and_push(e, *e.main_encoder, picture, stride_px, force_idr, e.main_queue,
                        ls.main_time, ls.step, ls.limit, captured_us, &ls.refresh_main,
                        &ls.main_changes);
    }
    if (e.substream_enabled && e.sub_encoder) {
        scale_changes(cap, frame, e.sub_scale_buffer, e.sub_width, e.sub_height,
                      ls.sub_scaled_valid, ls.sub_changes);
        encode_and_push(e, *e.sub_encoder, e.sub_scale_buffer.data(), e.sub_width, force_idr,
                        e.sub_queue, ls.sub_time, ls.step, ls.limit, captured_us,
                        &ls.refresh_sub, &ls.sub_changes);
    }
}

void stream_one_frame(RtspEngine& e, LoopState& ls) {
    ls.paused_sent = false;
    if (!ls.was_streaming) {
        ls.was_streaming = true;
        ls.force_keyframe = true;
    }
    const uint8_t* frame = e.capturer->capture();
    if (!frame) {
        sleep_ms(50);
        return;
    }
    uint64_t captured_us = media_clock_us();
    ls.paused_due = 0;
    const int cw = e.capturer->width(), ch = e.capturer->height();

    OverlayRect rects[2];
    int n = overlay_rectangles(rects, 2);
    MotionRect mrects[2];
    for (int i = 0; i < n; ++i)
        mrects[i] = {rects[i].left, rects[i].top, rects[i].right, rects[i].bottom};
    motion_set_exclusions(mrects, n);
    motion_process_frame(frame, cw, ch);

    if (e.capturer->take_size_changed()) {
        reinit_encoders(e, ls);
        ls.next_due = 0;
        return;
    }
    // The request is taken even when a keyframe is due anyway, or it would
    // make the frame after this one a second keyframe.
    bool requested = e.keyframe_request.exchange(0) != 0;
    bool force_idr = ls.force_keyframe || requested;
    const bool damage = damage_capture_on.load();
    if (damage) {
        encode_changes(e, ls, frame, force_idr, captured_us);
    } else if (e.main_encoder->is_open()) {
        if (e.main_scaled) {
            scale_nearest(frame, cw, ch, e.main_scale_buffer.data(), e.main_width, e.main_height);
            encode_and_push(e, *e.main_encoder, e.main_scale_buffer.data(), e.main_width, force_idr,
                            e.main_queue, ls.main_time, ls.step, ls.limit, captured_us,
                            &ls.refresh_main);
        } else {
            encode_and_push(e, *e.main_encoder, frame, cw, force_idr, e.main_queue, ls.main_time,
                            ls.step, ls.limit, captured_us, &ls.refresh_main);
        }
    }
    if (e.substream_enabled && e.sub_encoder && !damage) {
        scale_nearest(frame, cw, ch, e.sub_scale_buffer.data(), e.sub_width, e.sub_height);
        encode_and_push(e, *e.sub_encoder, e.sub_scale_buffer.data(), e.sub_width, force_idr,
                        e.sub_queue, ls.sub_time, ls.step, ls.limit, captured_us, &ls.refresh_sub);
    }
    ls.force_keyframe = false;
    pace(ls);
}

void paused_picture(std::vector<uint8_t>& pic, int& pw, int& ph, int w, int h) {
    if (pic.empty() || pw != w || ph != h) {
        pic = paint_paused_picture(w, h);
        pw = w;
        ph = h;
    }
}

void stream_paused_picture(RtspEngine& e, LoopState& ls) {
    bool requested = e.keyframe_request.exchange(0) != 0;
    bool force = !ls.paused_sent || requested;
    uint64_t now_us = media_clock_us();
    paused_picture(ls.main_paused, ls.main_paused_w, ls.main_paused_h, e.main_width, e.main_height);
    if (!ls.main_paused.empty() && e.main_encoder->is_open())
        encode_and_push(e, *e.main_encoder, ls.main_paused.data(), e.main_width, force,
                        e.main_queue, ls.main_time, k_paused_step, ls.limit, now_us);
    if (e.substream_enabled && e.sub_encoder) {
        paused_picture(ls.sub_paused, ls.sub_paused_w, ls.sub_paused_h, e.sub_width, e.sub_height);
        if (!ls.sub_paused.empty())
            encode_and_push(e, *e.sub_encoder, ls.sub_paused.data(), e.sub_width, force,
                            e.sub_queue, ls.sub_time, k_paused_step, ls.limit, now_us);
    }
    ls.paused_sent = true;
    ls.was_streaming = false;
    ls.next_due = 0;
    // Paced by deadline like live frames, so the pictures stay 500 ms apart
    // on the clock that their timestamps follow.
    uint64_t now = tick_ms();
    if (ls.paused_due == 0 || now > ls.paused_due + k_paused_interval_ms) ls.paused_due = now;
    ls.paused_due += k_paused_interval_ms;
    if (ls.paused_due > now) sleep_ms(uint32_t(ls.paused_due - now));
}

}  // namespace

void stream_distribution_loop(RtspEngine& e) {
    LoopState ls;
    const int fps = effective_fps(e);
    ls.step = uint32_t(90000 / fps);
    ls.limit = size_t(3 * fps + 4);
    ls.pause_ms = uint32_t(1000 / fps);
    for (;;) {
        if (!wait_for_viewers(e)) {
            ls.was_streaming = false;
            ls.paused_sent = false;
            ls.next_due = 0;
            ls.paused_due = 0;
            ls.filling = false;
            ls.next_audio_try = 0;
            stop_audio(e, "Audio: capture stopped (no viewers)\n");
            continue;
        }
        control_audio(e, ls);
        uint64_t now = tick_ms();
        if (now - ls.stats_tick >= 10000) {
            ls.stats_tick = now;
            engine_vlog("RTSP: %llu frames encoded, %d playing\n",
                        (unsigned long long)e.frames_encoded.load(), e.playing_clients.load());
        }
        if (streaming_paused.load())
            stream_paused_picture(e, ls);
        else
            stream_one_frame(e, ls);
    }
}
