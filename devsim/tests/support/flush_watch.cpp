#include "flush_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace vx::test {
namespace {

using file_id = std::pair<dev_t, ino_t>;

std::mutex lock;
std::set<file_id> flushed;       // since the file was made or last renamed
std::map<file_id, bool> renamed; // files renamed onto a name: flushed before?

file_id id_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

} // namespace

bool renamed_after_flush(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    std::lock_guard guard(lock);
    auto it = renamed.find(id_of(st));
    return it != renamed.end() && it->second;
}

} // namespace vx::test

extern "C" int fsync(int fd)
{
    const int result = static_cast<int>(::syscall(SYS_fsync, fd));
    struct stat st {};
    if (result == 0 && ::fstat(fd, &st) == 0) {
        std::lock_guard guard(vx::test::lock);
        vx::test::flushed.insert(vx::test::id_of(st));
    }
    return result;
}

extern "C" int rename(const char* from, const char* to)
{
    struct stat st {};
    const bool known = ::lstat(from, &st) == 0;
    const int result = ::renameat(AT_FDCWD, from, AT_FDCWD, to);
    if (result == 0 && known) {
        std::lock_guard guard(vx::test::lock);
        vx::test::renamed[vx::test::id_of(st)] = vx::test::flushed.erase(vx::test::id_of(st)) > 0;
    }
    return result;
}
