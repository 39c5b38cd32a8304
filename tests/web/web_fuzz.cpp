// libFuzzer target: the bytes as one web-panel request (reader with its
// bounds, request line, cookie, then the router with a real session table),
// and as a form body.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "../fuzz_source.h"
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
    size_t pos = 0;
    const auto source = split_source(data, size, pos);
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
