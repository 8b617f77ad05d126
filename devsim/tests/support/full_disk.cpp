#include "full_disk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace vx::test {
namespace {

const char* const filler_name = "/.filler";

// The process's own mount namespace, whose mounts propagate nowhere.
std::string private_mounts()
{
    static std::once_flag once;
    static std::string error;
    std::call_once(once, [] {
        if (::unshare(CLONE_NEWNS) != 0)
            error = std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            error = std::string("making / private: ") + std::strerror(errno);
    });
    return error;
}

} // namespace

full_disk::full_disk(const std::string& folder, size_t bytes) : folder_(folder)
{
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
    if (::geteuid() != 0) {
        error_ = "needs root (a mount namespace and a tmpfs)";
        return;
    }
    error_ = private_mounts();
    if (!error_.empty())
        return;
    std::error_code ec;
    made_ = std::filesystem::create_directories(folder_, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("vx-full-disk", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        error_ = "mounting a tmpfs on " + folder_ + ": " + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

full_disk::~full_disk()
{
    if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
    if (made_)
        ::rmdir(folder_.c_str());
}

void full_disk::fill(size_t room)
{
    // The room is held by a file of its own while the rest is taken.
    const std::string spare = folder_ + "/.room";
    if (room > 0) {
        const std::vector<char> bytes(room, 'r');
        int fd = ::open(spare.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        const bool held = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ::close(fd);
        if (!held)
            return;
    }
    const std::string path = folder_ + filler_name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // Large pieces first, then single bytes until not one more fits.
    std::vector<char> block(64 * 1024, 'x');
    for (size_t size = block.size(); size > 0; size /= 2)
        while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {}
    ::close(fd);
    if (room > 0)
        ::unlink(spare.c_str());
}

void full_disk::make_room() { ::unlink((folder_ + filler_name).c_str()); }

bool full_disk::read_only(bool on)
{
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (on ? MS_RDONLY : 0);
    return mounted_ && ::mount(nullptr, folder_.c_str(), nullptr, flags, nullptr) == 0;
}

} // namespace vx::test
