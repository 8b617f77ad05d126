#include "dsp_files.h"

#include "flashkit/local_file.h"

#include <qm/exception.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace update::dsp_files {
namespace {

constexpr std::size_t chunk_size = 131072;

struct closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, closer>;

file_ptr open(const std::string& path, const char* mode)
{
    file_ptr f(std::fopen(path.c_str(), mode));
    if (!f)
        throw qm::exception_t("file not open");
    return f;
}

// A working file for writing, never through a link planted at its name.
file_ptr open_target(const std::string& path, bool append)
{
    if (!append) {
        file_ptr f(update::create_local(path));
        if (!f)
            throw qm::exception_t("file not open");
        return f;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    file_ptr f(fd < 0 ? nullptr : ::fdopen(fd, "ab"));
    if (!f) {
        if (fd >= 0)
            ::close(fd);
        throw qm::exception_t("file not open");
    }
    return f;
}

} // namespace

temp_files_t::~temp_files_t()
{
    for (const std::string& name : names)
        std::remove(name.c_str());
}

std::string temp_files_t::operator()(const char* word)
{
    std::string name = word + suffix;
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
    return name;
}

void copy(const std::string& source, uint64_t offset, uint64_t length, const std::string& target, bool append)
{
    file_ptr in = open(source, "rb");
    file_ptr out = open_target(target, append);
    if (fseeko(in.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
        throw qm::exception_t("file not open");
    std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<uint64_t>(length, chunk_size)));
    while (length > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(length, chunk_size));
        const std::size_t got = std::fread(buffer.data(), 1, want, in.get());
        if (got > 0 && std::fwrite(buffer.data(), 1, got, out.get()) != got)
            throw qm::exception_t("file not open");
        length -= got;
        if (got < want)
            break; // the source ended
    }
    if (std::fclose(out.release()) != 0)
        throw qm::exception_t("file not open");
}

void create(const std::string& path) { open_target(path, false); }

uint64_t size_of(const std::string& path)
{
    file_ptr f = open(path, "rb");
    fseeko(f.get(), 0, SEEK_END);
    const off_t end = ftello(f.get());
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

} // namespace update::dsp_files
