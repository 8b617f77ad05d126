// The firmware code's local working files: temporary files in the working
// directory named by a fixed word and the device's address. They are made
// without following a link planted at their name, so a transfer never writes
// through a link into another file.
#pragma once

#include <cstdio>
#include <string>

namespace update {

// Creates or empties the file for reading and writing ("w+b"); fails (null,
// errno and the last error set) when the name is a link or cannot be made.
std::FILE* create_local(const std::string& path);

} // namespace update
