#include "web/recovery.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "engine/crypto.h"
#include "engine/data_protect.h"
#include "engine/paths.h"

namespace {

constexpr char k_base32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

std::string hmac_sha256(const std::string& key, const std::string& msg) {
    std::string k = key.size() > 64 ? [&] {
        auto d = sha256(key);
        return std::string(d.begin(), d.end());
    }()
                                     : key;
    k.resize(64, '\0');
    std::string ipad(64, '\0'), opad(64, '\0');
    for (int i = 0; i < 64; ++i) {
        ipad[i] = static_cast<char>(k[i] ^ 0x36);
        opad[i] = static_cast<char>(k[i] ^ 0x5c);
    }
    auto inner = sha256(ipad + msg);
    auto outer = sha256(opad + std::string(inner.begin(), inner.end()));
    return std::string(outer.begin(), outer.end());
}

// 10 bytes: expiry minutes (4, big endian) + first 6 bytes of the HMAC.
std::string code_bytes(const std::string& key, const std::string& machine_id, uint32_t minutes) {
    std::string b;
    for (int s = 24; s >= 0; s -= 8) b += static_cast<char>((minutes >> s) & 0xff);
    const std::string mac = hmac_sha256(key, "zeb-recovery\n" + machine_id + "\n" + b);
    return b + mac.substr(0, 6);
}

std::string to_base32(const std::string& bytes) {  // 10 bytes -> 16 characters
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char c : bytes) {
        acc = (acc << 8) | c;
        bits += 8;
        while (bits >= 5) {
            out += k_base32[(acc >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    return out;
}

bool from_base32(const std::string& text, std::string* bytes) {
    uint32_t acc = 0;
    int bits = 0;
    bytes->clear();
    for (char c : text) {
        const char* p = std::strchr(k_base32, c);
        if (!p || !c) return false;
        acc = (acc << 5) | static_cast<uint32_t>(p - k_base32);
        bits += 5;
        if (bits >= 8) {
            bytes->push_back(static_cast<char>((acc >> (bits - 8)) & 0xff));
            bits -= 8;
        }
    }
    return true;
}

}  // namespace

int64_t unix_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string panel_machine_id(const std::string& machine_identifier) {
    const auto d = sha256("vistrel-panel-id\n" + machine_identifier);
    std::string hex = to_hex(d.data(), 8);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex.substr(0, 4) + "-" + hex.substr(4, 4) + "-" + hex.substr(8, 4) + "-" +
           hex.substr(12, 4);
}

std::string canonical_recovery_code(const std::string& code) {
    std::string c;
    for (char ch : code) {
        if (ch == '-' || ch == ' ' || ch == '\t') continue;
        c += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    std::string bytes;
    if (c.size() != 16 || !from_base32(c, &bytes)) return "";
    return c;
}

std::string make_recovery_code(const std::string& key, const std::string& machine_id,
                               int64_t expiry_unix_s) {
    const std::string c =
        to_base32(code_bytes(key, machine_id, static_cast<uint32_t>(expiry_unix_s / 60)));
    return c.substr(0, 4) + "-" + c.substr(4, 4) + "-" + c.substr(8, 4) + "-" + c.substr(12, 4);
}

RecoveryVerdict check_recovery_code(const std::string& key, const std::string& machine_id,
                                    const std::string& code, int64_t now_unix_s,
                                    int64_t* expiry_out) {
    const std::string canon = canonical_recovery_code(code);
    std::string bytes;
    if (key.empty() || canon.empty() || !from_base32(canon, &bytes) || bytes.size() != 10)
        return RecoveryVerdict::invalid;
    uint32_t minutes = 0;
    for (int i = 0; i < 4; ++i) minutes = (minutes << 8) | static_cast<unsigned char>(bytes[i]);
    const std::string expect = code_bytes(key, machine_id, minutes);
    unsigned diff = 0;
    for (size_t i = 0; i < 10; ++i) diff |= static_cast<unsigned char>(expect[i] ^ bytes[i]);
    if (diff != 0) return RecoveryVerdict::invalid;
    const int64_t expiry = static_cast<int64_t>(minutes) * 60;
    if (expiry_out) *expiry_out = expiry;
    if (now_unix_s > expiry) return RecoveryVerdict::expired;
    // Never longer-lived than one validity period, whoever made it.
    if (expiry - now_unix_s > k_recovery_validity_s + 120) return RecoveryVerdict::invalid;
    return RecoveryVerdict::valid;
}

std::string recovery_key(const std::string& data_dir) {
    const std::string path = data_dir + "/machine.key";
    if (!file_exists(path)) protect_data("", data_dir);  // makes the key
    auto k = read_file(path, 4096);
    return k ? *k : "";
}

bool recovery_code_used(const std::string& data_dir, const std::string& canonical) {
    auto t = read_file(data_dir + "/recovery.used", 1 << 20);
    if (!t) return false;
    std::istringstream in(*t);
    std::string code, expiry;
    while (in >> code >> expiry)
        if (code == canonical) return true;
    return false;
}

bool mark_recovery_code_used(const std::string& data_dir, const std::string& canonical,
                             int64_t now_unix_s) {
    std::string kept;
    if (auto t = read_file(data_dir + "/recovery.used", 1 << 20)) {
        std::istringstream in(*t);
        std::string code, expiry;
        while (in >> code >> expiry) {
            if (expiry.empty() || expiry.find_first_not_of("0123456789") != std::string::npos ||
                expiry.size() > 18)
                continue;
            if (std::stoll(expiry) >= now_unix_s) kept += code + " " + expiry + "\n";
        }
    }
    // Kept until the end of its validity: long enough to refuse every replay.
    kept += canonical + " " + std::to_string(now_unix_s + k_recovery_validity_s + 120) + "\n";
    return write_file_whole(data_dir + "/recovery.used", kept, true);
}

int print_recovery_code(const std::string& data_dir, const std::string& machine_id) {
    const std::string key = recovery_key(data_dir);
    if (key.empty()) {
        std::fprintf(stderr, "--recovery-code: the machine key in %s cannot be read or made\n",
                     data_dir.c_str());
        return 1;
    }
    const int64_t expiry = unix_now() + k_recovery_validity_s;
    std::printf("%s\n", make_recovery_code(key, machine_id, expiry).c_str());
    std::printf("Device id %s. Enter this code under \"Forgot password\" on the web panel's "
                "login page within 24 hours; it works once and resets the login to the "
                "factory user and password.\n",
                machine_id.c_str());
    std::fflush(stdout);
    return 0;
}
