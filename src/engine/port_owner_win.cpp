// Holder of a listening TCP port: the owning process id from IP Helper's
// listener tables (IPv4 and IPv6), its executable name from a process
// snapshot. Process 4 is the kernel's HTTP driver; process 0 means the
// system did not say (Wine always gives 0).
#include <winsock2.h>
//
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <vector>

#include "engine/ports.h"
#include "engine/wide_text_win.h"

namespace {

constexpr DWORD k_no_owner = ~DWORD(0);

// Listener table of one address family; empty on failure.
std::vector<unsigned char> listener_table(ULONG family) {
    std::vector<unsigned char> buf;
    DWORD size = 0;
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buf.resize(size);
        rc = GetExtendedTcpTable(buf.empty() ? nullptr : buf.data(), &size, FALSE, family,
                                 TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (rc != NO_ERROR) buf.clear();
    return buf;
}

DWORD owner_pid(int port) {
    const u_short wanted = htons(static_cast<u_short>(port));
    auto v4 = listener_table(AF_INET);
    if (!v4.empty()) {
        const auto* t = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(v4.data());
        for (DWORD i = 0; i < t->dwNumEntries; ++i)
            if (static_cast<u_short>(t->table[i].dwLocalPort) == wanted)
                return t->table[i].dwOwningPid;
    }
    auto v6 = listener_table(AF_INET6);
    if (!v6.empty()) {
        const auto* t = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(v6.data());
        for (DWORD i = 0; i < t->dwNumEntries; ++i)
            if (static_cast<u_short>(t->table[i].dwLocalPort) == wanted)
                return t->table[i].dwOwningPid;
    }
    return k_no_owner;
}

std::string process_name(DWORD pid) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return "";
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    std::string name;
    for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
        if (e.th32ProcessID == pid) {
            name = wide_to_utf8(e.szExeFile);
            break;
        }
    }
    CloseHandle(snap);
    return name;
}

}  // namespace

std::string lookup_port_owner(int port) {
    const DWORD pid = owner_pid(port);
    if (pid == k_no_owner) return "";
    if (pid == 0) return "unknown";
    if (pid == 4) return "System (http.sys)";
    const std::string name = process_name(pid);
    return name.empty() ? "PID " + std::to_string(pid) : name;
}
