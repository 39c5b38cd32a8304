// Hashes and random bytes for authentication, identities and session ids.
// Backed by OpenSSL's libcrypto on Linux.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using Md5Digest = std::array<uint8_t, 16>;
using Sha1Digest = std::array<uint8_t, 20>;
using Sha256Digest = std::array<uint8_t, 32>;

Md5Digest md5(std::string_view data);
Sha1Digest sha1(std::string_view data);
Sha256Digest sha256(std::string_view data);

// Cryptographically strong random bytes; false when the generator failed.
bool random_bytes(void* out, size_t len);

// Lower-case hexadecimal of any byte run.
std::string to_hex(const uint8_t* data, size_t len);
template <size_t N>
std::string to_hex(const std::array<uint8_t, N>& d) {
    return to_hex(d.data(), N);
}
