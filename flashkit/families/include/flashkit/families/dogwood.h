// The dogwood family: 512 KB images; runtime code in "f1" or "f2" (small or
// large), the second Xilinx image of each bank in "f3" or "f4", and the boot
// flash "f8" whose last 1 KB is the configuration area, carried into every
// new boot.
#pragma once

#include "flashkit/base.h"

#include <memory>

namespace update {

class dogwood_t : public base_t {
public:
    static constexpr int32_t type_code = type_dogwood;
    dogwood_t(const qm::ip_address_t& address, status_t* status);

    void upload(checksums_t& record) override;
    void download(const std::string& image, const checksums_t& version, status_t* status, int32_t boot, int32_t runtime,
                  int32_t config_range) override;
    void check_update(uint8_t flags[8], const checksums_t& version, const std::string& image) override;
    config_store_t config_store() override { return {config_area, sizeof config_area, 3}; }
    // The comparison under a configuration mode: 1 as check_update, else the
    // configuration range of a download. Works on a copy of the version's
    // record: the image's word 3 never reaches the caller's.
    void compare(uint8_t flags[8], const checksums_t& version, const std::string& image, int32_t mode);

    // 0 none found, 1 small code, 2 large code.
    int32_t code_format = 0;
    // 1 or 2, the number of the code file "f1" or "f2"; 0 for none.
    int32_t code_bank = 0;
    unsigned char config_area[1024] = {};

private:
    void write_boot(const std::string& image, int32_t config_range);
    void write_runtime(const std::string& image, const checksums_t& version);
};

// Probe file "f8".
std::shared_ptr<base_t> probe_dogwood(const qm::ip_address_t& address, status_t* status);

} // namespace update
