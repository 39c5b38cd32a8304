// The queues between the distribution thread (producer) and the play loops of
// the RTSP connections (consumers): StreamQueue of encoded H.264 access units,
// one per stream, and AudioQueue of G.711 packets. Each queue has its own mutex;
// no other lock is held while one is taken. Frame bytes are immutable once
// queued and shared by reference count, so a dropped frame stays alive while a
// client is still sending it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "video/h264_encoder.h"

using SharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

struct FrameRecord {
    SharedBytes data;        // one Annex-B access unit, start codes included
    uint8_t keyframe = 0;    // holds an IDR slice (NAL type 5)
    uint32_t timestamp = 0;  // RTP, 90 kHz
    uint64_t sequence = 0;
    uint64_t wallclock_us = 0;  // capture time, microseconds since 1970 (sender reports)
};

struct StreamQueue {
    std::mutex mutex;
    std::condition_variable frame_cond;  // notify_all after each append
    std::deque<FrameRecord> frames;      // oldest first
    uint64_t next_sequence = 0;
    ParameterSets params;  // filled once by engine_init
};

// Appends one access unit. A keyframe first empties the queue, so the queue
// always starts at the newest keyframe unless more than `limit` frames followed it.
// wallclock_us: capture time (0 = now).
void push_frame(StreamQueue& q, std::vector<uint8_t> access_unit, bool keyframe, uint32_t timestamp,
                size_t limit, uint64_t wallclock_us = 0);

// Frame choice of a play loop. last_sent: sequence of the frame this client sent
// last, none at first. Returns the next frame in order, or the newest keyframe when
// nothing was sent yet or the client fell behind the queue; nothing when the
// client must wait. Call with q.mutex held.
std::optional<FrameRecord> choose_frame(const StreamQueue& q, std::optional<uint64_t> last_sent);

// Wall-clock time in microseconds since 1970.
uint64_t wallclock_now_us();

// Copy of a stream's parameter sets, taken under the queue's mutex.
ParameterSets copy_parameter_sets(StreamQueue& q);

struct AudioPacket {
    SharedBytes data;        // 160 bytes of G.711 mu-law, 20 ms
    uint32_t timestamp = 0;  // RTP, 8 kHz
    uint64_t sequence = 0;
    uint64_t wallclock_us = 0;  // arrival time, microseconds since 1970
};

constexpr size_t k_audio_queue_max = 50;  // one second

struct AudioQueue {
    std::mutex mutex;
    std::deque<AudioPacket> packets;  // oldest first, at most k_audio_queue_max
    uint64_t next_sequence = 0;
    uint32_t next_timestamp = 0;  // for push_audio_continuous
};

// The audio capture's callback: appends a copy of the packet.
void push_audio(AudioQueue& q, const uint8_t* bytes, size_t len, uint32_t timestamp);

// Appends a copy with the queue's own running timestamp (advanced by len), so
// the track's RTP clock stays continuous across capture starts, stops and the
// silence that stands in for a missing capture.
void push_audio_continuous(AudioQueue& q, const uint8_t* bytes, size_t len);

// Packets newer than last_sent (all held packets when none was sent yet or the
// client fell behind); updates last_sent to the newest one returned.
std::vector<AudioPacket> take_audio(AudioQueue& q, std::optional<uint64_t>& last_sent);
