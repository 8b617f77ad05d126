// Families, versions, stamps and file output of the image generator.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "images.h"
#include "words.h"

namespace devsim::images {
namespace {

struct family_row {
    family f;
    const char* name;
    uint32_t size;
};

const family_row family_rows[] = {
    {family::alder, "alder", 0x100000}, {family::alderamd, "alderamd", 0x100000},
    {family::birch, "birch", 0x100000}, {family::birchamd, "birchamd", 0x100000},
    {family::cedar, "cedar", 0x20000},  {family::dogwood, "dogwood", 0x80000},
};

const family_row& row(family f)
{
    for (const auto& r : family_rows)
        if (r.f == f)
            return r;
    throw std::invalid_argument("unknown family");
}

bool parse_number(std::string_view text, int& out)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > 32767)
        return false;
    out = value;
    return true;
}

constexpr uint8_t stamp_magic[4] = {'V', 'X', 'F', 'W'};

} // namespace

const std::vector<family>& all_families()
{
    static const std::vector<family> list = [] {
        std::vector<family> v;
        for (const auto& r : family_rows)
            v.push_back(r.f);
        return v;
    }();
    return list;
}

const char* family_name(family f) { return row(f).name; }

std::optional<family> parse_family(std::string_view name)
{
    for (const auto& r : family_rows)
        if (name == r.name)
            return r.f;
    return std::nullopt;
}

uint32_t image_size(family f) { return row(f).size; }

std::optional<version_t> parse_version(std::string_view text)
{
    int numbers[4] = {0, 0, 0, -1};
    int count = 0;
    while (count < 4) {
        auto dot = text.find('.');
        if (!parse_number(text.substr(0, dot), numbers[count]))
            return std::nullopt;
        ++count;
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
        if (count == 4)
            return std::nullopt;
    }
    if (count < 3)
        return std::nullopt;
    return version_t{numbers[0], numbers[1], numbers[2], numbers[3]};
}

std::string version_text(const version_t& v)
{
    std::string text = std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
    if (v.patch >= 0)
        text += "." + std::to_string(v.patch);
    return text;
}

std::string file_name(std::string_view word, const version_t& v, std::string_view extension)
{
    std::string name = std::string(word) + "_" + std::to_string(v.major) + "_" + std::to_string(v.minor) + "_" +
        std::to_string(v.build);
    if (v.patch >= 0)
        name += "_" + std::to_string(v.patch);
    return name + std::string(extension);
}

std::string file_name(family f, const version_t& v) { return file_name(family_name(f), v, ".bin"); }

void write_file(const std::string& path, std::span<const uint8_t> bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    int closed = std::fclose(f);
    if (written != bytes.size() || closed != 0)
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

std::optional<stamp_t> read_stamp(std::span<const uint8_t> bytes)
{
    if (bytes.size() < stamp_size || std::memcmp(bytes.data(), stamp_magic, 4) != 0)
        return std::nullopt;
    auto half = [&](size_t at) { return static_cast<int16_t>(le_word(bytes, at, 2)); };
    stamp_t s;
    s.version = {half(4), half(6), half(8), half(10)};
    if (s.version.patch < 0)
        s.version.patch = -1;
    s.hardware = static_cast<int32_t>(le_word(bytes, 12, 4));
    return s;
}

void write_stamp(std::span<uint8_t> bytes, const stamp_t& s)
{
    std::memcpy(bytes.data(), stamp_magic, 4);
    put_le(bytes, 4, static_cast<uint16_t>(s.version.major), 2);
    put_le(bytes, 6, static_cast<uint16_t>(s.version.minor), 2);
    put_le(bytes, 8, static_cast<uint16_t>(s.version.build), 2);
    put_le(bytes, 10, static_cast<uint16_t>(s.version.patch), 2);
    put_le(bytes, 12, static_cast<uint32_t>(s.hardware), 4);
}

} // namespace devsim::images
