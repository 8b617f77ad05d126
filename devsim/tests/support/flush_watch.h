// Test support: whether a file was flushed to the disk before it took its
// name by a rename. A program that links this has fsync and rename wrapped
// (the calls themselves behave as before).
#pragma once

#include <string>

namespace vx::test {

// The file now at `path` was renamed onto that name after an fsync of it.
bool renamed_after_flush(const std::string& path);

} // namespace vx::test
