// libFuzzer target: the bytes as one web-panel request (reader with its
// bounds, request line, cookie, then the router with a real session table),
// and as a form body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "web/web_request.h"
#include "web/web_server.h"
#include "web/web_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static WebAdminContext ctx;
    static const bool ready = [] {
        const std::string dir = std::filesystem::temp_directory_path() / "zeb-web-fuzz";
        std::filesystem::create_directories(dir);
        ctx.data_dir = dir;
        ctx.cfg_path = dir + "/zeb.cfg";
        ctx.admin_user = "admin";
        ctx.admin_pass = "pw";
        ctx.machine_id = "ABCD-0123-4567-89EF";
        ctx.snapshot = [] { return std::string("jpeg"); };
        ctx.log_text = [] { return std::string("log"); };
        web_context_init(ctx);
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
    WebRequest req;
    if (read_web_request(source, &req) == ReadOutcome::ok) {
        session_cookie(req.header);
        // /recover and a successful login write files; keep the fuzzer to the rest.
        if (req.path != "/recover") route_request(ctx, req, "192.0.2.1");
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    parse_form(text);
    session_cookie(text);
    declared_body_length(text);
    return 0;
}
