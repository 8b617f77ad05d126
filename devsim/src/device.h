// The device model shared by the simulator's components: one record per
// simulated device, plus the stations that only answer ARP (squatters).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "family.h"
#include "l2/frames.h"

namespace devsim {

// Behaviours a device can be given on the command line.
enum class quirk {
    ignore_rarp,        // never adopts an address handed out by RARP
    announce_zero,      // announces 0.0.0.0 while answering ARP for its address
    broadcast_announce, // announces to the broadcast address
    zero_length_tag,
    truncated_tag,
    short_ip_tag,
    two_ip_tags,
    tags_before_ip,
    bad_byte15,
    kind0,
};

std::optional<quirk> parse_quirk(const std::string& name);
const char* quirk_name(quirk q);
const std::vector<quirk>& all_quirks();

struct device_t {
    int index = 0;
    mac_t mac{};
    uint32_t ip = 0; // host order; 0 = no address
    std::set<quirk> quirks;
    std::map<std::string, long> faults; // fault switch -> value (1 for a plain switch), see faults.h
    uint32_t in_octets = 0;             // bytes of the IP frames it received (wraps)
    uint32_t out_octets = 0;            // bytes of the IP frames it sent

    family_t family = family_t::alder;
    int transmitters = 2; // transmitter bundles, 0..16
    int receivers = 2;    // receiver bundles, 0..16
    // What the device runs, as its flash dictates; the family gives the
    // defaults and the flash model sets them when the device boots.
    firmware_t firmware;
    int hardware_platform = 0;
    int hardware_version = 0;
    uint32_t flash_size = 0;
    dsp_t dsp;

    bool has(quirk q) const { return quirks.count(q) != 0; }
    std::optional<long> fault(const std::string& name) const;
    // Sets the family and everything that follows from it.
    void set_family(family_t f);
    announce_shape shape() const;
    mac_t announce_destination() const;
    uint32_t announced_ip() const { return has(quirk::announce_zero) ? 0 : ip; }
};

// A station that answers ARP for an address without being a device.
struct squatter_t {
    uint32_t ip = 0;
    mac_t mac{};
};

struct world_t {
    std::string interface;
    std::vector<device_t> devices;
    std::vector<squatter_t> squatters;
    unsigned reservations = 0; // reservation requests seen

    const device_t* find(const mac_t& mac) const;
    device_t* find(const mac_t& mac);
    bool owns(const mac_t& mac) const; // a MAC any simulated station sends from
};

} // namespace devsim
