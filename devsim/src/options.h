// Command line of the simulator.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "device.h"

namespace devsim {

struct options_t {
    std::string interface;
    int devices = 1;
    mac_t mac_base{0x00, 0x60, 0x2B, 0x10, 0x00, 0x01};
    std::vector<std::pair<int, mac_t>> macs;
    std::vector<std::pair<int, uint32_t>> ips;
    std::vector<std::pair<int, quirk>> quirks;
    // Index -1 stands for every device.
    std::vector<family_t> families; // round robin over the devices (default alder)
    std::vector<std::pair<int, family_t>> family;
    std::vector<std::pair<int, std::pair<int, int>>> bundles; // transmitters, receivers
    std::vector<std::pair<int, std::pair<std::string, long>>> faults;
    std::vector<std::pair<int, std::string>> firmware; // image file or version to load the flash from
    uint32_t ip_base = 0;                              // device K gets ip_base + K; 0: none
    std::string control;                               // path of the control socket
    std::vector<squatter_t> squatters;
    std::chrono::milliseconds period{1000};
    std::string state_file;
    bool verbose = false;
    bool help = false;
};

// Parses argv; on a usage error returns nullopt and fills `error`. "--config
// FILE" reads more options from FILE, one per line without the dashes
// ("devices 20", "family 3=cedar"); empty lines and lines starting with '#'
// are skipped.
std::optional<options_t> parse_options(const std::vector<std::string>& args, std::string& error);
std::string usage_text();

// Builds the devices and squatters the options describe.
world_t make_world(const options_t& options);

} // namespace devsim
