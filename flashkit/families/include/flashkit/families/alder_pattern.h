// The pattern of the alder and alderamd families: 1 MB images of 3-byte-word
// checksums with boot, configuration sector, FPGA area and two alternative
// banks of runtime code. New code goes into the bank that is not current and
// the current one is invalidated only after the new one read back valid.
#pragma once

#include "flashkit/base.h"

#include <array>
#include <cstdint>
#include <string>

namespace update {

// Where one family of the pattern keeps its areas (offsets are image bytes).
struct alder_layout_t {
    struct area_t {
        int file;        // number in the remote name
        uint32_t offset; // image offset
        uint32_t length;
    };

    const char* name_format;            // remote name of a flash file by number
    int32_t type;                       // device type code
    std::array<double, 2> boot_percent; // after each boot file read
    std::array<area_t, 2> fpga;         // the FPGA area's two files
    uint32_t fpga_start;                // FPGA checksum start in the device files
    std::array<double, 2> fpga_percent; // after each FPGA file read
    double config_percent;              // after the configuration sector read
    std::array<int, 2> banks;           // code bank table, in walk order
    int bank_files;                     // files per code bank
    uint32_t bank_file_size;
    int fpga2_file;                        // first file of a bank holding the second FPGA region
    double walk_start, walk_step;          // percentage counter of the bank walk
    std::array<double, 4> runtime_percent; // after each code file written
    const char* done_text;
};

class alder_pattern_t : public base_t {
public:
    alder_pattern_t(const alder_layout_t& layout, const qm::ip_address_t& address, status_t* status);

    void upload(checksums_t& record) override;
    void download(const std::string& image, const checksums_t& version, status_t* status, int32_t boot, int32_t runtime,
                  int32_t config_range) override;
    void check_update(uint8_t flags[8], const checksums_t& version, const std::string& image) override;
    config_store_t config_store() override { return {config_sector, sizeof config_sector, 3}; }

    // Bank whose code the last upload found valid; -1 for none.
    int32_t code_bank = -1;
    // The device's configuration sector as the last upload read it.
    unsigned char config_sector[8192] = {};

private:
    std::string remote(int number) const;
    void write_boot(const std::string& image);
    void write_runtime(const std::string& image);
    void write_fpga(const std::string& image);
    void write_configuration(const std::string& image);

    const alder_layout_t& layout;
};

} // namespace update
