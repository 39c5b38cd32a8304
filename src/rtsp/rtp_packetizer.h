// RTP inside the RTSP connection: H.264 per RFC 6184 (single NAL unit packets
// and FU-A, packetization mode 1), G.711 mu-law, RTCP sender reports (RFC 3550),
// each with the RTSP interleaved framing ('$', channel, length). Packets are
// appended to a byte buffer so a whole access unit leaves in one send; the
// bytes on the wire are the same as packet-by-packet sending.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

constexpr uint32_t k_video_ssrc = 0x13572468;
constexpr uint32_t k_audio_ssrc = 0x24681357;
constexpr uint8_t k_video_channel = 0;
constexpr uint8_t k_audio_channel = 2;
constexpr uint8_t k_video_payload_type = 96;
constexpr uint8_t k_audio_payload_type = 0;
constexpr size_t k_max_rtp_payload = 1400;

// (offset, length) of every non-empty NAL unit of Annex-B bytes, start codes
// removed; bytes before the first start code are dropped.
std::vector<std::pair<size_t, size_t>> split_nal_units(const uint8_t* data, size_t size);
// An access unit holding an IDR slice (NAL type 5).
bool is_keyframe(const uint8_t* data, size_t size);

// Appends one interleaved RTP packet: framing, 12-byte header, payload.
void append_rtp(std::vector<uint8_t>& out, uint8_t channel, uint8_t payload_type,
                const uint8_t* payload, size_t len, uint16_t sequence, uint32_t timestamp,
                uint32_t ssrc, bool marker);
// One NAL unit: a single packet up to 1400 bytes, FU-A fragments beyond.
// seq advances by one per packet.
void append_h264_nal(std::vector<uint8_t>& out, const uint8_t* nal, size_t len, uint16_t& seq,
                     uint32_t timestamp, bool last_of_access_unit);
// A whole access unit; the marker goes on the last packet. Returns the number
// of packets and adds the payload bytes to *payload_octets when given.
size_t append_access_unit(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                          uint16_t& seq, uint32_t timestamp, uint64_t* payload_octets = nullptr);

// Compound RTCP packet (SR + SDES CNAME) on an interleaved channel.
// ntp_time_us: wall-clock time in microseconds since 1970 that rtp_timestamp
// stands for.
void append_rtcp_sender_report(std::vector<uint8_t>& out, uint8_t channel, uint32_t ssrc,
                               uint64_t ntp_time_us, uint32_t rtp_timestamp, uint32_t packet_count,
                               uint32_t octet_count);
