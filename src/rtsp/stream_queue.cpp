#include "rtsp/stream_queue.h"

#include <chrono>

uint64_t wallclock_now_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count());
}

void push_frame(StreamQueue& q, std::vector<uint8_t> access_unit, bool keyframe, uint32_t timestamp,
                size_t limit, uint64_t wallclock_us) {
    if (wallclock_us == 0) wallclock_us = wallclock_now_us();
    auto data = std::make_shared<const std::vector<uint8_t>>(std::move(access_unit));
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (keyframe) q.frames.clear();
        q.frames.push_back(
            {std::move(data), uint8_t(keyframe ? 1 : 0), timestamp, q.next_sequence, wallclock_us});
        ++q.next_sequence;
        while (q.frames.size() > limit && !q.frames.empty()) q.frames.pop_front();
    }
    q.frame_cond.notify_all();
}

std::optional<FrameRecord> choose_frame(const StreamQueue& q, std::optional<uint64_t> last_sent) {
    if (q.frames.empty()) return std::nullopt;
    uint64_t oldest = q.frames.front().sequence;
    uint64_t newest = q.frames.back().sequence;
    if (last_sent) {
        uint64_t next = *last_sent + 1;
        if (next >= oldest && next <= newest) return q.frames[size_t(next - oldest)];
        if (next > newest) return std::nullopt;
    }
    for (auto it = q.frames.rbegin(); it != q.frames.rend(); ++it)
        if (it->keyframe) return *it;
    return std::nullopt;
}

ParameterSets copy_parameter_sets(StreamQueue& q) {
    std::lock_guard<std::mutex> lock(q.mutex);
    return q.params;
}

void push_audio(AudioQueue& q, const uint8_t* bytes, size_t len, uint32_t timestamp) {
    auto data = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + len);
    uint64_t now = wallclock_now_us();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.packets.push_back({std::move(data), timestamp, q.next_sequence, now});
    ++q.next_sequence;
    while (q.packets.size() > k_audio_queue_max) q.packets.pop_front();
}

void push_audio_continuous(AudioQueue& q, const uint8_t* bytes, size_t len) {
    auto data = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + len);
    uint64_t now = wallclock_now_us();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.packets.push_back({std::move(data), q.next_timestamp, q.next_sequence, now});
    q.next_timestamp += uint32_t(len);
    ++q.next_sequence;
    while (q.packets.size() > k_audio_queue_max) q.packets.pop_front();
}

std::vector<AudioPacket> take_audio(AudioQueue& q, std::optional<uint64_t>& last_sent) {
    std::vector<AudioPacket> out;
    std::lock_guard<std::mutex> lock(q.mutex);
    for (const auto& p : q.packets)
        if (!last_sent || p.sequence > *last_sent) out.push_back(p);
    if (!out.empty()) last_sent = out.back().sequence;
    return out;
}
