// Image recognizers of the six device families: each tells whether an image
// file of the firmware folder is one of its family's, filling the checksum
// record when it is. Any failure to read the file is a "no".
#pragma once

#include "flashkit/checksums.h"

#include <string>

namespace update {

bool alder_recognize(const std::string& path, checksums_t& record);
// Accepts no file: alderamd devices take alder images.
bool alderamd_recognize(const std::string& path, checksums_t& record);
bool birch_recognize(const std::string& path, checksums_t& record);
// The birch tests; birch stands before it in the list, so it never decides.
bool birchamd_recognize(const std::string& path, checksums_t& record);
// The birch tests, typing an accepted image as the given device type.
bool birch_family_recognize(const std::string& path, checksums_t& record, int32_t type);
bool cedar_recognize(const std::string& path, checksums_t& record);
bool dogwood_recognize(const std::string& path, checksums_t& record);

} // namespace update
