// Checksum regions of an image file, for the recognizers.
#pragma once

#include "flashkit/checksum.h"

#include <qm/exception.h>

#include <cstdint>
#include <optional>
#include <string>

namespace update {

// Whether the file can be an image of exactly size bytes: a regular file
// (a FIFO or a device would block or never end) of that 64-bit size, not one
// byte value throughout (an erased or zero-filled file is no image).
bool image_file_is(const std::string& path, int64_t size);
// The value of a 3- or 4-byte-word region when it checks, else none.
std::optional<uint32_t> region_value(const std::string& path, uint32_t start, uint32_t length, int width = 3);
// The value of a segmented (uld) region starting at start when it checks.
std::optional<uint32_t> uld_region_value(const std::string& path, uint32_t start);
// The first region of the list that checks.
std::optional<uint32_t> first_region_value(const std::string& path, std::initializer_list<uint32_t> starts,
                                           uint32_t length);

} // namespace update
