#include "family.h"

namespace devsim {
namespace {

struct family_entry {
    family_t family;
    const char* name;
    family_defaults defaults;
};

// Plausible values only: the flash model replaces the firmware and hardware
// fields with what the device's flash holds.
const family_entry families[] = {
    {family_t::alder, "alder", {2, 2, {3, 1, 7, 2}, 36252, 3, 0x100000, false}},
    {family_t::alderamd, "alderamd", {4, 4, {3, 20, 1, 2}, 36252, 4, 0x100000, false}},
    {family_t::birch, "birch", {8, 8, {2, 20, 0, 1}, 41020, 1, 0x100000, true}},
    {family_t::birchamd, "birchamd", {16, 16, {2, 21, 0, 1}, 41021, 2, 0x100000, true}},
    {family_t::cedar, "cedar", {1, 1, {1, 2, 3, 1}, 57932, 1, 0x20000, false}},
    {family_t::dogwood, "dogwood", {2, 2, {1, 2, 3, 1}, 60110, 1, 0x80000, false}},
};

} // namespace

std::optional<family_t> parse_family(const std::string& name)
{
    for (const auto& f : families)
        if (name == f.name)
            return f.family;
    return std::nullopt;
}

const char* family_name(family_t family)
{
    for (const auto& f : families)
        if (f.family == family)
            return f.name;
    return "?";
}

const std::vector<family_t>& all_families()
{
    static const std::vector<family_t> list = [] {
        std::vector<family_t> v;
        for (const auto& f : families)
            v.push_back(f.family);
        return v;
    }();
    return list;
}

const family_defaults& defaults_of(family_t family)
{
    for (const auto& f : families)
        if (f.family == family)
            return f.defaults;
    return families[0].defaults;
}

} // namespace devsim
