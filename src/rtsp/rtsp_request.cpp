#include "rtsp/rtsp_request.h"

#include <climits>

#include "engine/log.h"
#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_engine.h"
#include "rtsp/sdp.h"

namespace {

bool contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

std::string head_with_cseq(const char* status, int32_t cseq) {
    return std::string("RTSP/1.0 ") + status + "\r\nCSeq: " + std::to_string(cseq) + "\r\n";
}

std::string session_line() {
    return std::string("Session: ") + k_session_id + ";timeout=" + k_session_timeout + "\r\n";
}

std::string unauthorized_reply(int32_t cseq, const std::string& nonce) {
    return head_with_cseq("401 Unauthorized", cseq) + "WWW-Authenticate: Digest realm=\"" +
           k_realm + "\", nonce=\"" + nonce + "\"\r\nWWW-Authenticate: Basic realm=\"" + k_realm +
           "\"\r\n\r\n";
}

RtspOutcome handle_setup(RtspEngine& e, RtspConnState& st, std::string_view head, int32_t cseq) {
    bool audio_track = e.audio_enabled && contains(head, "trackID=1");
    if (audio_track) st.audio_requested = true;
    if (!contains(head, "interleaved") && !contains(head, "/TCP")) {
        engine_vlog("RTSP: SETUP طلب UDP -> 461 (هيعيد بـTCP)\n");
        return {head_with_cseq("461 Unsupported Transport", cseq) + "\r\n", RtspNext::keep};
    }
    std::string reply =
        head_with_cseq("200 OK", cseq) +
        "Transport: RTP/AVP/TCP;unicast;interleaved=" + (audio_track ? "2-3" : "0-1") + "\r\n" +
        session_line() + "\r\n";
    return {reply, RtspNext::keep};
}

bool has_credentials(std::string_view head) {
    return contains(head, "Authorization:") || contains(head, "authorization:");
}

// Request-URI of the request line ("" when there is none).
std::string_view request_uri(std::string_view head) {
    size_t sp = head.find(' ');
    if (sp == std::string_view::npos) return {};
    size_t end = head.find_first_of(" \r\n", sp + 1);
    return head.substr(sp + 1,
                       end == std::string_view::npos ? std::string_view::npos : end - sp - 1);
}

// RTP-Info of the PLAY answer: one entry per track that plays, with the
// track's control URL (the aggregate URL plus the SDP's a=control), the first
// sequence number and the RTP time of the first packet.
std::string rtp_info(std::string_view uri, const PlayStart& ps, bool audio) {
    std::string base(uri);
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string s = "RTP-Info: url=" + base + "/trackID=0;seq=" + std::to_string(ps.video_seq) +
                    ";rtptime=" + std::to_string(ps.video_rtptime);
    if (audio)
        s += ",url=" + base + "/trackID=1;seq=" + std::to_string(ps.audio_seq) +
             ";rtptime=" + std::to_string(ps.audio_rtptime);
    return s + "\r\n";
}

}  // namespace

PlayStart draw_play_start(const std::function<void(uint8_t*, size_t)>& random_source) {
    uint8_t b[12] = {};
    if (random_source) random_source(b, sizeof b);
    auto u32 = [&](int i) {
        return uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3];
    };
    PlayStart ps;
    ps.video_seq = uint16_t(b[0] << 8 | b[1]);
    ps.audio_seq = uint16_t(b[2] << 8 | b[3]);
    ps.video_rtptime = u32(4);
    ps.audio_rtptime = u32(8);
    return ps;
}

bool valid_request_line(std::string_view request) {
    size_t eol = request.find('\n');
    std::string_view line = request.substr(0, eol);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t sp1 = line.find(' ');
    if (sp1 == 0 || sp1 == std::string_view::npos || sp1 > 32) return false;
    for (char c : line.substr(0, sp1))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || sp2 == sp1 + 1) return false;
    for (char c : line.substr(sp1 + 1, sp2 - sp1 - 1))
        if ((unsigned char)c <= 0x20 || c == 0x7F) return false;
    std::string_view version = line.substr(sp2 + 1);
    return version.size() == 8 && version.substr(0, 5) == "RTSP/" && version[5] >= '0' &&
           version[5] <= '9' && version[6] == '.' && version[7] >= '0' && version[7] <= '9';
}

std::string bad_request_reply(int32_t cseq) {
    return head_with_cseq("400 Bad Request", cseq) + "\r\n";
}

