// The birch family: flash files "c01" to "c11", one file per code bank;
// first runtime code in banks 8 and 9, second in banks 10 and 11.
#pragma once

#include "flashkit/families/birch_pattern.h"

#include <memory>

namespace update {

class birch_t : public birch_pattern_t {
public:
    static constexpr int32_t type_code = type_birch;
    birch_t(const qm::ip_address_t& address, status_t* status);
};

// Probe file "c01".
std::shared_ptr<base_t> probe_birch(const qm::ip_address_t& address, status_t* status);

} // namespace update
