// One RTSP connection's request handling, free of sockets: the request text in,
// the reply text and what the connection does next out. The connection loop
// (rtsp_connection.cpp) and the tests drive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct RtspEngine;

// Where a client's RTP streams begin: random initial sequence numbers and
// timestamps (RFC 3550), drawn at PLAY and announced in its RTP-Info.
struct PlayStart {
    uint16_t video_seq = 0, audio_seq = 0;
    uint32_t video_rtptime = 0, audio_rtptime = 0;
};

// Draws a PlayStart from random bytes (the engine's random source).
PlayStart draw_play_start(const std::function<void(uint8_t*, size_t)>& random_source);

// Per-connection state (owned by the connection's thread).
struct RtspConnState {
    std::string nonce;           // random_hex(16), made when the connection starts
    bool authenticated = false;  // never cleared
    bool sub_selected = false;   // never switches back to main
    bool audio_requested = false;
    PlayStart play_start;  // set by PLAY
};

constexpr const char* k_session_id = "12345678";
constexpr const char* k_session_timeout = "60";
constexpr const char* k_realm = "Vistrel";

enum class RtspNext { keep, close, play };

struct RtspOutcome {
    std::string reply;
    RtspNext next = RtspNext::keep;
    // Credentials were offered and did not pass (a bare request for the
    // challenge does not count): the connection slows down and limits these.
    bool credentials_failed = false;
};

RtspOutcome handle_rtsp_request(RtspEngine& e, RtspConnState& st, std::string_view request);

// The header part of a request: up to the blank line, the whole text without one.
std::string_view request_head(std::string_view request);
// Text before the first space (the whole text without one).
std::string_view request_method(std::string_view request);
// CSeq value: "CSeq:" else "Cseq:" (and "cseq:" when lower_too); atoi rules,
// clamped to 32 bits; 0 when missing. found (optional) tells whether a header was there.
int32_t request_cseq(std::string_view request, bool lower_too = false, bool* found = nullptr);
// Whether the request asks for the sub stream (its name anywhere, or a usual
// sub-stream path in the first line, any letter case).
bool selects_sub_stream(std::string_view request, std::string_view sub_name);

// The request line is "METHOD URI RTSP/x.y": a token, a target, a version.
bool valid_request_line(std::string_view request);
std::string bad_request_reply(int32_t cseq);

std::string keepalive_reply(int32_t cseq);
std::string teardown_reply(int32_t cseq);
