#include "flashkit/families/alder.h"

#include "flashkit/status_text.h"

namespace update {
namespace {

const alder_layout_t alder_layout{
    "m%02d",
    type_alder,
    {35, 40},
    {{{4, 0x8000, 0x18000}, {5, 0x20000, 0x20000}}},
    0x8000,
    {70, 75},
    80,
    {6, 8},
    2,
    0x20000,
    1,
    55,
    10,
    {40, 60},
    status_text[text_download_done],
};

} // namespace

alder_t::alder_t(const qm::ip_address_t& address, status_t* status) : alder_pattern_t(alder_layout, address, status) {}

std::shared_ptr<base_t> probe_alder(const qm::ip_address_t& address, status_t* status)
{
    return probe(address, status, "m01", [&] { return std::make_shared<alder_t>(address, status); });
}

} // namespace update
