// Atomic file replacement (temporary file + rename).
#include "reg_file.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::reg {

bool replace_file(const std::string& path, const std::string& text, mode_t mode, bool sync) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmpl = dir + "." + base + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0;
  int err = errno;
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
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
  if (ok && rename(name.data(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(name.data());
    errno = err;
  }
  return ok;
}

DWORD save_error(int err) {
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
