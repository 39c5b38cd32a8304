// AES-256-GCM protection with a per-machine key file.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engine/crypto.h"
#include "engine/data_protect.h"
#include "engine/log.h"
#include "engine/paths.h"

namespace {

constexpr size_t k_key_len = 32;
constexpr size_t k_nonce_len = 12;
constexpr size_t k_tag_len = 16;

std::optional<std::string> read_key(const std::string& key_path) {
    auto k = read_file(key_path, 4096);
    if (!k || k->size() != k_key_len) return std::nullopt;
    return k;
}

// Reads the machine key, creating it when missing. Creation goes through a
// private temporary file and link(), so two processes racing here end with one
// key that both use.
std::optional<std::string> machine_key(const std::string& data_dir, bool create) {
    const std::string key_path = data_dir + "/machine.key";
    if (auto k = read_key(key_path)) return k;
    if (!create) return std::nullopt;
    std::string key(k_key_len, '\0');
    if (!random_bytes(key.data(), key.size())) return std::nullopt;
    const std::string tmp = key_path + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());  // a leftover of an earlier process with this id, or a planted link
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return std::nullopt;
    bool ok =
        write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) && fsync(fd) == 0;
    close(fd);
    if (ok) link(tmp.c_str(), key_path.c_str());  // fails harmlessly when another won
    unlink(tmp.c_str());
    return read_key(key_path);
}

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

}  // namespace

std::optional<std::string> protect_data(const std::string& plain, const std::string& data_dir) {
    auto key = machine_key(data_dir, true);
    if (!key) return std::nullopt;
    std::string out(k_nonce_len + plain.size() + k_tag_len, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (!random_bytes(o, k_nonce_len)) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                                   reinterpret_cast<const unsigned char*>(key->data()), o) != 1)
        return std::nullopt;
    if (!plain.empty() && EVP_EncryptUpdate(ctx.get(), o + k_nonce_len, &len,
                                            reinterpret_cast<const unsigned char*>(plain.data()),
                                            static_cast<int>(plain.size())) != 1)
        return std::nullopt;
    int fin = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), o + k_nonce_len + len, &fin) != 1) return std::nullopt;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, k_tag_len,
                            o + k_nonce_len + plain.size()) != 1)
        return std::nullopt;
    return out;
}

std::optional<std::string> unprotect_data(const std::string& blob, const std::string& data_dir) {
    if (blob.size() < k_nonce_len + k_tag_len) return std::nullopt;
    auto key = machine_key(data_dir, false);
    if (!key) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(blob.data());
    const size_t ct_len = blob.size() - k_nonce_len - k_tag_len;
    std::string out(ct_len, '\0');
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                                   reinterpret_cast<const unsigned char*>(key->data()), b) != 1)
        return std::nullopt;
    if (ct_len > 0 && EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()),
                                        &len, b + k_nonce_len, static_cast<int>(ct_len)) != 1)
        return std::nullopt;
    std::string tag(blob.end() - k_tag_len, blob.end());
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, k_tag_len, tag.data()) != 1)
        return std::nullopt;
    int fin = 0;
    unsigned char dummy[16];
    if (EVP_DecryptFinal_ex(ctx.get(), dummy, &fin) != 1) return std::nullopt;
    return out;
}

bool read_pwenc_marker(const std::string& data_dir) {
    auto t = read_file(data_dir + "/pwenc", 64);
    if (!t) return false;
    const size_t first = t->find_first_not_of(" \t");
    return first != std::string::npos && (*t)[first] == '1';
}

bool write_pwenc_marker(const std::string& data_dir, bool on) {
    return write_file_whole(data_dir + "/pwenc", on ? "1" : "0");
}

void secure_machine_key(const std::string& data_dir) {
    struct stat dir {};
    if (stat(data_dir.c_str(), &dir) != 0 || (dir.st_mode & S_IWOTH)) return;
    const std::string key_path = data_dir + "/machine.key";
    int fd = open(key_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & (S_IRWXG | S_IRWXO))) {
        if (fchmod(fd, S_IRUSR | S_IWUSR) == 0)
            engine_log("CFG: machine.key could be read by other users - now owner-only\n");
        else
            engine_log("CFG: machine.key can be read by other users and cannot be changed (%s)\n",
                       std::strerror(errno));
    }
    close(fd);
}
