#include "flashkit/families/recognizers.h"
#include "flashkit/families/region.h"

namespace update {

bool dogwood_recognize(const std::string& path, checksums_t& record)
{
    try {
        if (!image_file_is(path, 0x80000))
            return false;
        std::optional<uint32_t> code = region_value(path, 0, 0x7FFE);
        if (!code)
            code = region_value(path, 0, 0xFFFF);
        if (!code)
            return false;
        std::optional<uint32_t> boot = region_value(path, 0x78000, 0x7BFF);
        if (!boot)
            return false;
        record[checksums_t::code_cs] = *code;
        record[checksums_t::boot_cs] = *boot;
        if (auto xilinx = region_value(path, 0x20000, 0x5700))
            record[checksums_t::fpga2_cs] = *xilinx;
        record.set_type(type_dogwood);
        return true;
    } catch (const qm::exception_t&) {
        return false;
    }
}

} // namespace update
