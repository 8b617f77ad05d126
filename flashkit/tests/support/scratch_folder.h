// Test support: a fresh folder per test with small binary files written into it.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vx::test {

using bytes_t = std::vector<unsigned char>;

class scratch_folder {
public:
    explicit scratch_folder(const std::string& word)
        : path(std::filesystem::temp_directory_path() / ("vx-" + word + "-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~scratch_folder() { std::filesystem::remove_all(path); }

    // Writes the bytes as a file of the folder; returns its path.
    std::string file(const std::string& name, const bytes_t& content) const
    {
        std::string at = (path / name).string();
        std::ofstream(at, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return at;
    }
    static bytes_t read(const std::string& at)
    {
        std::ifstream in(at, std::ios::binary);
        return bytes_t(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    const std::filesystem::path path;
};

// Text of the given size from a seeded generator.
inline std::string random_text(std::size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

// A whole file as text; empty when it cannot be read.
inline std::string text_of(const std::string& at)
{
    std::ifstream in(at, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace vx::test
