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
void push_frame(StreamQueue& q, std::vector<uint8_t> access_unit, bool keyframe, uint32_t timestamp,
                size_t limit);
// Drops every queued frame (a first viewer after an idle spell must not start
// with a picture taken before it came).
void clear_frames(StreamQueue& q);

// Frame choice of a play loop. last_sent: sequence of the frame this client sent
// last, none at first. Returns the next frame in order, or the newest keyframe when
// nothing was sent yet or the client fell behind the queue; nothing when the
// client must wait. Call with q.mutex held.
std::optional<FrameRecord> choose_frame(const StreamQueue& q, std::optional<uint64_t> last_sent);

// Wall-clock time in microseconds since 1970.
uint64_t wallclock_now_us();

// The media clock: microseconds of the monotonic clock. Every RTP timestamp
// stands for a time on it (frames: the capture, audio: the end of the packet's
// samples), and sender reports pair it with the wall clock, so RTP time keeps
// step with real time across idle spells, pauses and audio restarts.
uint64_t media_clock_us();
// The media clock in units of an RTP clock rate (extended to 64 bits).
inline uint64_t media_ticks(uint64_t us, uint32_t rate) {
    return us / 1000000 * rate + us % 1000000 * rate / 1000000;
}
// Timestamp of the next frame of a stream: the previous one plus the whole
// number of steps (at least one) that lands nearest the frame's clock time;
// the clock time itself for a stream's first frame. Frames paced on time thus
// step by exactly one frame period and never stray more than half a step from
// the clock.
uint64_t next_frame_time(std::optional<uint64_t> previous, uint64_t clock, uint32_t step);

// Copy of a stream's parameter sets, taken under the queue's mutex.
ParameterSets copy_parameter_sets(StreamQueue& q);

struct AudioPacket {
    SharedBytes data;        // 160 bytes of G.711 mu-law, 20 ms
    uint32_t timestamp = 0;  // RTP, 8 kHz
    uint64_t sequence = 0;
};

constexpr size_t k_audio_queue_max = 50;  // one second

struct AudioQueue {
    std::mutex mutex;
    std::deque<AudioPacket> packets;  // oldest first, at most k_audio_queue_max
    uint64_t next_sequence = 0;
    // Media-clock time (8 kHz, 64 bits) of the next sample; 0: not anchored yet.
    uint64_t next_time = 0;
    bool restarted = true;  // the source (re)started: anchor the next packet
};

// Audio that lags the media clock by more than this within one run of its
// source has lost samples (a stalled sound server): it is moved up to the
// clock. Late delivery alone does not count, the samples still arrive.
constexpr uint64_t k_audio_resync_samples = 8000;  // one second

// The audio capture's callback: appends a copy of the packet.
void push_audio(AudioQueue& q, const uint8_t* bytes, size_t len, uint32_t timestamp);

// Appends a copy stamped with the queue's running sample clock (advanced by
// len), so consecutive packets join without gaps. The first packet after
// audio_restarted, or one whose running clock lags the media clock by more
// than k_audio_resync_samples, is first anchored to the media clock: now_us
// is when its last sample was taken. The clock never goes back.
void push_audio_continuous(AudioQueue& q, const uint8_t* bytes, size_t len,
                           uint64_t now_us = media_clock_us());
// The capture or the silence standing in for it starts (again).
void audio_restarted(AudioQueue& q);
void clear_audio(AudioQueue& q);

// Packets newer than last_sent (all held packets when none was sent yet or the
// client fell behind); updates last_sent to the newest one returned.
std::vector<AudioPacket> take_audio(AudioQueue& q, std::optional<uint64_t>& last_sent);
