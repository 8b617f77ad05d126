#include "qm/file.h"

#include "qm/exception.h"

#include <cstring>
#include <memory>
#include <new>

namespace qm {

void file_t::open(const std::string& path, const char* mode)
{
    close();
    stream = std::fopen(path.c_str(), mode);
    if (!stream) {
        vx_set_last_error_from_errno();
        throw wapi::exception_t("error opening file");
    }
}

void file_t::require_open() const
{
    if (!stream)
        throw wapi::exception_t("file not open");
}

void file_t::set_position(int64_t offset)
{
    require_open();
    fseeko(stream, static_cast<off_t>(offset), SEEK_SET);
}

int64_t file_t::size()
{
    require_open();
    off_t position = ftello(stream);
    fseeko(stream, 0, SEEK_END);
    off_t end = ftello(stream);
    fseeko(stream, position, SEEK_SET);
    return static_cast<int64_t>(end);
}

int file_t::close()
{
    if (!stream)
        return 0;
    int result = std::fclose(stream);
    stream = nullptr;
    return result;
}

bool files_equal(const std::string& path1, const std::string& path2)
{
    constexpr std::size_t chunk = 102400;
    file_t file1;
    file_t file2;
    file1.open(path1, "rb");
    file2.open(path2, "rb");
    if (file1.size() != file2.size())
        return false;

    std::unique_ptr<char[]> buffer1(new (std::nothrow) char[chunk]);
    std::unique_ptr<char[]> buffer2(new (std::nothrow) char[chunk]);
    if (!buffer1 || !buffer2)
        return false;

    bool compared = false;
    for (;;) {
        std::size_t n1 = std::fread(buffer1.get(), 1, chunk, file1.get());
        std::size_t n2 = std::fread(buffer2.get(), 1, chunk, file2.get());
        if (n1 != n2)
            return false;
        if (n1 == 0)
            break;
        if (std::memcmp(buffer1.get(), buffer2.get(), n1) != 0)
            return false;
        compared = true;
    }
    return compared;
}

void check_not_null(const void* pointer, const char* context)
{
    if (!pointer)
        throw wapi::exception_t(context);
}

} // namespace qm
