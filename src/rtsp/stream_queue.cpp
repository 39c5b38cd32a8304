#include "rtsp/stream_queue.h"

#include <chrono>

uint64_t wallclock_now_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count());
}

uint64_t media_clock_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

uint64_t next_frame_time(std::optional<uint64_t> previous, uint64_t clock, uint32_t step) {
    if (!previous) return clock;
    if (step == 0) step = 1;
    uint64_t steps = clock > *previous ? (clock - *previous + step / 2) / step : 0;
    return *previous + (steps < 1 ? 1 : steps) * step;
}

void clear_frames(StreamQueue& q) {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.frames.clear();
}

void audio_restarted(AudioQueue& q) {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.restarted = true;
}

void clear_audio(AudioQueue& q) {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.packets.clear();
}

void push_frame(StreamQueue& q, std::vector<uint8_t> access_unit, bool keyframe, uint32_t timestamp,
                size_t limit) {
    auto data = std::make_shared<const std::vector<uint8_t>>(std::move(access_unit));
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (keyframe) q.frames.clear();
        q.frames.push_back(
            {std::move(data), uint8_t(keyframe ? 1 : 0), timestamp, q.next_sequence});
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
    std::lock_guard<std::mutex> lock(q.mutex);
    q.packets.push_back({std::move(data), timestamp, q.next_sequence});
    ++q.next_sequence;
    while (q.packets.size() > k_audio_queue_max) q.packets.pop_front();
}

void push_audio_continuous(AudioQueue& q, const uint8_t* bytes, size_t len, uint64_t now_us) {
    auto data = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + len);
    // The packet's last sample was taken just now.
    uint64_t clock = media_ticks(now_us, 8000);
    uint64_t start = clock > len ? clock - len : 1;
    std::lock_guard<std::mutex> lock(q.mutex);
    if ((q.restarted && q.next_time < start) || q.next_time + k_audio_resync_samples < start)
        q.next_time = start;
    q.restarted = false;
    q.packets.push_back({std::move(data), uint32_t(q.next_time), q.next_sequence});
    q.next_time += len;
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
