// What the family code shares: local files (temporary copies named by a
// fixed word and the device's address, removed when the operation that made
// them ends), remote names and the words of checksum records.
#pragma once

#include "flashkit/base.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace update {

// A remote flash file's name from the family's format and a number.
std::string remote_name(const char* format, int number);

// Sets a word of the upload's record and of the unit's own record.
void set_word(base_t& unit, checksums_t& record, int word, uint32_t value);

// The region's value when it checks, else 0.
inline uint32_t value_or_zero(const checksum_t& sum)
{
    return sum.check() ? sum.value() : 0;
}

// Removes the local file when it goes out of scope, also on failure.
class local_file_t {
public:
    explicit local_file_t(std::string path) : path(std::move(path)) {}
    ~local_file_t();
    local_file_t(const local_file_t&) = delete;
    local_file_t& operator=(const local_file_t&) = delete;

    const std::string path;
};

// Writes the bytes into a new local file; "file not open" when it cannot be
// made or written.
void write_local(const std::string& path, const void* data, std::size_t size);

// Copies length bytes of the image from offset into a new local file;
// "file not open" when either file cannot be opened, a transfer error when
// the image is too short.
void copy_image(const std::string& image, uint32_t offset, uint32_t length, const std::string& path);

// The 32 bytes of a junk file whose empty write invalidates a bank.
void write_junk(const std::string& path);

} // namespace update
