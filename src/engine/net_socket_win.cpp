// The socket facility with Winsock 2. Sockets are made non-inheritable, so a
// relaunched or launched process never holds the camera's ports. Windows has
// no SIGPIPE, so sends need no flag. Error codes are WSAGetLastError's; a port
// held by another program shows as WSAEADDRINUSE (10048) or, for a port held
// exclusively, WSAEACCES (10013): both mean "busy" and every listen failure
// sends the binder on to its next candidate.
#include <winsock2.h>
//
#include <iphlpapi.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>
#include <mutex>

#include "engine/net_socket.h"

namespace {

constexpr socket_t k_bad = k_invalid_socket;

SOCKET native(socket_t s) {
    return static_cast<SOCKET>(s);
}

socket_t wrap(SOCKET s) {
    return s == INVALID_SOCKET ? k_bad : static_cast<socket_t>(s);
}

// A new socket that child processes do not inherit.
SOCKET new_socket(int type, int protocol) {
    SOCKET s = WSASocketW(AF_INET, type, protocol, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)  // systems without the flag
        s = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET)
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return s;
}

void close_keeping_error(SOCKET s) {
    const int e = WSAGetLastError();
    closesocket(s);
    WSASetLastError(e);
}

socket_t listen_at(ULONG addr, uint16_t port, int backlog, bool exclusive) {
    SOCKET s = new_socket(SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return k_bad;
    if (exclusive) {
        BOOL one = TRUE;
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
                   sizeof one);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(s, backlog) != 0) {
        close_keeping_error(s);
        return k_bad;
    }
    return wrap(s);
}

bool set_timeout(socket_t s, int opt, uint32_t ms) {
    const DWORD v = ms;
    return setsockopt(native(s), SOL_SOCKET, opt, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

std::string ip_text(const in_addr& a) {
    char buf[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &a, buf, sizeof buf) ? std::string(buf) : std::string();
}

// Waits up to ms (INFINITE: no limit) for s to become readable or writable:
// 1 ready, 0 time-out, -1 error. For writing, the error set catches a failed
// connect.
int wait_socket(SOCKET s, bool write, uint32_t ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv{};
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
    const int rc = select(0, write ? nullptr : &set, write ? &set : nullptr,
                          write ? &errors : nullptr, ms == INFINITE ? nullptr : &tv);
    if (rc == SOCKET_ERROR) return -1;
    if (rc == 0) return 0;
    return FD_ISSET(s, &set) ? 1 : -1;
}

}  // namespace

bool net_init() {
    static const bool ok = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

socket_t tcp_listen(uint16_t port, int backlog, bool exclusive) {
    return listen_at(htonl(INADDR_ANY), port, backlog, exclusive);
}

socket_t tcp_listen_on(const std::string& ip, uint16_t port, int backlog) {
    in_addr a{};
    if (inet_pton(AF_INET, ip.c_str(), &a) != 1) return k_bad;
    return listen_at(a.s_addr, port, backlog, true);
}

uint16_t socket_local_port(socket_t s) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

socket_t tcp_accept(socket_t listener, std::string* peer_ip, uint16_t* peer_port) {
    sockaddr_in sa{};
    int len = sizeof sa;
    SOCKET c = accept(native(listener), reinterpret_cast<sockaddr*>(&sa), &len);
    if (c == INVALID_SOCKET) return k_bad;
    SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
    if (peer_ip) *peer_ip = ip_text(sa.sin_addr);
    if (peer_port) *peer_port = ntohs(sa.sin_port);
    return wrap(c);
}

socket_t tcp_connect(const std::string& host_ip, uint16_t port, uint32_t timeout_ms) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, host_ip.c_str(), &sa.sin_addr) != 1) return k_bad;
    SOCKET s = new_socket(SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return k_bad;
    u_long nonblocking = 1;
    ioctlsocket(s, FIONBIO, &nonblocking);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK || wait_socket(s, true, timeout_ms) != 1) {
            close_keeping_error(s);
            return k_bad;
        }
        int err = 0;
        int elen = sizeof err;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &elen) != 0 ||
            err != 0) {
            closesocket(s);
            WSASetLastError(err);
            return k_bad;
        }
    }
    nonblocking = 0;
    ioctlsocket(s, FIONBIO, &nonblocking);
    return wrap(s);
}

void net_close(socket_t s) {
    if (s != k_bad) closesocket(native(s));
}

void net_shutdown(socket_t s) {
    if (s != k_bad) shutdown(native(s), SD_BOTH);
}

