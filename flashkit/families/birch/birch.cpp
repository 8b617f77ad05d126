#include "flashkit/families/birch.h"

namespace update {
namespace {

const birch_layout_t birch_layout{"c%02d", type_birch, {8, 9}, {10, 11}, 1, 0x20000};

} // namespace

birch_t::birch_t(const qm::ip_address_t& address, status_t* status) : birch_pattern_t(birch_layout, address, status) {}

std::shared_ptr<base_t> probe_birch(const qm::ip_address_t& address, status_t* status)
{
    return probe(address, status, "c01", [&] { return std::make_shared<birch_t>(address, status); });
}

} // namespace update
