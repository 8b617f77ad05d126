// Test support for the firmware update: folders of generated firmware images.
#pragma once

#include "images/images.h"

#include <string>

namespace vistrel_test {

// Writes a generated image of the family and version into the folder under
// the name of its family and version, or under `word` as the name's first
// word. Images of one family share their boot. Returns the file's path.
std::string WriteFirmware(const std::string& folder, devsim::images::family family,
                          const devsim::images::version_t& version, const std::string& word = std::string());

} // namespace vistrel_test
