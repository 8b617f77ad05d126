// Local files of the DSP operations: the temporary names of one operation,
// removed when it ends, and byte copies between files.
#pragma once

#include <qm/address.h>

#include <cstdint>
#include <string>
#include <vector>

namespace update::dsp_files {

// Temporary names of one operation: each a word followed by the device's
// dotted address. Every name handed out is removed at the end of the scope.
class temp_files_t {
public:
    explicit temp_files_t(const qm::ip_address_t& address) : suffix(address.to_string()) {}
    ~temp_files_t();
    temp_files_t(const temp_files_t&) = delete;
    temp_files_t& operator=(const temp_files_t&) = delete;

    std::string operator()(const char* word);

private:
    std::string suffix;
    std::vector<std::string> names;
};

// Copies length bytes of source from offset into target (made anew, or
// appended to), in chunks of at most 131072 bytes. A file that cannot be
// opened or written fails with "file not open". Targets are never opened
// through a link planted at their name.
void copy(const std::string& source, uint64_t offset, uint64_t length, const std::string& target, bool append);
// Makes the file anew and empty, the same way.
void create(const std::string& path);
// The file's length; "file not open" when it cannot be opened.
uint64_t size_of(const std::string& path);

} // namespace update::dsp_files
