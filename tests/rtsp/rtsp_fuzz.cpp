// libFuzzer target: one connection's request handling, the in-play CSeq reader,
// the Digest/Basic check and the NAL splitter and packetiser over arbitrary bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "rtsp/digest_auth.h"
#include "rtsp/rtp_packetizer.h"
#include "rtsp/rtsp_engine.h"
#include "rtsp/rtsp_reader.h"
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
    // The same bytes framed as a connection receives them, in reads of 7.
    RequestReader reader;
    size_t off = 0;
    ByteSource source = [&](char* buf, size_t len, uint32_t) -> long {
        size_t n = std::min({len, size_t(7), text.size() - off});
        std::memcpy(buf, text.data() + off, n);
        off += n;
        return long(n);
    };
    RtspConnState framed;
    for (std::string req; reader.next(source, req) == ReadStatus::request;)
        handle_rtsp_request(*e, framed, req);
    request_cseq(text, true);
    check_rtsp_auth(text, "DESCRIBE", "Vistrel", "0123456789abcdef0123456789abcdef", "admin", "pw");
    std::vector<uint8_t> out;
    uint16_t seq = 0;
    append_access_unit(out, data, size, seq, 0);
    return 0;
}
