#include "engine/net_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool set_timeout(int s, int opt, uint32_t ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return setsockopt(s, SOL_SOCKET, opt, &tv, sizeof tv) == 0;
}

socket_t listen_at(in_addr_t addr, uint16_t port, int backlog, bool exclusive) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return k_invalid_socket;
    if (exclusive) {
        int one = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(s, backlog) != 0) {
        int e = errno;
        close(s);
        errno = e;
        return k_invalid_socket;
    }
    return s;
}

}  // namespace

bool net_init() { return true; }

socket_t tcp_listen(uint16_t port, int backlog, bool exclusive) {
    return listen_at(htonl(INADDR_ANY), port, backlog, exclusive);
}

socket_t tcp_listen_on(const std::string& ip, uint16_t port, int backlog) {
    in_addr a{};
    if (inet_pton(AF_INET, ip.c_str(), &a) != 1) return k_invalid_socket;
    return listen_at(a.s_addr, port, backlog, true);
}

uint16_t socket_local_port(socket_t s) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

socket_t tcp_accept(socket_t listener, std::string* peer_ip, uint16_t* peer_port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int c;
    do {
        c = accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    if (c < 0) return k_invalid_socket;
    if (peer_ip) {
        char buf[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf);
        *peer_ip = buf;
    }
    if (peer_port) *peer_port = ntohs(sa.sin_port);
    return c;
}

socket_t tcp_connect(const std::string& host_ip, uint16_t port, uint32_t timeout_ms) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, host_ip.c_str(), &sa.sin_addr) != 1) return k_invalid_socket;
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return k_invalid_socket;
    int rc = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (rc != 0 && errno != EINPROGRESS) {
        close(s);
        return k_invalid_socket;
    }
    if (rc != 0) {
        pollfd p{s, POLLOUT, 0};
        int err = 0;
        socklen_t elen = sizeof err;
        if (poll(&p, 1, int(timeout_ms)) != 1 ||
            getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &elen) != 0 || err != 0) {
            close(s);
            return k_invalid_socket;
        }
    }
    int flags = fcntl(s, F_GETFL);
    fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
    return s;
}

void net_close(socket_t s) {
    if (s >= 0) close(s);
}

void net_shutdown(socket_t s) {
    if (s >= 0) shutdown(s, SHUT_RDWR);
}

bool send_all(socket_t s, const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = send(s, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= size_t(n);
    }
    return true;
}

long send_some(socket_t s, const void* data, size_t len) {
    ssize_t n;
    do {
        n = send(s, data, len, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    return n == 0 ? -1 : long(n);
}

long recv_some(socket_t s, void* buf, size_t len) {
    ssize_t n;
    do {
        n = recv(s, buf, len, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : long(n);
}

bool set_recv_timeout(socket_t s, uint32_t ms) { return set_timeout(s, SO_RCVTIMEO, ms); }
bool set_send_timeout(socket_t s, uint32_t ms) { return set_timeout(s, SO_SNDTIMEO, ms); }

bool set_tcp_nodelay(socket_t s, bool on) {
    int v = on ? 1 : 0;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0;
}

bool set_send_buffer(socket_t s, int bytes) {
    return setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

int wait_readable(socket_t s, uint32_t timeout_ms) {
    pollfd p{s, POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, int(timeout_ms));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return -1;
    return rc == 0 ? 0 : 1;
}

std::string socket_local_ip(socket_t s) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return "";
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf);
    return buf;
}

int net_last_error() { return errno; }

std::string resolve_ipv4(const std::string& host) {
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) == 1) return host;
    if (host.empty()) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    const bool ok = inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(res);
    return ok ? text : std::string();
}

std::string socket_peer_ip(socket_t s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
        return {};
    char buf[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf) ? std::string(buf) : std::string();
}

socket_t udp_bind(uint16_t port) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return k_invalid_socket;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int err = errno;
        close(s);
        errno = err;
        return k_invalid_socket;
    }
    return s;
}

bool udp_join_group(socket_t s, const std::string& group, const std::string& iface_ip) {
    ip_mreq m{};
    if (inet_pton(AF_INET, group.c_str(), &m.imr_multiaddr) != 1) return false;
    m.imr_interface.s_addr = htonl(INADDR_ANY);
    if (!iface_ip.empty() && inet_pton(AF_INET, iface_ip.c_str(), &m.imr_interface) != 1)
        return false;
    return setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
}

long udp_recv_from(socket_t s, void* buf, size_t len, std::string* from_ip, uint16_t* from_port) {
    sockaddr_in a{};
    socklen_t alen = sizeof a;
    const ssize_t n = recvfrom(s, buf, len, 0, reinterpret_cast<sockaddr*>(&a), &alen);
    if (n < 0) return -1;
    if (from_ip) {
        char text[INET_ADDRSTRLEN] = {};
        *from_ip = inet_ntop(AF_INET, &a.sin_addr, text, sizeof text) ? text : "";
    }
    if (from_port) *from_port = ntohs(a.sin_port);
    return static_cast<long>(n);
}

bool udp_send_to(socket_t s, const void* data, size_t len, const std::string& ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) return false;
    return sendto(s, data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(len);
}

std::vector<std::string> multicast_interface_addresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if (inet_ntop(AF_INET, &a->sin_addr, text, sizeof text)) out.emplace_back(text);
    }
    freeifaddrs(list);
    return out;
}
