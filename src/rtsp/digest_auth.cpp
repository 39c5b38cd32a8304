#include "rtsp/digest_auth.h"

#include <cstdint>
#include <vector>

#include "engine/base64.h"
#include "engine/clock.h"
#include "engine/crypto.h"

namespace {

std::string_view header_line(std::string_view request) {
    size_t pos = request.find("Authorization:");
    if (pos == std::string_view::npos) pos = request.find("authorization:");
    if (pos == std::string_view::npos) return {};
    std::string_view line = request.substr(pos);
    size_t end = line.find("\r\n");
    return end == std::string_view::npos ? line : line.substr(0, end);
}

bool check_basic(std::string_view line, std::string_view user, std::string_view password) {
    size_t pos = line.find("asic ");
    if (pos == std::string_view::npos) return false;
    std::string_view token = line.substr(pos + 5);
    size_t end = token.find_first_of(" \r\n");
    if (end != std::string_view::npos) token = token.substr(0, end);
    std::string decoded = base64_decode(token).value_or(std::string());
    if (decoded.empty()) return false;
    size_t colon = decoded.find(':');
    if (colon == std::string::npos) return false;
    std::string_view d(decoded);
    // Evaluate both comparisons so the time taken does not tell which one failed.
    bool user_ok = equal_constant_time(d.substr(0, colon), user);
    bool pass_ok = equal_constant_time(d.substr(colon + 1), password);
    return user_ok && pass_ok;
}

std::string join(std::initializer_list<std::string_view> parts) {
    std::string s;
    bool first = true;
    for (auto p : parts) {
        if (!first) s += ':';
        s.append(p);
        first = false;
    }
    return s;
}

bool check_digest(std::string_view line, std::string_view method, std::string_view realm,
                  std::string_view nonce, std::string_view user, std::string_view password) {
    std::string username = auth_param(line, "username");
    std::string uri = auth_param(line, "uri");
    std::string response = auth_param(line, "response");
    std::string client_nonce = auth_param(line, "nonce");
    if (username.empty() || uri.empty() || response.empty()) return false;
    if (!equal_constant_time(client_nonce, nonce)) return false;
    std::string qop = auth_param(line, "qop");
    std::string ha1 = md5_hex(join({user, realm, password}));
    std::string ha2 = md5_hex(join({method, uri}));
    std::string expected;
    if (!qop.empty()) {
        std::string nc = auth_param(line, "nc");
        std::string cnonce = auth_param(line, "cnonce");
        expected = md5_hex(join({ha1, nonce, nc, cnonce, qop, ha2}));
    } else {
        expected = md5_hex(join({ha1, nonce, ha2}));
    }
    for (char& c : response)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return equal_constant_time(response, expected);
}

}  // namespace

bool check_rtsp_auth(std::string_view request, std::string_view method, std::string_view realm,
                     std::string_view nonce, std::string_view user, std::string_view password) {
    if (password.empty()) return false;
    std::string_view line = header_line(request);
    if (line.empty()) return false;
    if (line.find("Basic ") != std::string_view::npos ||
        line.find("basic ") != std::string_view::npos)
        return check_basic(line, user, password);
    if (line.find("Digest") != std::string_view::npos ||
        line.find("digest") != std::string_view::npos)
        return check_digest(line, method, realm, nonce, user, password);
    return false;
}

std::string random_hex(int n) {
    if (n <= 0) n = 16;
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    if (!random_bytes(bytes.data(), bytes.size())) {
        uint64_t t = tick_ms();
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(t >> ((i % 8) * 8));
    }
    return to_hex(bytes.data(), bytes.size());
}

std::string auth_param(std::string_view line, std::string_view name) {
    std::string key(name);
    key += '=';
    size_t pos = 0;
    while ((pos = line.find(key, pos)) != std::string_view::npos) {
        if (pos > 0 && (line[pos - 1] == ' ' || line[pos - 1] == '\t' || line[pos - 1] == ','))
            break;
        ++pos;
    }
    if (pos == std::string_view::npos) return {};
    std::string_view rest = line.substr(pos + key.size());
    if (!rest.empty() && rest[0] == '"') {
        size_t close = rest.find('"', 1);
        if (close == std::string_view::npos) return {};
        return std::string(rest.substr(1, close - 1));
    }
    size_t end = rest.find_first_of(", \r\n");
    return std::string(end == std::string_view::npos ? rest : rest.substr(0, end));
}

std::string md5_hex(std::string_view bytes) {
    return to_hex(md5(bytes));
}

bool equal_constant_time(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    uint8_t acc = 0;
    for (size_t i = 0; i < a.size(); ++i) acc |= uint8_t(a[i] ^ b[i]);
    return acc == 0;
}
