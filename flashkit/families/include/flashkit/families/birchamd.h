// The birchamd family: flash files "s01" to "s19", two files per code bank;
// first runtime code in banks 12 and 14, second in banks 16 and 18. Its images
// are birch images: the birch recognizer, earlier in the list, takes them all.
#pragma once

#include "flashkit/families/birch_pattern.h"

#include <memory>

namespace update {

class birchamd_t : public birch_pattern_t {
public:
    static constexpr int32_t type_code = type_birchamd;
    birchamd_t(const qm::ip_address_t& address, status_t* status);
};

// Probe file "s01".
std::shared_ptr<base_t> probe_birchamd(const qm::ip_address_t& address, status_t* status);

} // namespace update
