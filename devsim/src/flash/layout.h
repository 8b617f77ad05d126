// Where each family keeps its flash areas: the files its TFTP server offers
// (with their place in a firmware image), its code banks and DSP banks, and
// its configuration record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "images/images.h"

namespace devsim::flash {

using images::family;

struct area_t {
    std::string name;     // the TFTP file name
    int64_t image_offset; // where an image holds its content; -1: none (loaded erased)
    uint32_t size;
};

// A candidate for what the device runs: the areas read one after the other
// and checked as 3-byte-word sums over [0, length), or as a segmented image
// when length is 0.
struct bank_t {
    int number;
    std::vector<size_t> areas; // indexes into layout_t::areas
    uint32_t length;
};

struct layout_t {
    family fam;
    std::vector<area_t> areas;
    std::vector<bank_t> code_banks;
    std::vector<bank_t> dsp_banks; // birch, birchamd: the second runtime code and the deploy target
    size_t config_area;
    uint32_t config_offset;
    int config_width;
    uint32_t stamp_offset; // of the version stamp in a code bank's first area

    int find(const std::string& name) const; // area index, -1 when the family has no such file
};

const layout_t& layout_of(family f);

} // namespace devsim::flash
