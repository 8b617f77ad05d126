#include "flashkit/families/support.h"

#include "flashkit/local_file.h"

#include <qm/exception.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace update {
namespace {

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

} // namespace

std::string remote_name(const char* format, int number)
{
    char name[16];
    std::snprintf(name, sizeof name, format, number);
    return name;
}

void set_word(base_t& unit, checksums_t& record, int word, uint32_t value)
{
    record[word] = value;
    unit.checksums[word] = value;
}

local_file_t::~local_file_t()
{
    std::remove(path.c_str());
}

void write_local(const std::string& path, const void* data, std::size_t size)
{
    file_ptr file(create_local(path), &std::fclose);
    if (!file)
        throw qm::exception_t("file not open");
    bool written = std::fwrite(data, 1, size, file.get()) == size;
    if (std::fclose(file.release()) != 0 || !written)
        throw qm::exception_t("file not open");
}

void copy_image(const std::string& image, uint32_t offset, uint32_t length, const std::string& path)
{
    std::vector<unsigned char> bytes(length);
    base_t::read_sector(image, offset, bytes.data(), bytes.size());
    write_local(path, bytes.data(), bytes.size());
}

void write_junk(const std::string& path)
{
    const std::vector<unsigned char> junk(32, 0xFF);
    write_local(path, junk.data(), junk.size());
}

} // namespace update
