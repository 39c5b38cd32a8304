// Machine-scope data protection with crypt32 (CryptProtectData with the
// local-machine flag, description "zeb"), and the protected-password marker
// as the text value pwenc under HKEY_CURRENT_USER\SOFTWARE\Orvanta\ZEB.
#include <windows.h>
//
#include <dpapi.h>

#include "engine/data_protect.h"

namespace {

constexpr const wchar_t* k_marker_key = L"SOFTWARE\\Orvanta\\ZEB";
constexpr const wchar_t* k_marker_value = L"pwenc";

std::string take_blob(DATA_BLOB& b) {
    std::string out(reinterpret_cast<const char*>(b.pbData), b.cbData);
    SecureZeroMemory(b.pbData, b.cbData);
    LocalFree(b.pbData);
    return out;
}

}  // namespace

std::optional<std::string> protect_data(const std::string& plain, const std::string& /*data_dir*/) {
    DATA_BLOB in{static_cast<DWORD>(plain.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(plain.data()))};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"zeb", nullptr, nullptr, nullptr,
                          CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out))
        return std::nullopt;
    return take_blob(out);
}

std::optional<std::string> unprotect_data(const std::string& blob,
                                          const std::string& /*data_dir*/) {
    if (blob.empty()) return std::nullopt;
    DATA_BLOB in{static_cast<DWORD>(blob.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()))};
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
        return std::nullopt;
    return take_blob(out);
}

bool read_pwenc_marker(const std::string& /*data_dir*/) {
    wchar_t text[16] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, k_marker_key, k_marker_value, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return false;
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    return *p == L'1';
}

bool write_pwenc_marker(const std::string& /*data_dir*/, bool on) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, k_marker_key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const wchar_t* value = on ? L"1" : L"0";
    const LONG rc = RegSetValueExW(key, k_marker_value, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value), 2 * sizeof(wchar_t));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void secure_machine_key(const std::string& /*data_dir*/) {}
