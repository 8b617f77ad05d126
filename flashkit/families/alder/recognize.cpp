#include "flashkit/families/recognizers.h"
#include "flashkit/families/region.h"

namespace update {

bool alder_recognize(const std::string& path, checksums_t& record)
{
    try {
        if (!image_file_is(path, 0x100000))
            return false;
        // Runtime code at either bank position of the image.
        auto code = first_region_value(path, {0x40000, 0x80000}, 0x3FFFF);
        if (!code)
            return false;
        record[checksums_t::code_cs] = *code;
        record[checksums_t::boot_cs] = region_value(path, 0, 0x6000).value_or(0);
        record[checksums_t::fpga_cs] = region_value(path, 0x10000, 0x1110F).value_or(0);
        record[checksums_t::fpga2_cs] = region_value(path, 0x60000, 0x1110F).value_or(0);
        record.set_type(type_alder);
        return true;
    } catch (const qm::exception_t&) {
        return false;
    }
}

} // namespace update
