// libFuzzer target: the bytes as one HTTP request on the ONVIF port (framing,
// routing, credential gate with stream_auth on and off, dispatcher, events
// service). Long polls and Notify posts go through the context's seams, so an
// input never waits on the clock or reaches the network.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../fuzz_source.h"
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
    size_t pos = 0;
    const auto source = split_source(data, size, pos);
    for (uint32_t auth : {0u, 1u}) {
        ctx.stream_auth = auth;
        pos = 0;
        if (auto req = read_request(source)) handle_request(ctx, *req);
    }
    return 0;
}
