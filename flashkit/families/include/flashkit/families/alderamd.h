// The alderamd family: flash files "a01" to "a15", code banks 8 and 12 of four
// files. Its images are alder images: its recognizer accepts no file.
#pragma once

#include "flashkit/families/alder_pattern.h"

#include <memory>

namespace update {

class alderamd_t : public alder_pattern_t {
public:
    static constexpr int32_t type_code = type_alderamd;
    alderamd_t(const qm::ip_address_t& address, status_t* status);
};

// Probe file "a01".
std::shared_ptr<base_t> probe_alderamd(const qm::ip_address_t& address, status_t* status);

} // namespace update
