#include "rtsp/connection_table.h"

#include <map>

int32_t ConnectionTable::count_locked(const std::string& address, bool waiting_only) const {
    int32_t n = 0;
    for (const Entry& x : entries_)
        if ((address.empty() || x.address == address) && (!waiting_only || x.waiting)) ++n;
    return n;
}

int32_t ConnectionTable::count(const std::string& address, bool waiting_only) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_locked(address, waiting_only);
}

bool ConnectionTable::admit(socket_t s, const std::string& address, const ConnectionBounds& b) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (int32_t(entries_.size()) >= b.max_total ||
        count_locked(address, false) >= b.per_address_total ||
        count_locked(address, true) >= b.per_address_waiting)
        return false;
    if (count_locked({}, true) >= b.max_waiting) {
        std::map<std::string, int32_t> waiting;
        for (const Entry& x : entries_)
            if (x.waiting) ++waiting[x.address];
        std::string heaviest;
        int32_t most = 0;
        for (const auto& [addr, n] : waiting)
            if (n > most) {
                most = n;
                heaviest = addr;
            }
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->waiting && it->address == heaviest) {
                evict_(it->socket);
                // Stays listed (no longer waiting) until its thread reports
                // the close, so the socket is not shut down twice.
                it->waiting = false;
                break;
            }
    }
    entries_.push_back({s, address, true});
    return true;
}

void ConnectionTable::playing(socket_t s) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& x : entries_)
        if (x.socket == s) x.waiting = false;
}

void ConnectionTable::closed(socket_t s) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->socket == s) {
            entries_.erase(it);
            return;
        }
}

ConnectionTable& rtsp_connection_table() {
    static ConnectionTable* table = new ConnectionTable();  // lives as long as the process
    return *table;
}
