// Kept copies of the devices' configuration records. A boot or configuration
// write cut by a lost connection or a power cut can leave a device's record
// erased; written back as the device's own, it would give the device the MAC
// ffffffffffff. So every upload that reads a sound record keeps a copy of
// the device's configuration store in a file named after its MAC beside the
// other working files ("saved_config" and the twelve digits), and an upload
// that reads an erased record takes it from the copy of the device last seen
// at the same address. Without such a copy nothing may be written.
#pragma once

#include "flashkit/base.h"

#include <cstddef>
#include <string>

namespace update {

// Whether the record at the start of the bytes reads erased: every byte of it
// 0xFF, or a MAC that no device has (all zeros, or a group address such as
// ff:ff:ff:ff:ff:ff).
bool config_erased(const unsigned char* bytes, std::size_t size, int width);

// After an upload: keeps a copy of a sound record, or restores an erased one
// from its copy and marks where the record came from (config_source). A copy
// that cannot be written fails with a qm::exception_t.
void keep_config(base_t& unit);

// The file holding the copy of the device with that MAC.
std::string config_copy_name(const qm::mac_address_t& mac);

// What a download of a unit whose record reads erased, without a copy, stops with.
extern const char* const config_erased_text;

} // namespace update
