// machine_identifier on Windows: the installation's MachineGuid, which stays
// the same across runs and reboots; the computer name when it cannot be read.
// Also the platform part of the firmware version.
#include <windows.h>

#include <string>

#include "onvif/onvif_context.h"

namespace {

std::string utf8(const wchar_t* w, int chars) {
    if (chars <= 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w, chars, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, chars, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

std::string machine_identifier() {
    wchar_t guid[128] = {};
    DWORD bytes = sizeof guid - sizeof(wchar_t);
    // The 64-bit view: the value lives there, whatever the process's bitness.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid,
                     &bytes) == ERROR_SUCCESS &&
        guid[0])
        return "machine-guid:" + utf8(guid, static_cast<int>(wcslen(guid)));
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD len = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(host, &len) && len > 0) return "host:" + utf8(host, static_cast<int>(len));
    return "vistrel-screen-camera";
}

std::string platform_firmware_version() {
    return "2.0.5-WindowsServer";
}
