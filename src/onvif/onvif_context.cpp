// Identity and camera-name set-up of the ONVIF device.
#include "onvif/onvif_context.h"

#include "engine/clock.h"
#include "engine/crypto.h"
#include "engine/log.h"

namespace {

thread_local std::string t_current_peer;

// Digits [from, from+len) of h; missing digits are written as zeros.
std::string hex_group(const std::string& h, size_t from, size_t len) {
    std::string out;
    for (size_t i = from; i < from + len; ++i) out += i < h.size() ? h[i] : '0';
    return out;
}

std::string uuid_from(const std::string& h, size_t base) {
    return "urn:uuid:" + hex_group(h, base, 8) + "-" + hex_group(h, base + 8, 4) + "-" +
           hex_group(h, base + 12, 4) + "-" + hex_group(h, base + 16, 4) + "-" +
           hex_group(h, base + 20, 12);
}

bool is_scope_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

}  // namespace

OnvifContext& onvif_context() {
    static OnvifContext ctx;
    return ctx;
}

const std::string& onvif_current_peer() {
    return t_current_peer;
}
void onvif_set_current_peer(const std::string& peer) {
    t_current_peer = peer;
}

void onvif_identity_from(OnvifContext& ctx, const std::string& machine_id) {
    const std::string h = to_hex(sha256(machine_id));
    ctx.endpoint_uuid = uuid_from(h, 0);
    ctx.second_uuid = uuid_from(h, 32);
    ctx.serial_number = "ZEB-" + h.substr(0, 12);
    ctx.nonce = to_hex(md5(ctx.endpoint_uuid + std::to_string(tick_ms())));
    std::lock_guard<std::mutex> g(ctx.lock);
    ctx.short_id = h.size() >= 4 ? h.substr(0, 4) : "cam";
}

void onvif_identity_init(OnvifContext& ctx, const std::string& address, uint32_t onvif_port,
                         uint32_t rtsp_port, const std::string& stream_name, uint32_t width,
                         uint32_t height, uint32_t frame_rate, const std::string& substream_name,
                         int32_t sub_width, int32_t sub_height, const std::string& user,
                         const std::string& password, uint32_t stream_auth,
                         const std::string& camera_name) {
    ctx.address = address;
    ctx.onvif_port = onvif_port;
    ctx.rtsp_port = rtsp_port;
    ctx.stream_name = stream_name;
    ctx.width = width;
    ctx.height = height;
    ctx.frame_rate = frame_rate;
    ctx.substream_name = substream_name;
    ctx.sub_width = sub_width;
    ctx.sub_height = sub_height;
    ctx.sub_stream_on = !substream_name.empty() && sub_width >= 1 && sub_height >= 1;
    ctx.user_name = user;
    ctx.password = password;
    ctx.stream_auth = stream_auth;
    onvif_identity_from(ctx, machine_identifier());
    std::lock_guard<std::mutex> g(ctx.lock);
    onvif_apply_name(ctx, camera_name);
}

void onvif_apply_name(OnvifContext& ctx, const std::string& camera_name) {
    bool ascii = true;
    for (unsigned char c : camera_name) ascii = ascii && c < 128;
    if (!camera_name.empty() && ascii && camera_name != "Vistrel") {
        ctx.display_name = camera_name;
        ctx.model = camera_name;
    } else {
        ctx.display_name = "Vistrel-" + ctx.short_id;
        ctx.model = "Vistrel";
    }
    std::string scope;
    for (unsigned char c : ctx.display_name) {
        if (is_scope_char(c))
            scope += static_cast<char>(c);
        else if (!scope.empty() && scope.back() != '-')
            scope += '-';
    }
    while (!scope.empty() && scope.back() == '-') scope.pop_back();
    ctx.scope_name = scope.empty() ? "Vistrel-" + ctx.short_id : scope;
    ctx.scope_list = {"onvif://www.onvif.org/type/video_encoder",
                      "onvif://www.onvif.org/Profile/Streaming",
                      "onvif://www.onvif.org/name/" + ctx.scope_name,
                      "onvif://www.onvif.org/hardware/" + ctx.serial_number};
}

void onvif_set_name_live(OnvifContext& ctx, const std::string& camera_name) {
    std::lock_guard<std::mutex> g(ctx.lock);
    const std::string before = ctx.display_name;
    onvif_apply_name(ctx, camera_name);
    if (ctx.display_name != before)
        engine_log("ONVIF: camera name on the NVR -> \"%s\" (live)\n", ctx.display_name.c_str());
}

void onvif_set_osd_layout(OnvifContext& ctx, uint32_t name_pos, bool clock_on, uint32_t clock_pos) {
    std::lock_guard<std::mutex> g(ctx.lock);
    ctx.osd_clock_on = clock_on ? 1 : 0;
    ctx.osd_name_pos = name_pos > 3 ? 3 : name_pos;
    ctx.osd_clock_pos = clock_pos > 3 ? 1 : clock_pos;
}
