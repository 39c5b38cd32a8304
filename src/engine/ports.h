// Port fallback and port status: the three TCP servers bind with a list of
// fallback ports; the outcome lives in four process-wide ServerPortSlots
// (atomics), in ports.status for other processes, and in bilingual warnings.
// The owner table (port -> holding program) has its own mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/net_socket.h"

struct ServerPortSlot {
    std::atomic<int32_t> requested{0};
    std::atomic<int32_t> actual{0};
    std::atomic<int32_t> state{0};  // 0 off/not started, 1 running, 2 down

    // Running on another port than the configured one.
    bool moved() const;
};

enum PortSlotIndex { k_slot_rtsp = 0, k_slot_onvif = 1, k_slot_web = 2, k_slot_wsd = 3 };
constexpr int k_port_slot_count = 4;
constexpr int k_slot_state_off = 0;
constexpr int k_slot_state_running = 1;
constexpr int k_slot_state_down = 2;

ServerPortSlot& port_slot(int index);
void reset_port_slots_for_tests();

// Candidates for a requested port: P, 8554 (only for 554), P+10000, P+20000,
// P+30000, P+1 .. P+20; each only within 1..65535 and once.
std::vector<int> candidate_ports(int port);

// A listening TCP socket on the first free candidate (the requested port is
// tried first_attempts times, retry_ms apart), else k_invalid_socket.
// actual_out receives the bound port, 0 when none. When the requested port
// stays busy, its holder is looked up and stored in the owner table.
// A candidate that an earlier server of this process holds is passed over at
// once: waiting for ourselves to let go would only waste the retries. With a
// server_name, a busy requested port is announced in the log as soon as the
// first attempt fails, naming the holder, and the bound port is remembered as
// held by that server.
socket_t bind_with_fallback(int port, int* actual_out, int first_attempts = 125,
                            uint32_t retry_ms = 120, const char* server_name = nullptr);

// Binds the server of one slot (RTSP, ONVIF, Web panel) and records the
// requested port, the actual port and the state; *port_out receives the port
// in use (the requested one when the server is down).
socket_t bind_slot(int slot, int requested, int* port_out, int first_attempts = 125,
                   uint32_t retry_ms = 120);
// English name of the server that this process runs on port; empty when none.
std::string own_listener(int port);

// Owner table.
void set_port_owner(int port, const std::string& owner);
std::string port_owner(int port);  // empty when unknown
// The program listening on a TCP port ("PID n" when its name is unknown);
// empty when no listener is found. Platform file.
std::string lookup_port_owner(int port);

// ports.status: four lines "name=requested,actual,state" with CR LF.
std::string format_ports_status();
bool parse_ports_status(const std::string& text);  // true when a line was understood
bool write_ports_status(const std::string& data_dir);
bool read_ports_status(const std::string& data_dir);

// Settings warnings, then moved/down servers, then WS-Discovery down; lines
// joined with '\n'. Empty when there is nothing to say.
std::string port_warnings(bool arabic);
