// One RTSP connection on its own thread: the request loop, then after PLAY the
// play loop that sends the chosen stream's frames (and audio) as interleaved
// RTP with periodic RTCP sender reports, answering keep-alives on the way.
#pragma once

#include <string>

#include "engine/net_socket.h"

struct RtspEngine;
struct StreamQueue;

// Connections that have not started playing, oldest first, under their own
// mutex. When too many wait, the listener shuts the oldest one down rather than
// turning new clients away, so idle connections cannot lock viewers out.
void pending_add(socket_t s);
void pending_remove(socket_t s);  // no-op when it was evicted already
size_t pending_count();
void pending_evict_oldest();

// Serves the connection until it ends; closes the socket before returning.
void rtsp_connection(RtspEngine& e, socket_t s, const std::string& peer);

// Returns when the client is gone (closed, TEARDOWN, or a failed send).
void rtsp_play_loop(RtspEngine& e, socket_t s, StreamQueue& q, bool audio_requested);
