// Hashes and random bytes with CNG (bcrypt). The algorithm providers are
// opened once and shared; each hash gets its own object, so threads may hash
// at the same time.
#include <windows.h>
//
#include <bcrypt.h>

#include "engine/crypto.h"

namespace {

BCRYPT_ALG_HANDLE open_provider(const wchar_t* id) {
    BCRYPT_ALG_HANDLE h = nullptr;
    return BCryptOpenAlgorithmProvider(&h, id, nullptr, 0) >= 0 ? h : nullptr;
}

template <size_t N>
std::array<uint8_t, N> digest(const wchar_t* id, std::string_view data) {
    std::array<uint8_t, N> out{};
    static_assert(N == 16 || N == 20 || N == 32);
    // One provider per algorithm (the template's N picks the static).
    static const BCRYPT_ALG_HANDLE provider = open_provider(id);
    if (!provider) return out;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) < 0) return out;
    bool ok = true;
    const auto* p = reinterpret_cast<const UCHAR*>(data.data());
    size_t left = data.size();
    while (ok && left > 0) {
        const ULONG chunk = static_cast<ULONG>(left > 0x40000000u ? 0x40000000u : left);
        ok = BCryptHashData(hash, const_cast<PUCHAR>(p), chunk, 0) >= 0;
        p += chunk;
        left -= chunk;
    }
    if (!ok || BCryptFinishHash(hash, out.data(), static_cast<ULONG>(N), 0) < 0) out.fill(0);
    BCryptDestroyHash(hash);
    return out;
}

}  // namespace

Md5Digest md5(std::string_view data) {
    return digest<16>(BCRYPT_MD5_ALGORITHM, data);
}
Sha1Digest sha1(std::string_view data) {
    return digest<20>(BCRYPT_SHA1_ALGORITHM, data);
}
Sha256Digest sha256(std::string_view data) {
    return digest<32>(BCRYPT_SHA256_ALGORITHM, data);
}

bool random_bytes(void* out, size_t len) {
    auto* p = static_cast<UCHAR*>(out);
    while (len > 0) {
        const ULONG chunk = static_cast<ULONG>(len > 0x40000000u ? 0x40000000u : len);
        if (BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) return false;
        p += chunk;
        len -= chunk;
    }
    return true;
}

std::string to_hex(const uint8_t* data, size_t len) {
    static const char k_digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
        s += k_digits[data[i] >> 4];
        s += k_digits[data[i] & 15];
    }
    return s;
}
