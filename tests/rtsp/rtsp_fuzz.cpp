// libFuzzer target: one connection's request handling, the in-play CSeq reader,
// the Digest/Basic check and the NAL splitter and packetiser over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "rtsp/digest_auth.h"
#include "rtsp/rtp_packetizer.h"
#include "rtsp/rtsp_engine.h"
#include "rtsp/rtsp_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static RtspEngine* e = [] {
        auto* engine = new RtspEngine();
        engine->substream_enabled = true;
        engine->sub_stream_name = "screensub";
        engine->audio_enabled = 1;
        engine->user_name = "admin";
        engine->password = "pw";
        return engine;
    }();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (uint32_t auth : {0u, 1u}) {
        e->stream_auth = auth;
        RtspConnState st;
        st.nonce = "0123456789abcdef0123456789abcdef";
        handle_rtsp_request(*e, st, text);
    }
    request_cseq(text, true);
    check_rtsp_auth(text, "DESCRIBE", "Vistrel", "0123456789abcdef0123456789abcdef", "admin", "pw");
    std::vector<uint8_t> out;
    uint16_t seq = 0;
    append_access_unit(out, data, size, seq, 0);
    return 0;
}
