// The checksum record of one firmware image or one device's content, and the
// device type codes it carries in its last word.
#pragma once

#include <array>
#include <cstdint>

namespace update {

enum device_type_t : int32_t {
    type_none = -1,
    type_cedar = 0,
    type_dogwood = 1,
    type_alder = 2,
    type_alderamd = 3,
    type_birch = 4,
    type_birchamd = 5,
};

struct checksums_t {
    enum word_t {
        code_cs = 0,
        code2_cs = 1,
        boot_cs = 2,
        internal = 3,
        fpga_cs = 4,
        fpga2_cs = 5,
        config_cs = 6,
        device_type = 7
    };

    // A fresh record: seven zeros and an unknown device type.
    std::array<uint32_t, 8> words{0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF};

    uint32_t& operator[](int i) { return words[static_cast<std::size_t>(i)]; }
    uint32_t operator[](int i) const { return words[static_cast<std::size_t>(i)]; }
    int32_t type() const { return static_cast<int32_t>(words[device_type]); }
    void set_type(int32_t type) { words[device_type] = static_cast<uint32_t>(type); }
    bool operator==(const checksums_t&) const = default;
};

} // namespace update
