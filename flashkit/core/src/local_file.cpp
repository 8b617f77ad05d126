#include "flashkit/local_file.h"

#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace update {

std::FILE* create_local(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "w+b");
    if (!file) {
        int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        vx_set_last_error_from_errno();
    }
    return file;
}

} // namespace update
