// RecentClients: the list of recent stream viewers and ONVIF contacts that the
// panels show. Written by the RTSP and ONVIF connection threads; one process-wide
// list under its own mutex (no other lock is taken while it is held).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum ClientKind : int32_t {
    k_client_main = 0,   // main-stream viewer
    k_client_sub = 1,    // sub-stream viewer
    k_client_onvif = 2,  // ONVIF contact (never active)
};

struct RecentClient {
    std::string address;  // peer IPv4 text
    int32_t kind = k_client_main;
    uint64_t tick = 0;   // tick_ms() of the last connect, disconnect or contact
    uint8_t active = 0;  // a viewer still playing; always 0 for ONVIF contacts
};

// Inactive rows beyond this count are pruned, oldest appended first.
constexpr size_t k_recent_clients_max = 12;

void client_connected(const std::string& address, int32_t kind);
void client_disconnected(const std::string& address, int32_t kind);
void client_contact(const std::string& address, int32_t kind);
std::vector<RecentClient> clients_snapshot();
// Empties the list; tests only.
void clients_reset_for_tests();
