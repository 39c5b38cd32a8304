// RtspEngine: the RTSP engine's one long-lived record (settings, capturer,
// encoders, stream and audio queues, playing count). Filled by engine_init on the
// RTSP engine thread before the server starts; shared with the distribution
// thread and every connection thread. The engine mutex guards only the playing
// count's increments and the condition that wakes the distribution loop; the
// queues carry their own mutexes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/net_socket.h"
#include "rtsp/connection_table.h"
#include "rtsp/stream_queue.h"
#include "video/overlay.h"

class ScreenCapturer;
class H264Encoder;
class LoopbackAudio;

struct RtspEngine {
    socket_t listen_socket = k_invalid_socket;  // handed over by the port binder, or invalid
    int32_t port = 554;
    int32_t fps = 10;        // <= 0 is taken as 10 wherever used
    int32_t bitrate = 4000;  // main stream, kbit/s
    std::string main_stream_name = "screenlive";
    std::string sub_stream_name;            // empty when the sub stream is off
    int32_t sub_width = 0, sub_height = 0;  // even
    int32_t sub_bitrate = 800;
    int32_t main_width = 0, main_height = 0;  // encode size of the main stream
    bool substream_enabled = false;
    bool main_scaled = false;
    std::string user_name;
    std::string password;
    uint32_t stream_auth = 0;

    // Created by engine_init; used by the distribution thread only.
    std::unique_ptr<ScreenCapturer> capturer;
    std::unique_ptr<H264Encoder> main_encoder;
    std::unique_ptr<H264Encoder> sub_encoder;
    std::vector<uint8_t> main_scale_buffer;
    std::vector<uint8_t> sub_scale_buffer;

    StreamQueue main_queue;
    StreamQueue sub_queue;

    std::atomic<int32_t> playing_clients{0};  // connections inside rtsp_play_loop
    std::mutex engine_mutex;
    std::condition_variable engine_cond;
    std::atomic<uint8_t> keyframe_request{0};  // raised when playing goes 0 -> 1

    uint8_t audio_enabled = 0;                     // `audio` setting
    std::atomic<uint8_t> audio_running{0};         // system-audio capture running
    std::unique_ptr<LoopbackAudio> audio_capture;  // made on the first start
    AudioQueue audio_queue;

    // Flood limits: connection slots per client address and in all (see
    // ConnectionTable), how long a connection may wait silent before a
    // request, and how long a begun request may take to arrive.
    ConnectionBounds bounds;
    uint32_t idle_timeout_ms = 30000;
    uint32_t request_timeout_ms = 5000;
    // Password guessing: each failed credential check is answered only after
    // this delay, and a connection is closed after this many of them.
    uint32_t auth_failure_delay_ms = 1000;
    int32_t max_auth_failures = 3;
    // A playing client that accepts no data for this long is dropped.
    uint32_t play_send_timeout_ms = 60000;
    // Random bytes for the initial RTP sequence numbers and timestamps of each
    // PLAY (the system generator; tests put a fixed source here).
    std::function<void(uint8_t*, size_t)> random_source;
    // Access units produced by the encoders since start (one per stream per frame,
    // whatever the number of viewers).
    std::atomic<uint64_t> frames_encoded{0};

    // Overlay settings changed at run time (live settings), kept until the
    // capturer exists and then handed to it; guarded by overlay_mutex.
    std::mutex overlay_mutex;
    OverlaySettings live_overlay;
    bool has_live_overlay = false;
    ScreenCapturer* overlay_target = nullptr;

    RtspEngine();
    ~RtspEngine();
    RtspEngine(const RtspEngine&) = delete;
    RtspEngine& operator=(const RtspEngine&) = delete;
};

// Set at start-up from `stream_on` (paused when 0) and toggled by the panels;
// the distribution loop reads it.
extern std::atomic<uint8_t> streaming_paused;

// The process-wide engine (never destroyed).
RtspEngine& rtsp_engine();

// What start-up hands to engine_init.
struct RtspEngineParams {
    socket_t listen_socket = k_invalid_socket;
    int32_t port = 554;
    int32_t fps = 10;
    int32_t bitrate = 4000;
    std::string main_stream_name = "screenlive";
    std::string sub_stream_name;  // empty: no sub stream
    int32_t sub_width = 0, sub_height = 0;
    int32_t sub_bitrate = 800;
    int32_t main_scaled_width = 0, main_scaled_height = 0;  // 0: screen size
    std::string user_name;
    std::string password;
    uint32_t stream_auth = 0;
    uint8_t audio_enabled = 0;
    OverlaySettings overlay;  // name and clock plates drawn from the first frame on
};

// Stores the settings, opens the capturer and both encoders and reads each
// stream's parameter sets from its first frame. False when capture or the main
// encoder cannot start or the first frame carries no SPS/PPS.
bool engine_init(RtspEngine& e, const RtspEngineParams& p);

// Live change of the name and clock plates, from any thread: reaches the
// capturer now, or at engine_init when it does not exist yet.
void engine_set_overlay(RtspEngine& e, const OverlaySettings& settings);

// Listener: announces, starts the distribution thread, accepts for ever.
// Returns only when the port cannot be bound.
void rtsp_server(RtspEngine& e);

// The distribution thread's body; never returns.
void stream_distribution_loop(RtspEngine& e);

// Frames per second as used everywhere: values <= 0 count as 10.
inline int32_t effective_fps(const RtspEngine& e) {
    return e.fps > 0 ? e.fps : 10;
}
