#include "rtsp/sdp.h"

#include "engine/base64.h"
#include "rtsp/rtsp_engine.h"

namespace {
std::string b64(const std::vector<uint8_t>& v) {
    return base64_encode(std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
}
}  // namespace

std::string build_sdp(const ParameterSets& ps, int fps, bool audio_enabled) {
    std::string s =
        "v=0\r\n"
        "o=- 0 0 IN IP4 0.0.0.0\r\n"
        "s=zeb-screen\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "t=0 0\r\n"
        "m=video 0 RTP/AVP 96\r\n"
        "a=rtpmap:96 H264/90000\r\n";
    s += "a=fmtp:96 packetization-mode=1;profile-level-id=" + ps.profile_level_id +
         ";sprop-parameter-sets=" + b64(ps.sps) + "," + b64(ps.pps) + "\r\n";
    // Players and stream inspectors read the rate from here before any frame.
    s += "a=framerate:" + std::to_string(fps) + "\r\n";
    s += "a=control:trackID=0\r\n";
    if (audio_enabled) {
        s += "m=audio 0 RTP/AVP 0\r\n"
             "a=rtpmap:0 PCMU/8000\r\n"
             "a=control:trackID=1\r\n";
    }
    return s;
}

std::string build_sdp(RtspEngine& e, StreamQueue& q) {
    return build_sdp(copy_parameter_sets(q), effective_fps(e), e.audio_enabled != 0);
}
