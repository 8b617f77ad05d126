// The DSP operations on a device's DSP program images, each run by its job:
// deploy a file as it is; download a new program behind the device's own
// monitor code into the bank other than the one read; save the program's
// current arguments (read over SNMP) into the device's image and write that
// back the same way. Every temporary file is a word followed by the device's
// dotted address in the working directory, removed when the operation ends.
#pragma once

#include "flashkit/checksum.h"
#include "flashkit/job.h"
#include "flashkit/status.h"

#include <qm/address.h>

#include <cstdint>
#include <optional>
#include <string>

namespace update {

// Where the device's valid image was read from, for the write into the other bank.
struct dsp_bank_t {
    enum form_t : int32_t { single_file = 0, split = 1 };

    int32_t form = single_file;
    // single_file: 0 "c10", 1 "c11"; split: 0 "s16"/"s17", 2 "s18"/"s19".
    int32_t bank = 0;
    // The local file read into, then the local file written from.
    std::string file;
    // The checksum of the image read.
    uld_checksum_t checksum;
};

class dsp_t : public dsp_context_t {
public:
    void deploy(const qm::ip_address_t& address, const std::string& file, status_t& status) override;
    void download(const qm::ip_address_t& address, const std::string& file, status_t& status) override;
    void save_args(const qm::ip_address_t& address, status_t& status) override;
};

// The control table entry's name decoded into the flash word it carries
// (numbers 11 to 16, six bits each plus one, the last the top two bits, the
// whole offset by 0x40000000); none when the name is not an entry's count
// variable under the control table.
std::optional<uint32_t> dsp_entry_value(const std::string& entry_oid);

} // namespace update
