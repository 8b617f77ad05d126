// The pattern of the birch and birchamd families: 1 MB images without FPGA
// area, two independent runtime codes of segmented (uld) format, each with two
// alternative banks, and a configuration sector with its own checksummed
// record list (4-byte words).
#pragma once

#include "flashkit/base.h"

#include <array>
#include <cstdint>
#include <string>

namespace update {

class local_file_t;

struct birch_layout_t {
    const char* name_format;        // remote name of a flash file by number
    int32_t type;                   // device type code
    std::array<int, 2> code_banks;  // first runtime code, in walk order
    std::array<int, 2> code2_banks; // second runtime code
    int bank_files;                 // files per bank
    uint32_t bank_file_size;
};

class birch_pattern_t : public base_t {
public:
    birch_pattern_t(const birch_layout_t& layout, const qm::ip_address_t& address, status_t* status);

    void upload(checksums_t& record) override;
    void download(const std::string& image, const checksums_t& version, status_t* status, int32_t boot, int32_t runtime,
                  int32_t config_range) override;
    void check_update(uint8_t flags[8], const checksums_t& version, const std::string& image) override;
    config_store_t config_store() override { return {config_sector, sizeof config_sector, 4}; }

    // Banks of the first and second runtime code that the last upload found
    // valid; -1 for none.
    int32_t code_bank = -1;
    int32_t code2_bank = -1;
    unsigned char config_sector[8192] = {};

private:
    std::string remote(int number) const;
    using temp_files_t = std::array<const local_file_t*, 2>;
    // One bank walk over the temporary files: the first bank whose files
    // check, with its value.
    bool walk(const std::array<int, 2>& banks, double counter, const temp_files_t& temp, int32_t& bank,
              uint32_t& value);
    void write_boot(const std::string& image);
    void write_code(const std::string& image, const std::array<int, 2>& banks, int32_t current, uint32_t offset,
                    bool present, double written_percent, double done_percent);
    void invalidate(int bank);
    void write_configuration(const std::string& image);

    const birch_layout_t& layout;
};

} // namespace update
