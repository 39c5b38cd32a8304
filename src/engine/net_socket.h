// The socket facility: TCP listeners and connections, UDP datagrams, with
// POSIX sockets on Linux and Winsock 2 on Windows. Everything outside platform
// files uses these calls, never the system's socket headers.
// Sends never raise SIGPIPE; every socket is close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
using socket_t = uintptr_t;
constexpr socket_t k_invalid_socket = ~uintptr_t(0);
#else
using socket_t = int;
constexpr socket_t k_invalid_socket = -1;
#endif

// Starts the socket library (a no-op on Linux).
bool net_init();

// Listening IPv4 TCP socket on all interfaces; k_invalid_socket when the port is
// busy or the call fails. exclusive: refuse to share the port (SO_EXCLUSIVEADDRUSE
// on Windows; on Linux SO_REUSEADDR, which still refuses a second listener but
// lets a relaunch bind past TIME_WAIT).
socket_t tcp_listen(uint16_t port, int backlog, bool exclusive = true);
// Listening socket bound to one address (e.g. "127.0.0.1"); for tests and tools.
socket_t tcp_listen_on(const std::string& ip, uint16_t port, int backlog);
// Port a bound socket is on, 0 on failure.
uint16_t socket_local_port(socket_t s);

// Waits for the next connection; peer_ip/peer_port receive the client's address.
socket_t tcp_accept(socket_t listener, std::string* peer_ip = nullptr, uint16_t* peer_port = nullptr);
// Blocking connect with a time-out in milliseconds; k_invalid_socket on failure.
socket_t tcp_connect(const std::string& host_ip, uint16_t port, uint32_t timeout_ms);

void net_close(socket_t s);
// Shuts down both directions so that a thread blocked in recv returns.
void net_shutdown(socket_t s);

// Sends the whole buffer; false when the connection failed.
bool send_all(socket_t s, const void* data, size_t len);
inline bool send_all(socket_t s, const std::string& data) {
    return send_all(s, data.data(), data.size());
}
// One send: bytes sent (> 0, possibly fewer than len), 0 when nothing could be
// sent within the send time-out, -1 when the connection failed.
long send_some(socket_t s, const void* data, size_t len);
// One recv: >0 bytes read, 0 peer closed, -1 error or time-out.
long recv_some(socket_t s, void* buf, size_t len);
// Receive and send time-outs in milliseconds; 0 = none.
bool set_recv_timeout(socket_t s, uint32_t ms);
bool set_send_timeout(socket_t s, uint32_t ms);
bool set_tcp_nodelay(socket_t s, bool on);
bool set_send_buffer(socket_t s, int bytes);
// Waits until the socket is readable; 1 readable, 0 time-out, -1 error.
int wait_readable(socket_t s, uint32_t timeout_ms);

// Address of the local end of a connected socket ("" on failure).
std::string socket_local_ip(socket_t s);
// Errno / WSAGetLastError of the last failed call on this thread.
int net_last_error();

// IPv4 text of a host: an IPv4 literal as it is, else the first IPv4 address
// the resolver gives; "" when it cannot be resolved.
std::string resolve_ipv4(const std::string& host);

// Address of the remote end of a connected socket ("" on failure).
std::string socket_peer_ip(socket_t s);

// ---- UDP (WS-Discovery) ----------------------------------------------------
// IPv4 UDP socket bound to any address on port, SO_REUSEADDR set;
// k_invalid_socket on failure.
socket_t udp_bind(uint16_t port);
// Joins an IPv4 multicast group on the interface with address iface_ip
// ("" = the default interface).
bool udp_join_group(socket_t s, const std::string& group, const std::string& iface_ip);
// One datagram: >0 bytes with the sender's address, 0 or -1 on failure/time-out.
long udp_recv_from(socket_t s, void* buf, size_t len, std::string* from_ip, uint16_t* from_port);
bool udp_send_to(socket_t s, const void* data, size_t len, const std::string& ip, uint16_t port);
// IPv4 addresses of the interfaces that are up and not loopback.
std::vector<std::string> multicast_interface_addresses();
