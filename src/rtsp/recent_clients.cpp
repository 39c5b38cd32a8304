#include "rtsp/recent_clients.h"

#include <mutex>

#include "engine/clock.h"

namespace {

std::mutex g_mutex;
std::vector<RecentClient> g_rows;

RecentClient* find_row(const std::string& address, int32_t kind, bool active_only) {
    for (auto& r : g_rows)
        if (r.address == address && r.kind == kind && (!active_only || r.active)) return &r;
    return nullptr;
}

// Removes the oldest inactive rows while the list is too long; active viewers
// are never dropped, so the list may stay longer while they all play.
void prune() {
    while (g_rows.size() > k_recent_clients_max) {
        bool removed = false;
        for (auto it = g_rows.begin(); it != g_rows.end(); ++it) {
            if (!it->active) {
                g_rows.erase(it);
                removed = true;
                break;
            }
        }
        if (!removed) return;
    }
}

}  // namespace

void client_connected(const std::string& address, int32_t kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint64_t now = tick_ms();
    if (RecentClient* r = find_row(address, kind, false)) {
        r->tick = now;
        r->active = 1;
        return;
    }
    g_rows.push_back({address, kind, now, 1});
    prune();
}

void client_disconnected(const std::string& address, int32_t kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (RecentClient* r = find_row(address, kind, true)) {
        r->active = 0;
        r->tick = tick_ms();
    }
}

void client_contact(const std::string& address, int32_t kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint64_t now = tick_ms();
    if (RecentClient* r = find_row(address, kind, false)) {
        r->tick = now;
        return;
    }
    g_rows.push_back({address, kind, now, 0});
    prune();
}

std::vector<RecentClient> clients_snapshot() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_rows;
}

void clients_reset_for_tests() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rows.clear();
}
