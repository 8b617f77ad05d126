// The device's DSP image banks: reading the valid image out of one bank and
// writing a new image into the other, verified by reading it back.
#pragma once

#include "dsp_files.h"

#include "flashkit/dsp.h"

namespace update::dsp_bank {

// Reads the device's valid image into bank.file, trying "c10", "c11", then
// the pairs "s16"/"s17" and "s18"/"s19"; percent moves from a to b. Fails with
// "Invalid DSP code in the device" when no bank holds a valid image.
void read_image(const qm::ip_address_t& address, dsp_bank_t& bank, dsp_files::temp_files_t& temp, status_t& status,
                double a, double b);
// Writes bank.file into the bank other than the one read, reads it back and
// checks it; percent moves from 50 to 90.
void write_image(const qm::ip_address_t& address, const dsp_bank_t& bank, dsp_files::temp_files_t& temp,
                 status_t& status);

// Whether the files, fed in order, hold a valid image.
bool valid_image(std::initializer_list<std::string> files, uld_checksum_t* checksum = nullptr);

} // namespace update::dsp_bank
