// A scratch folder for one fuzz run, made on first use and removed with
// everything in it when the run ends. It lies in memory (/dev/shm) where
// there is such a folder: every input is a few file operations.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace vx::fuzz {

class scratch_t {
public:
    explicit scratch_t(const char* word)
    {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        std::string pattern = (base / (std::string("vx-fuzz-") + word + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()))
            folder = pattern;
    }
    ~scratch_t()
    {
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
    scratch_t(const scratch_t&) = delete;
    scratch_t& operator=(const scratch_t&) = delete;

    std::string path(const std::string& name) const { return (folder / name).string(); }
    // Writes the bytes as the file; false when that fails.
    bool write(const std::string& name, const void* data, std::size_t size) const
    {
        std::FILE* f = std::fopen(path(name).c_str(), "wb");
        if (!f)
            return false;
        const bool whole = std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && whole;
    }

    std::filesystem::path folder;
};

} // namespace vx::fuzz
