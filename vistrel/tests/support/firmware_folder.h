// Test support for the firmware update: the real firmware server registered
// in the test's user registry, and folders of generated firmware images.
#pragma once

#include "images/images.h"

#include <string>

namespace vistrel_test {

// Registers libflashkit.so in the current user registry, where the console
// finds it.
void RegisterFlashkit();

// Writes a generated image of the family and version into the folder under
// the name of its family and version, or under `word` as the name's first
// word. Images of one family share their boot. Returns the file's path.
std::string WriteFirmware(const std::string& folder, devsim::images::family family,
                          const devsim::images::version_t& version, const std::string& word = std::string());

} // namespace vistrel_test
