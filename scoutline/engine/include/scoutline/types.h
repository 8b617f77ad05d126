// Records shared by the adapter engine, its threads and the adapter list.
#pragma once

#include <qm/address.h>

#include <cstdint>
#include <string>

namespace qm::vx {

// One network adapter as the adapter list found it.
struct adapter_info_t {
    std::string description;
    std::string name; // how clients choose it; also its address-history section
    std::string service;
    std::string open_name; // what the raw packet library opens
    qm::ip_address_t ip;   // configured IPv4 address, 0.0.0.0 when none
    qm::ip_address_t mask;
};

// One queued address assignment.
struct assignment_item_t {
    qm::mac_address_t mac;
    qm::ip_address_t ip;   // 0.0.0.0 for an automatic request until one is chosen
    int32_t automatic = 0; // 1 automatic, 0 manual
};

// One ARP reply heard on the wire.
struct arp_response_item_t {
    qm::mac_address_t mac; // Ethernet source of the reply
    qm::ip_address_t ip;   // sender protocol address
};

} // namespace qm::vx
