// Owning holder of a C stream file, and a whole-file comparison.
#pragma once

#include "qm/exception.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace qm {

class file_t {
public:
    file_t() = default;
    ~file_t() { close(); }
    file_t(const file_t&) = delete;
    file_t& operator=(const file_t&) = delete;

    // Closes a held stream, then fopen; failure throws wapi::exception_t
    // "error opening file".
    void open(const std::string& path, const char* mode);
    // Moves to the byte offset; "file not open" without a stream.
    void set_position(int64_t offset);
    // Length of the file in bytes, 64-bit (files past 4 GiB are never taken
    // for small ones); the position is left where it was.
    int64_t size();
    // fclose result, 0 when nothing was held.
    int close();

    FILE* get() const { return stream; }
    operator FILE*() const { return stream; }
    bool is_open() const { return stream != nullptr; }

private:
    void require_open() const;

    FILE* stream = nullptr;
};

// True when both files have the same, non-zero length and the same bytes.
bool files_equal(const std::string& path1, const std::string& path2);

// A null pointer throws wapi::exception_t with the context.
void check_not_null(const void* pointer, const char* context);

} // namespace qm
