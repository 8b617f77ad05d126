#include "flashkit/families/alderamd.h"

namespace update {
namespace {

const alder_layout_t alderamd_layout{
    "a%02d",
    type_alderamd,
    {35, 38},
    {{{5, 0x10000, 0x10000}, {6, 0x20000, 0x10000}}},
    0,
    {80, 85},
    90,
    {8, 12},
    4,
    0x10000,
    2,
    45,
    20,
    {30, 40, 50, 60},
    "download done.",
};

} // namespace

alderamd_t::alderamd_t(const qm::ip_address_t& address, status_t* status)
    : alder_pattern_t(alderamd_layout, address, status)
{}

std::shared_ptr<base_t> probe_alderamd(const qm::ip_address_t& address, status_t* status)
{
    return probe(address, status, "a01", [&] { return std::make_shared<alderamd_t>(address, status); });
}

} // namespace update
