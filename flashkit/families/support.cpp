#include "flashkit/families/support.h"

#include "flashkit/local_file.h"
#include "flashkit/status_text.h"

#include <qm/exception.h>
#include <qm/file.h>

#include <algorithm>
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

void require_image(const std::string& image, int64_t size)
{
    qm::file_t file;
    file.open(image, "rb");
    if (file.size() < size)
        throw qm::exception_t("error reading file");
}

void set_word(base_t& unit, checksums_t& record, int word, uint32_t value)
{
    record[word] = value;
    unit.checksums[word] = value;
}

local_file_t::~local_file_t() { std::remove(path.c_str()); }

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

status_t& start_download(base_t& unit, status_t* status)
{
    unit.status = status;
    status_t& s = unit.current_status();
    s.set_percent(10);
    return s;
}

bool boot_wanted(int32_t range, const uint8_t flags[8])
{
    return range == 2 || (range == 1 && flags[2]) || (range == 0 && flags[7]);
}

void extract_config_area(base_t& unit, const std::string& boot_file, uint32_t at, config_area_t& area)
{
    status_t& s = unit.current_status();
    s.set_text(status_text[text_extracting_config]);
    s.set_percent(50);
    base_t::read_sector(boot_file, at, area, sizeof area);
    base_t::read_config(unit.config, boot_file, at, 3);
}

void make_boot_file(base_t& unit, const std::string& image, uint32_t boot_offset, uint32_t boot_length,
                    uint32_t config_at, const config_area_t& area, int32_t config_range, const std::string& path)
{
    std::vector<unsigned char> boot(boot_length);
    base_t::read_sector(image, boot_offset, boot.data(), boot.size());
    std::copy(std::begin(area), std::end(area), boot.begin() + config_at);
    write_local(path, boot.data(), boot.size());
    if (config_range != 0) {
        config_t image_config;
        base_t::read_config(image_config, image, boot_offset + config_at, 3);
        unit.merge_config(image_config);
        base_t::write_config(unit.config, path, config_at, 3, true);
    }
}

} // namespace update