bool send_all(socket_t s, const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        const int chunk = static_cast<int>(len > (1u << 30) ? (1u << 30) : len);
        const int n = send(native(s), p, chunk, 0);
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

long send_some(socket_t s, const void* data, size_t len) {
    // A blocking Winsock send takes the whole buffer or times out, and a timed
    // out send leaves the connection in an undefined state. So wait for room
    // first (within the send time-out), then hand over a piece the socket
    // buffer can take at once.
    DWORD timeout = 0;
    int olen = sizeof timeout;
    getsockopt(native(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&timeout), &olen);
    const int ready = wait_socket(native(s), true, timeout ? timeout : INFINITE);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    const int chunk = static_cast<int>(len > 65536 ? 65536 : len);
    const int n = send(native(s), static_cast<const char*>(data), chunk, 0);
    if (n == SOCKET_ERROR) {
        const int e = WSAGetLastError();
        return (e == WSAETIMEDOUT || e == WSAEWOULDBLOCK) ? 0 : -1;
    }
    return n == 0 ? -1 : long(n);
}

long recv_some(socket_t s, void* buf, size_t len) {
    const int chunk = static_cast<int>(len > INT_MAX ? INT_MAX : len);
    const int n = recv(native(s), static_cast<char*>(buf), chunk, 0);
    return n == SOCKET_ERROR ? -1 : long(n);
}

bool set_recv_timeout(socket_t s, uint32_t ms) {
    return set_timeout(s, SO_RCVTIMEO, ms);
}
bool set_send_timeout(socket_t s, uint32_t ms) {
    return set_timeout(s, SO_SNDTIMEO, ms);
}

bool set_tcp_nodelay(socket_t s, bool on) {
    const BOOL v = on ? TRUE : FALSE;
    return setsockopt(native(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v),
                      sizeof v) == 0;
}

bool set_send_buffer(socket_t s, int bytes) {
    return setsockopt(native(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0;
}

int wait_readable(socket_t s, uint32_t timeout_ms) {
    // A reset or closed connection reads as readable: the next recv says so.
    return wait_socket(native(s), false, timeout_ms);
}

std::string socket_local_ip(socket_t s) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return "";
    return ip_text(sa.sin_addr);
}

int net_last_error() {
    return WSAGetLastError();
}

std::string resolve_ipv4(const std::string& host) {
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) == 1) return host;
    if (host.empty()) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    const std::string text = ip_text(sin->sin_addr);
    freeaddrinfo(res);
    return text;
}

std::string socket_peer_ip(socket_t s) {
    sockaddr_in a{};
    int len = sizeof a;
    if (getpeername(native(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        a.sin_family != AF_INET)
        return {};
    return ip_text(a.sin_addr);
}

socket_t udp_bind(uint16_t port) {
    SOCKET s = new_socket(SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return k_bad;
    BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    // Without this, an ICMP "port unreachable" for an earlier reply makes the
    // next recvfrom fail with WSAECONNRESET.
    BOOL report_reset = FALSE;
    DWORD ret = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report_reset, sizeof report_reset, nullptr, 0, &ret, nullptr,
             nullptr);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close_keeping_error(s);
        return k_bad;
    }
    return wrap(s);
}

bool udp_join_group(socket_t s, const std::string& group, const std::string& iface_ip) {
    ip_mreq m{};
    if (inet_pton(AF_INET, group.c_str(), &m.imr_multiaddr) != 1) return false;
    m.imr_interface.s_addr = htonl(INADDR_ANY);
    if (!iface_ip.empty() && inet_pton(AF_INET, iface_ip.c_str(), &m.imr_interface) != 1)
        return false;
    return setsockopt(native(s), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&m),
                      sizeof m) == 0;
}

long udp_recv_from(socket_t s, void* buf, size_t len, std::string* from_ip, uint16_t* from_port) {
    sockaddr_in a{};
    int alen = sizeof a;
    const int chunk = static_cast<int>(len > INT_MAX ? INT_MAX : len);
    int n = recvfrom(native(s), static_cast<char*>(buf), chunk, 0, reinterpret_cast<sockaddr*>(&a),
                     &alen);
    // An oversized datagram arrives cut to the buffer, as on Linux.
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) n = chunk;
    if (n == SOCKET_ERROR) return -1;
    if (from_ip) *from_ip = ip_text(a.sin_addr);
    if (from_port) *from_port = ntohs(a.sin_port);
    return static_cast<long>(n);
}

bool udp_send_to(socket_t s, const void* data, size_t len, const std::string& ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 || len > INT_MAX) return false;
    return sendto(native(s), static_cast<const char*>(data), static_cast<int>(len), 0,
                  reinterpret_cast<sockaddr*>(&a), sizeof a) == static_cast<int>(len);
}

std::vector<std::string> multicast_interface_addresses() {
    std::vector<std::string> out;
    ULONG size = 15000;
    std::vector<unsigned char> buf;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buf.resize(size);
        rc = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
    }
    if (rc != NO_ERROR) return out;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr* sa = u->Address.lpSockaddr;
            if (!sa || sa->sa_family != AF_INET) continue;
            const auto* sin = reinterpret_cast<const sockaddr_in*>(sa);
            if ((ntohl(sin->sin_addr.s_addr) >> 24) == 127) continue;
            out.push_back(ip_text(sin->sin_addr));
        }
    }
    return out;
}
