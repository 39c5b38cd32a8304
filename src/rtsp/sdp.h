// SDP of one stream (H.264 packetization mode 1, RFC 6184, and optionally
// G.711 mu-law audio), built from the stream's stored parameter sets.
#pragma once

#include <string>

#include "video/h264_encoder.h"

struct RtspEngine;
struct StreamQueue;

std::string build_sdp(const ParameterSets& ps, int fps, bool audio_enabled);
// Copies the queue's parameter sets under its mutex, then builds the text.
std::string build_sdp(RtspEngine& e, StreamQueue& q);
