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

// The copies of configuration records that uploads keep in the working
// folder ("saved_config" and the device's twelve MAC digits): removed, or set
// aside by adding the suffix to their names and brought back (every file
// whose name ends with it).
inline void remove_config_copies()
{
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path()))
        if (entry.path().filename().string().rfind("saved_config", 0) == 0)
            std::filesystem::remove(entry.path());
}

inline void set_config_copies_aside(const std::string& suffix)
{
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("saved_config", 0) == 0 && name.size() == 24)
            std::filesystem::rename(entry.path(), entry.path().string() + suffix);
    }
}
inline void restore_config_copies(const std::string& suffix)
{
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path())) {
        const std::string name = entry.path().string();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            std::filesystem::rename(entry.path(), name.substr(0, name.size() - suffix.size()));
    }
}

} // namespace vx::test
