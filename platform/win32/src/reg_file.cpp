// Whole-file reads and atomic file replacement (temporary file + rename).
#include "reg_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::reg {

namespace {

// Writes text to a new temporary file beside path (same folder, so that it
// can be renamed or linked to path); name receives its name. With sync the
// data reach the disk. On failure nothing is left behind and errno tells why.
bool write_beside(const std::string& path, const std::string& text, int mode, bool sync, std::string& name)
{
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // Created with 0666 so that the umask applies, as for any new file.
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%d.%u.%u", static_cast<int>(getpid()), counter++,
                      static_cast<unsigned>(std::random_device{}()));
        name = dir + "." + base + suffix;
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = mode == kDefaultMode || fchmod(fd, static_cast<mode_t>(mode)) == 0;
    int err = errno;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            err = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (ok && sync && fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(name.c_str());
        errno = err;
    }
    return ok;
}

// Flushes the folder holding path, so that a new name in it is on the disk.
bool sync_folder(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0;
    int err = errno;
    close(fd);
    errno = err;
    return ok;
}

} // namespace

bool replace_file(const std::string& path, const std::string& text, int mode, bool sync)
{
    std::string name;
    if (!write_beside(path, text, mode, sync, name))
        return false;
    if (rename(name.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(name.c_str());
        errno = err;
        return false;
    }
    return true;
}

bool create_file_once(const std::string& path, const std::string& text, int mode)
{
    if (access(path.c_str(), F_OK) == 0)
        return true;
    std::string name;
    if (!write_beside(path, text, mode, true, name))
        return false;
    // link() never replaces a file: a copy made before stays as it is.
    bool ok = link(name.c_str(), path.c_str()) == 0 || errno == EEXIST;
    if (!ok && (errno == EPERM || errno == EOPNOTSUPP)) // no hard links here
        ok = access(path.c_str(), F_OK) == 0 || rename(name.c_str(), path.c_str()) == 0;
    int err = errno;
    unlink(name.c_str());
    if (ok && !sync_folder(path))
        return false;
    errno = err;
    return ok;
}

bool read_whole(const std::string& path, std::string& out)
{
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int e = errno;
            close(fd);
            errno = e;
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

DWORD save_error(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_CANTWRITE;
    }
}

} // namespace vx::reg
