#include "engine/base64.h"

#include <cstdint>

namespace {
const char k_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value_of(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string base64_encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                     uint8_t(bytes[i + 2]);
        out += k_alphabet[v >> 18];
        out += k_alphabet[(v >> 12) & 63];
        out += k_alphabet[(v >> 6) & 63];
        out += k_alphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest == 1) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        out += k_alphabet[v >> 18];
        out += k_alphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += k_alphabet[v >> 18];
        out += k_alphabet[(v >> 12) & 63];
        out += k_alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> base64_decode(std::string_view text) {
    size_t len = text.size();
    size_t pad = 0;
    while (len > 0 && text[len - 1] == '=' && pad < 2) {
        --len;
        ++pad;
    }
    if (pad > 0 && (len + pad) % 4 != 0) return std::nullopt;
    if (len % 4 == 1) return std::nullopt;
    std::string out;
    out.reserve(len * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < len; ++i) {
        int v = value_of(text[i]);
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((acc >> bits) & 0xFF);
        }
    }
    return out;
}
