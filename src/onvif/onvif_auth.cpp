#include "onvif/onvif_auth.h"

#include <cctype>

#include "engine/base64.h"
#include "engine/crypto.h"
#include "onvif/events_messages.h"
#include "onvif/onvif_xml.h"
#include "rtsp/digest_auth.h"

namespace {

bool contains(std::string_view s, std::string_view what) {
    return s.find(what) != std::string_view::npos;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Lenient Base64 as WS-Security clients send it: characters outside the
// alphabet (padding, line breaks) are skipped, leftover bits dropped.
std::string base64_decode_lenient(std::string_view text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

}  // namespace

bool needs_credentials(std::string_view body) {
    // GetCompatibleVideoEncoderConfigurations reveals the same configuration as
    // GetVideoEncoderConfiguration but does not contain that text, so it is named.
    for (const char* name :
         {"GetStreamUri", "GetProfiles", "GetProfile", "GetSnapshotUri",
          "GetVideoEncoderConfiguration", "GetCompatibleVideoEncoderConfigurations"})
        if (contains(body, name)) return true;
    // The events actions: an outsider could otherwise make the camera post to
    // any host, or pull from and end the subscriptions of recorders.
    return events_action(body) != EventsAction::none ||
           has_element(body, "SetSynchronizationPoint");
}

bool check_username_token(const OnvifContext& ctx, std::string_view body) {
    if (ctx.password.empty()) return false;
    const std::string user = xml_text(body, "Username");
    const std::string pass = xml_text(body, "Password");
    if (user.empty() || pass.empty()) return false;
    if (!equal_constant_time(lower(user), lower(ctx.user_name))) return false;
    const std::string nonce = xml_text(body, "Nonce");
    const std::string created = xml_text(body, "Created");
    if (contains(body, "#PasswordText") || nonce.empty() || created.empty())
        return equal_constant_time(pass, ctx.password);
    const std::string digest = base64_encode(
        std::string_view(reinterpret_cast<const char*>(
                             sha1(base64_decode_lenient(nonce) + created + ctx.password).data()),
                         20));
    // Some clients put the plain password into a digest-form token; accept it.
    const bool by_digest = equal_constant_time(pass, digest);
    const bool by_text = equal_constant_time(pass, ctx.password);
    return by_digest || by_text;
}

bool check_http_auth(std::string_view request, std::string_view method, std::string_view realm,
                     std::string_view nonce, std::string_view user, std::string_view password) {
    if (password.empty()) return false;
    size_t at = request.find("Authorization:");
    if (at == std::string_view::npos) at = request.find("authorization:");
    if (at == std::string_view::npos) return false;
    size_t end = request.find("\r\n", at);
    if (end == std::string_view::npos) end = request.size();
    const std::string_view line = request.substr(at, end - at);

    if (contains(line, "Basic ") || contains(line, "basic ")) {
        std::string_view token = line.substr(line.find("asic ") + 5);
        const size_t cut = token.find_first_of(" \r\n");
        if (cut != std::string_view::npos) token = token.substr(0, cut);
        const std::string decoded = base64_decode_lenient(token);
        const size_t colon = decoded.find(':');
        if (colon == std::string::npos) return false;
        const bool user_ok = equal_constant_time(decoded.substr(0, colon), user);
        const bool pass_ok = equal_constant_time(decoded.substr(colon + 1), password);
        return user_ok && pass_ok;
    }
    if (!contains(line, "Digest") && !contains(line, "digest")) return false;
    const std::string p_user = auth_param(line, "username");
    const std::string uri = auth_param(line, "uri");
    const std::string response = lower(auth_param(line, "response"));
    const std::string p_nonce = auth_param(line, "nonce");
    const std::string qop = auth_param(line, "qop");
    const std::string nc = auth_param(line, "nc");
    const std::string cnonce = auth_param(line, "cnonce");
    if (p_user.empty() || uri.empty() || response.empty()) return false;
    if (!equal_constant_time(p_nonce, nonce)) return false;

    const std::string ha1 =
        md5_hex(std::string(user) + ":" + std::string(realm) + ":" + std::string(password));
    const std::string ha2 = md5_hex(std::string(method) + ":" + uri);
    bool ok = false;
    if (!qop.empty())
        ok = equal_constant_time(response, md5_hex(ha1 + ":" + p_nonce + ":" + nc + ":" + cnonce +
                                                   ":" + qop + ":" + ha2));
    const bool ok2069 = equal_constant_time(response, md5_hex(ha1 + ":" + p_nonce + ":" + ha2));
    return ok || ok2069;
}
