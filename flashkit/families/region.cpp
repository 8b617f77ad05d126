#include "flashkit/families/region.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace update {

namespace {

// Whether every byte of the open file is 0x00, or every one is 0xFF.
bool uniform(int fd)
{
    unsigned char buffer[65536];
    int first = -1;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        if (first < 0) {
            first = buffer[0];
            if (first != 0x00 && first != 0xFF)
                return false;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] != first)
                return false;
        }
    }
}

} // namespace

bool image_file_is(const std::string& path, int64_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool fits = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == size && !uniform(fd);
    ::close(fd);
    return fits;
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
