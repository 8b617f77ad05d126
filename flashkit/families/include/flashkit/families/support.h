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

// Every comparison and download first makes sure that the image holds at
// least the family's image size: a short image fails with "error reading
// file" before anything is written.
void require_image(const std::string& image, int64_t size);

// Makes a download's status the unit's current one and reports 10 %.
status_t& start_download(base_t& unit, status_t* status);

// Whether a download writes the boot: always (range 2), when it differs
// (range 1, flag byte 2), when the comparison asks for it (range 0, byte 7).
bool boot_wanted(int32_t range, const uint8_t flags[8]);

// cedar and dogwood keep their configuration area inside the boot.
using config_area_t = unsigned char[1024];

// Reads the device's configuration area and record from its boot file.
void extract_config_area(base_t& unit, const std::string& boot_file, uint32_t at, config_area_t& area);

// A new local boot file: the image's boot part with the device's own
// configuration area at config_at, and the values to write merged in unless
// the configuration range is 0.
void make_boot_file(base_t& unit, const std::string& image, uint32_t boot_offset, uint32_t boot_length,
                    uint32_t config_at, const config_area_t& area, int32_t config_range, const std::string& path);

// The region's value when it checks, else 0.
inline uint32_t value_or_zero(const checksum_t& sum) { return sum.check() ? sum.value() : 0; }

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
