// Choice of the one IPv4 address the camera advertises (banner, ONVIF answers,
// WS-Discovery, panels). choose_address is a pure function over a list of
// adapters; enumerate_adapters reads the system's list (platform file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AdapterAddress {
    uint32_t ip = 0;     // host byte order
    int prefix_len = 0;  // on-link prefix, 0 when unknown
};

// One network adapter as the system reports it, in its order.
struct AdapterInfo {
    std::string name;  // friendly name (Linux: interface name)
    std::string description;
    bool up = false;
    bool loopback = false;
    bool tunnel = false;     // tunnel type
    bool no_device = false;  // software adapter (bridge, veth, ...): counts as virtual
    bool wired_or_wifi = false;
    bool has_gateway = false;
    uint32_t gateway = 0;  // host byte order, 0 when none or unknown
    std::vector<AdapterAddress> addresses;
};

struct AddressCandidate {
    std::string address;
    std::string adapter;
    bool is_virtual = false;
    bool has_gateway = false;
    bool is_wired_or_wifi = false;
    bool is_private = false;
    bool picked = false;
};

// The chosen address ("127.0.0.1" when none) with its explanation lines (each
// ending in '\n') in *log_out, and the candidates in *candidates_out.
std::string choose_address(const std::vector<AdapterInfo>& adapters, std::string* log_out,
                           std::vector<AddressCandidate>* candidates_out = nullptr);
// Same over the system's adapters.
std::string choose_address(std::string* log_out);

// The system's adapters (IPv4); empty on failure.
std::vector<AdapterInfo> enumerate_adapters();

std::string ipv4_text(uint32_t ip);  // host order -> dotted text
bool is_virtual_adapter(const AdapterInfo& a);
