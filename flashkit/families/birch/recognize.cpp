#include "flashkit/families/recognizers.h"
#include "flashkit/families/region.h"

#include <qm/file.h>

#include <cstdio>

namespace update {
namespace {

// The count of the configuration record list at 6404 of the image.
uint32_t record_count(const std::string& path)
{
    qm::file_t file;
    file.open(path, "rb");
    file.set_position(0x6404);
    unsigned char bytes[4] = {};
    if (std::fread(bytes, 1, 4, file.get()) != 4)
        return 0;
    return read_word(bytes, 4, true);
}

} // namespace

bool birch_family_recognize(const std::string& path, checksums_t& record, int32_t type)
{
    try {
        if (!image_file_is(path, 0x100000))
            return false;
        std::optional<uint32_t> code = uld_region_value(path, 0x80000);
        if (!code)
            code = uld_region_value(path, 0xA0000);
        if (!code)
            return false;
        record[checksums_t::code_cs] = *code;
        std::optional<uint32_t> code2 = uld_region_value(path, 0xC0000);
        if (!code2)
            code2 = uld_region_value(path, 0xE0000);
        if (code2)
            record[checksums_t::code2_cs] = *code2;
        record[checksums_t::boot_cs] = uld_region_value(path, 0).value_or(0);
        const uint32_t count = record_count(path);
        if (count > 0 && count < 0x2000)
            record[checksums_t::config_cs] = region_value(path, 0x6408, count * 4 + 4, 4).value_or(0);
        record.set_type(type);
        return true;
    } catch (const qm::exception_t&) {
        return false;
    }
}

bool birch_recognize(const std::string& path, checksums_t& record)
{
    return birch_family_recognize(path, record, type_birch);
}

} // namespace update
