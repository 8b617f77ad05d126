// The status texts that the jobs and the family code report, by index.
#pragma once

#include <cstddef>

namespace update {

enum status_index_t : int {
    text_transfer_error = 0,
    text_transfer_timeout = 1,
    text_start_uploading = 2,
    text_reading_boot = 3,
    text_uploading_runtime = 4,
    text_runtime_uploaded = 5,
    text_uploading_xilinx = 6,
    text_xilinx_uploaded = 7,
    text_uploading_config = 8,
    text_config_uploaded = 9,
    text_updating_boot = 10,
    text_downloading_boot = 11,
    text_boot_updated = 12,
    text_updating_runtime = 13,
    text_updating_runtime2 = 14,
    text_code_updated = 15,
    text_updating_fpga = 16,
    text_downloading_fpga = 17,
    text_fpga_updated = 18,
    text_updating_config = 19,
    text_downloading_config = 20,
    text_config_updated = 21,
    text_download_done = 22,
    text_extracting_config = 23,
    text_boot_checksum = 24,
    text_xilinx2_uploaded = 25,
    text_downloading_xilinx2 = 26,
};

constexpr std::size_t status_text_count = 27;
extern const char* const status_text[status_text_count];

} // namespace update
