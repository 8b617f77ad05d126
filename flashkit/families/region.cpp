#include "flashkit/families/region.h"

#include <qm/file.h>

namespace update {

int64_t image_file_size(const std::string& path)
{
    try {
        qm::file_t file;
        file.open(path, "rb");
        return file.size();
    } catch (const qm::exception_t&) {
        return -1;
    }
}

std::optional<uint32_t> region_value(const std::string& path, uint32_t start, uint32_t length, int width)
{
    checksum_t cs(start, length, width);
    cs.feed(path);
    if (!cs.check())
        return std::nullopt;
    return cs.value();
}

std::optional<uint32_t> uld_region_value(const std::string& path, uint32_t start)
{
    uld_checksum_t cs(start, 0);
    cs.feed(path);
    if (!cs.check())
        return std::nullopt;
    return cs.value();
}

std::optional<uint32_t> first_region_value(const std::string& path, std::initializer_list<uint32_t> starts,
                                           uint32_t length)
{
    for (uint32_t start : starts) {
        if (auto value = region_value(path, start, length))
            return value;
    }
    return std::nullopt;
}

} // namespace update
