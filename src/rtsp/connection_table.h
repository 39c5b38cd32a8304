// The RTSP port's connections, counted per client address, so that one address
// cannot take every slot: each address may hold a few connections that have
// not started playing and a bounded number in all; when the connections
// waiting before PLAY reach the overall bound, the address holding the most of
// them gives up its oldest one. Guarded by its own mutex; the listener admits,
// connection threads report playing and closing.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>

#include "engine/net_socket.h"

struct ConnectionBounds {
    int32_t max_total = 256;           // all connections (one thread each)
    int32_t max_waiting = 32;          // connections not yet playing
    int32_t per_address_total = 32;    // an address's connections
    int32_t per_address_waiting = 16;  // an address's connections not yet playing
};

class ConnectionTable {
  public:
    // evict: shuts a waiting connection down (called with the table's lock
    // held, so the socket cannot have been closed and reused meanwhile).
    explicit ConnectionTable(std::function<void(socket_t)> evict = net_shutdown)
        : evict_(std::move(evict)) {}

    // Registers a new connection; false (nothing registered) when the address
    // or the whole port is at its bound.
    bool admit(socket_t s, const std::string& address, const ConnectionBounds& b);
    void playing(socket_t s);  // no longer waiting
    void closed(socket_t s);   // forgets the connection
    int32_t count(const std::string& address, bool waiting_only) const;

  private:
    struct Entry {
        socket_t socket;
        std::string address;
        bool waiting;
    };
    mutable std::mutex mutex_;
    std::list<Entry> entries_;  // oldest first
    std::function<void(socket_t)> evict_;
    int32_t count_locked(const std::string& address, bool waiting_only) const;
};

// The listener's table (process-wide, like the engine).
ConnectionTable& rtsp_connection_table();
