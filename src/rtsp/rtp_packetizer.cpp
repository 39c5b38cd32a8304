#include "rtsp/rtp_packetizer.h"

#include <cstring>

namespace {

// Length of a start code at i (4 tested before 3), 0 when none.
inline size_t start_code_at(const uint8_t* d, size_t size, size_t i) {
    if (i + 4 <= size && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 0 && d[i + 3] == 1) return 4;
    if (i + 3 <= size && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) return 3;
    return 0;
}

inline void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void append_rtp_header(std::vector<uint8_t>& out, uint8_t channel, uint8_t payload_type, size_t len,
                       uint16_t sequence, uint32_t timestamp, uint32_t ssrc, bool marker) {
    out.push_back('$');
    out.push_back(channel);
    put16(out, uint32_t(len + 12));
    out.push_back(0x80);
    out.push_back(uint8_t((marker ? 0x80 : 0) | (payload_type & 0x7F)));
    put16(out, sequence);
    put32(out, timestamp);
    put32(out, ssrc);
}

}  // namespace

std::vector<std::pair<size_t, size_t>> split_nal_units(const uint8_t* d, size_t size) {
    std::vector<std::pair<size_t, size_t>> units;
    size_t i = 0;
    size_t sc = 0;
    while (i < size && (sc = start_code_at(d, size, i)) == 0) ++i;
    if (i >= size) return units;
    while (i < size) {
        size_t begin = i + sc;
        size_t j = begin;
        size_t next_sc = 0;
        // A start code begins with two zero bytes; skip quickly to candidates.
        while (j < size) {
            if (d[j] == 0 && (next_sc = start_code_at(d, size, j)) != 0) break;
            ++j;
        }
        if (j > begin) units.emplace_back(begin, j - begin);
        i = j;
        sc = next_sc;
        if (next_sc == 0) break;
    }
    return units;
}

bool is_keyframe(const uint8_t* data, size_t size) {
    for (auto [off, len] : split_nal_units(data, size))
        if (len > 0 && (data[off] & 0x1F) == 5) return true;
    return false;
}

void append_rtp(std::vector<uint8_t>& out, uint8_t channel, uint8_t payload_type,
                const uint8_t* payload, size_t len, uint16_t sequence, uint32_t timestamp,
                uint32_t ssrc, bool marker) {
    append_rtp_header(out, channel, payload_type, len, sequence, timestamp, ssrc, marker);
    out.insert(out.end(), payload, payload + len);
}

void append_h264_nal(std::vector<uint8_t>& out, const uint8_t* nal, size_t len, uint16_t& seq,
                     uint32_t timestamp, bool last_of_access_unit) {
    if (len == 0) return;
    if (len <= k_max_rtp_payload) {
        append_rtp(out, k_video_channel, k_video_payload_type, nal, len, seq++, timestamp,
                   k_video_ssrc, last_of_access_unit);
        return;
    }
    const uint8_t header = nal[0];
    const uint8_t indicator = uint8_t((header & 0x60) | 28);
    const size_t chunk_max = k_max_rtp_payload - 2;
    size_t pos = 1;
    while (pos < len) {
        size_t chunk = len - pos < chunk_max ? len - pos : chunk_max;
        bool first = pos == 1;
        bool last = pos + chunk == len;
        uint8_t fu_header = uint8_t((first ? 0x80 : 0) | (last ? 0x40 : 0) | (header & 0x1F));
        append_rtp_header(out, k_video_channel, k_video_payload_type, chunk + 2, seq++, timestamp,
                          k_video_ssrc, last && last_of_access_unit);
        out.push_back(indicator);
        out.push_back(fu_header);
        out.insert(out.end(), nal + pos, nal + pos + chunk);
        pos += chunk;
    }
}

size_t append_access_unit(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                          uint16_t& seq, uint32_t timestamp, uint64_t* payload_octets) {
    auto units = split_nal_units(data, size);
    uint16_t first_seq = seq;
    size_t before = out.size();
    out.reserve(out.size() + size + size / 64 + 64);
    for (size_t k = 0; k < units.size(); ++k)
        append_h264_nal(out, data + units[k].first, units[k].second, seq, timestamp,
                        k + 1 == units.size());
    size_t packets = uint16_t(seq - first_seq);
    if (payload_octets) *payload_octets += (out.size() - before) - packets * 16;
    return packets;
}

void append_rtcp_sender_report(std::vector<uint8_t>& out, uint8_t channel, uint32_t ssrc,
                               uint64_t ntp_time_us, uint32_t rtp_timestamp, uint32_t packet_count,
                               uint32_t octet_count) {
    static const char k_cname[] = "vistrel";
    const size_t cname_len = sizeof(k_cname) - 1;
    // SDES chunk: SSRC, CNAME item (type, length, text), end item, padded to 32 bits.
    size_t sdes_chunk = 4 + 2 + cname_len + 1;
    sdes_chunk = (sdes_chunk + 3) & ~size_t(3);
    const size_t sr_len = 28;
    const size_t sdes_len = 4 + sdes_chunk;
    out.push_back('$');
    out.push_back(channel);
    put16(out, uint32_t(sr_len + sdes_len));
    // Sender report, no reception blocks.
    out.push_back(0x80);
    out.push_back(200);
    put16(out, uint32_t(sr_len / 4 - 1));
    put32(out, ssrc);
    uint64_t secs = ntp_time_us / 1000000 + 2208988800ULL;  // NTP counts from 1900
    uint64_t frac = ((ntp_time_us % 1000000) << 32) / 1000000;
    put32(out, uint32_t(secs));
    put32(out, uint32_t(frac));
    put32(out, rtp_timestamp);
    put32(out, packet_count);
    put32(out, octet_count);
    // Source description with the canonical name.
    out.push_back(0x81);
    out.push_back(202);
    put16(out, uint32_t(sdes_len / 4 - 1));
    put32(out, ssrc);
    out.push_back(1);
    out.push_back(uint8_t(cname_len));
    out.insert(out.end(), k_cname, k_cname + cname_len);
    size_t written = 4 + 2 + cname_len;
    while (written < sdes_chunk) {
        out.push_back(0);
        ++written;
    }
}
