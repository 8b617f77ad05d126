#include "flashkit/families/recognizers.h"
#include "flashkit/families/region.h"

namespace update {

bool cedar_recognize(const std::string& path, checksums_t& record)
{
    try {
        if (!image_file_is(path, 0x20000))
            return false;
        // Small code in one bank, else large code over both.
        std::optional<uint32_t> code = region_value(path, 0x8000, 0x7FFE);
        if (!code)
            code = region_value(path, 0x8000, 0xFFFF);
        if (!code)
            return false;
        std::optional<uint32_t> boot = region_value(path, 0, 0x7BFF);
        if (!boot)
            return false;
        record[checksums_t::code_cs] = *code;
        record[checksums_t::boot_cs] = *boot;
        record.set_type(type_cedar);
        return true;
    } catch (const qm::exception_t&) {
        return false;
    }
}

} // namespace update
