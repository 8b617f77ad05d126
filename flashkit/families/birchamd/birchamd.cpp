#include "flashkit/families/birchamd.h"

namespace update {
namespace {

const birch_layout_t birchamd_layout{"s%02d", type_birchamd, {12, 14}, {16, 18}, 2, 0x10000};

} // namespace

birchamd_t::birchamd_t(const qm::ip_address_t& address, status_t* status)
    : birch_pattern_t(birchamd_layout, address, status)
{}

std::shared_ptr<base_t> probe_birchamd(const qm::ip_address_t& address, status_t* status)
{
    return probe(address, status, "s01", [&] { return std::make_shared<birchamd_t>(address, status); });
}

} // namespace update
