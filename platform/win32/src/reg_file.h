// Whole-file reads and atomic file replacement shared by the INI files and
// the registry hive.
#pragma once

#include <string>

#include <sys/types.h>

#include "win32/types.h"

namespace vx::reg {

// Reads the whole file; false with errno on failure (ENOENT: missing).
bool read_whole(const std::string& path, std::string& out);

// Writes text to a temporary file in path's folder and renames it over path,
// so readers see either the old or the new file whole. With sync the data
// reach the disk before the rename. On failure nothing is left behind and
// errno tells why.
// mode kDefaultMode: a new file's usual permissions (0666 less the umask).
constexpr int kDefaultMode = -1;
bool replace_file(const std::string& path, const std::string& text, int mode, bool sync);

// Creates path with text, whole or not at all, unless a file of that name is
// there already (left as it is: true). The data and the name reach the disk
// before it returns. On failure nothing is left behind and errno tells why.
bool create_file_once(const std::string& path, const std::string& text, int mode);

// Win32 error number for a failed save: ERROR_ACCESS_DENIED for permission
// problems and read-only file systems, ERROR_PATH_NOT_FOUND for a missing
// folder, ERROR_CANTWRITE otherwise.
DWORD save_error(int err);

} // namespace vx::reg
