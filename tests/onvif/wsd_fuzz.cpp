// libFuzzer target: the bytes as one WS-Discovery datagram (XML reader,
// namespace map, probe recognition, Types and Scopes matching, the answer and
// its size bound).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "onvif/ws_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static OnvifContext ctx;
    static const std::vector<std::string> scopes = {
        "onvif://www.onvif.org/type/video_encoder", "onvif://www.onvif.org/Profile/Streaming",
        "onvif://www.onvif.org/name/Lab-cam-2", "onvif://www.onvif.org/hardware/ZEB-0123456789ab"};
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    const std::string answer = discovery_answer(ctx, message, scopes);
    if (answer.size() > 3 * size) __builtin_trap();  // the amplification bound
    return 0;
}
