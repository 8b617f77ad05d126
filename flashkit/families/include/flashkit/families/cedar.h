// The cedar family: 128 KB images; boot in "r1" and "r2" with the 1 KB
// configuration area at the end of "r2", carried into every new boot; a small
// runtime code in bank 1 ("r3", "r4") or bank 2 ("r5", "r6"), or a large code
// over all four files.
#pragma once

#include "flashkit/base.h"

#include <memory>

namespace update {

class cedar_t : public base_t {
public:
    static constexpr int32_t type_code = type_cedar;
    cedar_t(const qm::ip_address_t& address, status_t* status);

    void upload(checksums_t& record) override;
    void download(const std::string& image, const checksums_t& version, status_t* status, int32_t boot, int32_t runtime,
                  int32_t config_range) override;
    void check_update(uint8_t flags[8], const checksums_t& version, const std::string& image) override;
    config_store_t config_store() override { return {config_area, sizeof config_area, 3}; }
    // The comparison under a configuration mode: 1 as check_update, else the
    // configuration range of a download.
    void compare(uint8_t flags[8], const checksums_t& version, const std::string& image, int32_t mode);

    // The device's configuration area as the last upload read it.
    unsigned char config_area[1024] = {};
    // 1 bank "r3"/"r4", 2 bank "r5"/"r6", 3 large code over all four.
    int32_t code_bank = 0;

private:
    void write_boot(const std::string& image, int32_t config_range);
    void write_runtime(const std::string& image);
};

// Probe file "r2".
std::shared_ptr<base_t> probe_cedar(const qm::ip_address_t& address, status_t* status);

} // namespace update
