// An INI file's section read and written whole, for code that rewrites a
// section in one piece: a section read only in part would lose its later
// entries when it is written back.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace qm {

// "key=value" lines, each split at its first '=', in file order.
using profile_entries_t = std::vector<std::pair<std::string, std::string>>;

struct profile_section_t {
    profile_entries_t entries; // lines without '=' are skipped
    bool cut = false;          // larger than the ceiling: only the lines that fitted whole
};

// [section] of the file, read into a buffer that doubles from 256 bytes until
// the section fits or the buffer reaches max_bytes.
profile_section_t read_profile_section(const std::string& file, const std::string& section,
                                       size_t max_bytes = size_t(1) << 30);

// Replaces [section] with the entries, in this order, in one rewrite of the
// file (no entries: the section is removed). False when the file could not be
// written; the section is then as it was.
bool write_profile_section(const std::string& file, const std::string& section, const profile_entries_t& entries);

} // namespace qm
