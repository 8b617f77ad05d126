// The alder family: flash files "m01" to "m09", code banks 6 and 8 of two files.
#pragma once

#include "flashkit/families/alder_pattern.h"

#include <memory>

namespace update {

class alder_t : public alder_pattern_t {
public:
    static constexpr int32_t type_code = type_alder;
    alder_t(const qm::ip_address_t& address, status_t* status);
};

// Probe file "m01".
std::shared_ptr<base_t> probe_alder(const qm::ip_address_t& address, status_t* status);

} // namespace update
