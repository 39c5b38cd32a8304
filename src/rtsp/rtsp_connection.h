// One RTSP connection on its own thread: the request loop, then after PLAY the
// play loop that sends the chosen stream's frames (and audio) as interleaved
// RTP with periodic RTCP sender reports, answering keep-alives on the way.
#pragma once

#include <string>

#include "engine/net_socket.h"
#include "rtsp/rtsp_reader.h"
#include "rtsp/rtsp_request.h"

struct RtspEngine;
struct StreamQueue;

// Serves the connection until it ends; closes the socket before returning.
void rtsp_connection(RtspEngine& e, socket_t s, const std::string& peer);

// Returns when the client is gone (closed, TEARDOWN, or a failed send).
// start: the first sequence numbers and RTP times announced in the PLAY answer.
// reader: the connection's request framing, holding what arrived behind PLAY.
void rtsp_play_loop(RtspEngine& e, socket_t s, StreamQueue& q, bool audio_requested,
                    const PlayStart& start, const std::string& peer, RequestReader& reader);
