// One firmware image of the firmware folder: the family word and version
// numbers from its file name, its checksum record and two flags.
#pragma once

#include "flashkit/checksums.h"

#include <cstdint>
#include <string>

namespace update {

class version_t {
public:
    // Parses the name ("alder_3_1_7.bin", "birch_2_20_0_4.bin"); exists starts at 0.
    version_t(const std::string& file_name, const checksums_t& checksums);

    // Same type word (exact, case-sensitive); false for none.
    bool is_compatible(const version_t* other) const;
    // True for none; false for another type word; else a higher version value.
    bool newer_than(const version_t* other) const;
    // (major << 24) + (minor << 16) + (build << 8) + patch, with wrap-around.
    uint32_t value() const;

    std::string file_name;
    std::string type_word = "unknown";
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    int32_t patch = -1;
    checksums_t checksums;
    uint8_t valid = 0;
    uint8_t exists = 0;
};

} // namespace update
