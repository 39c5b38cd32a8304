// libFuzzer target: the bytes as one HTTP request on the ONVIF port (framing,
// routing, credential gate with stream_auth on and off, dispatcher, events
// service). Long polls and Notify posts go through the context's seams, so an
// input never waits on the clock or reaches the network.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "onvif/onvif_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static OnvifContext ctx;
    static const bool ready = [] {
        ctx.address = "127.0.0.1";
        ctx.user_name = "admin";
        ctx.password = "pw";
        ctx.snapshot = [](int, int) { return std::string("jpeg"); };
        ctx.events_wait = [](uint64_t, int) { return false; };
        ctx.events_post = [](const std::string&, const std::string&, uint32_t) { return true; };
        return true;
    }();
    (void)ready;
    // Deliver the request in two reads, split at a position taken from the input.
    const size_t cut = size ? data[0] % (size + 1) : 0;
    size_t pos = 0;
    auto source = [&](char* buf, size_t len) -> long {
        const size_t stop = pos < cut ? cut : size;
        if (pos >= stop) return 0;
        const size_t n = std::min(len, stop - pos);
        std::copy(data + pos, data + pos + n, buf);
        pos += n;
        return static_cast<long>(n);
    };
    for (uint32_t auth : {0u, 1u}) {
        ctx.stream_auth = auth;
        pos = 0;
        if (auto req = read_request(source)) handle_request(ctx, *req);
    }
    return 0;
}
