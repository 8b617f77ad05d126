// Fault switches of a device, set on the command line (--fault) or at run
// time through the control socket. Each part of the simulator asks its
// device for the switches it knows; add new switches to the table in
// faults.cpp.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace devsim {

struct fault_info {
    const char* name;
    bool takes_value; // NAME=VALUE; otherwise a plain switch, stored as 1
    long min;
    long max;
    const char* help;
};

const std::vector<fault_info>& all_faults();
const fault_info* find_fault(const std::string& name);

// "NAME" or "NAME=VALUE", checked against the table; nullopt with `error` set
// for an unknown name, a missing, unexpected or out-of-range value.
std::optional<std::pair<std::string, long>> parse_fault(const std::string& text, std::string& error);

// Lines for the usage text: the names and their help, indented.
std::string faults_help();

} // namespace devsim
