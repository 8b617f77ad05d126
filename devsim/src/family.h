// The six device families and what a device of each runs by default. The
// numbers are the families' device type codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

enum class family_t { cedar = 0, dogwood = 1, alder = 2, alderamd = 3, birch = 4, birchamd = 5 };

std::optional<family_t> parse_family(const std::string& name);
const char* family_name(family_t f);
const std::vector<family_t>& all_families();

// Version of the main firmware; the SNMP agent shows major, minor and build.
struct firmware_t {
    int major = 1;
    int minor = 0;
    int build = 0;
    int boot = 1; // version of the boot code
};

// The DSP program of the families that have one, as the SNMP agent shows it.
struct dsp_t {
    bool present = false;         // the family has a DSP: processor group and control table exist
    int mode = 2;                 // processor state (2 = running), writable as procMode
    int status = 2;               // second processor state
    uint32_t flash_word = 0x5A17; // the word at the check address of the image in flash
    int arg_base = 0x200;         // first argument's address in the image
    int check_address = 0x100;    // address of the flash word in the image
    int config = 3;               // configuration value of the control table
    std::vector<int32_t> args;    // current argument values (the control table's rows)
};

struct family_defaults {
    int transmitters;
    int receivers;
    firmware_t firmware;
    int hardware_platform;
    int hardware_version; // the value the console reads for firmware choice
    uint32_t flash_size;
    bool dsp;
};

const family_defaults& defaults_of(family_t f);

} // namespace devsim
