#include "engine/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

template <size_t N>
std::array<uint8_t, N> digest(const EVP_MD* md, std::string_view data) {
    std::array<uint8_t, N> out{};
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
    return out;
}

}  // namespace

Md5Digest md5(std::string_view data) { return digest<16>(EVP_md5(), data); }
Sha1Digest sha1(std::string_view data) { return digest<20>(EVP_sha1(), data); }
Sha256Digest sha256(std::string_view data) { return digest<32>(EVP_sha256(), data); }

bool random_bytes(void* out, size_t len) {
    return RAND_bytes(static_cast<unsigned char*>(out), int(len)) == 1;
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