std::string_view request_head(std::string_view request) {
    size_t end = request.find("\r\n\r\n");
    return end == std::string_view::npos ? request : request.substr(0, end + 2);
}

std::string_view request_method(std::string_view request) {
    size_t sp = request.find(' ');
    return sp == std::string_view::npos ? request : request.substr(0, sp);
}

int32_t request_cseq(std::string_view request, bool lower_too, bool* found) {
    size_t pos = request.find("CSeq:");
    if (pos == std::string_view::npos) pos = request.find("Cseq:");
    if (pos == std::string_view::npos && lower_too) pos = request.find("cseq:");
    if (found) *found = pos != std::string_view::npos;
    if (pos == std::string_view::npos) return 0;
    size_t i = pos + 5;
    while (i < request.size() && (request[i] == ' ' || request[i] == '\t' || request[i] == '\r' ||
                                  request[i] == '\n' || request[i] == '\v' || request[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < request.size() && (request[i] == '+' || request[i] == '-'))
        negative = request[i++] == '-';
    long long v = 0;
    while (i < request.size() && request[i] >= '0' && request[i] <= '9') {
        v = v * 10 + (request[i++] - '0');
        if (v > (long long)INT_MAX + 1) v = (long long)INT_MAX + 1;  // saturate, no overflow
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return int32_t(v);
}

bool selects_sub_stream(std::string_view request, std::string_view sub_name) {
    if (!sub_name.empty() && contains(request, sub_name)) return true;
    size_t cr = request.find('\r');
    std::string first(cr == std::string_view::npos ? request : request.substr(0, cr));
    for (char& c : first)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    static const char* const k_sub_marks[] = {"stream2",   "/sub",    "substream", "sub_stream",
                                              "subtype=1", "/ch01/1", "/ch0_1"};
    for (const char* mark : k_sub_marks)
        if (contains(first, mark)) return true;
    return false;
}

std::string keepalive_reply(int32_t cseq) {
    return head_with_cseq("200 OK", cseq) + session_line() + "\r\n";
}

std::string teardown_reply(int32_t cseq) {
    return head_with_cseq("200 OK", cseq) + "Session: " + k_session_id + "\r\n\r\n";
}

RtspOutcome handle_rtsp_request(RtspEngine& e, RtspConnState& st, std::string_view request) {
    // Only the header part is searched, so a body cannot smuggle in headers.
    std::string_view head = request_head(request);
    std::string_view method = request_method(head);
    int32_t cseq = request_cseq(head);
    if (!valid_request_line(head)) return {bad_request_reply(cseq), RtspNext::keep};

    if (e.stream_auth && !st.authenticated && method != "OPTIONS") {
        if (!check_rtsp_auth(head, method, k_realm, st.nonce, e.user_name, e.password))
            return {unauthorized_reply(cseq, st.nonce), RtspNext::keep, has_credentials(head)};
        st.authenticated = true;
    }
    if (e.substream_enabled && !e.sub_stream_name.empty() &&
        selects_sub_stream(head, e.sub_stream_name))
        st.sub_selected = true;

    if (method == "OPTIONS") {
        return {head_with_cseq("200 OK", cseq) +
                    "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, "
                    "SET_PARAMETER\r\n\r\n",
                RtspNext::keep};
    }
    if (method == "DESCRIBE") {
        engine_vlog("RTSP: DESCRIBE -> %s\n",
                    st.sub_selected ? "SUB (screensub)" : "MAIN (screenlive)");
        std::string sdp = build_sdp(e, st.sub_selected ? e.sub_queue : e.main_queue);
        return {head_with_cseq("200 OK", cseq) +
                    "Content-Type: application/sdp\r\nContent-Length: " +
                    std::to_string(sdp.size()) + "\r\n\r\n" + sdp,
                RtspNext::keep};
    }
    if (method == "SETUP") return handle_setup(e, st, head, cseq);
    if (method == "PLAY") {
        st.play_start = draw_play_start(e.random_source);
        return {
            head_with_cseq("200 OK", cseq) + session_line() + "Range: npt=0.000-\r\n" +
                rtp_info(request_uri(head), st.play_start, st.audio_requested && e.audio_enabled) +
                "\r\n",
            RtspNext::play};
    }
    if (method == "TEARDOWN") {
        return {teardown_reply(cseq), RtspNext::close};
    }
    if (contains(head, "Session:")) return {keepalive_reply(cseq), RtspNext::keep};
    return {head_with_cseq("200 OK", cseq) + "\r\n", RtspNext::keep};
}
