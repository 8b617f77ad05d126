#include "flashkit/status_text.h"

namespace update {

const char* const status_text[status_text_count] = {
    "Unexpected error during firmware file transfer.",
    "Timeout during firmware file transfer.\r\nPlease check network connections and try again.",
    "Start uploading...",
    "Reading boot bank",
    "Uploading the runtime code",
    "Upload runtime code complete, checksuming code",
    "Uploading the xilinx code",
    "Upload the xilinx code complete",
    "Uploading the configuration sector",
    "Upload the configuration sector complete",
    "Updating boot code",
    "Downloading boot",
    "Boot update complete",
    "Updating runtime code",
    "Updating second runtime code",
    "Code update complete",
    "Updating FPGA code",
    "Downloading FPGA",
    "FPGA update complete",
    "Updating configuration",
    "Downloading configuration",
    "Configuration update complete",
    "download done",
    "Extracting configuration record",
    "Compute boot checksum",
    "Upload second xilinx complete, checksuming xilinx",
    "Downloading second xilinx",
};

} // namespace update
