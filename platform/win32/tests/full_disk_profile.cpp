// An INI rewrite on a full disk: FALSE with ERROR_DISK_FULL and the file as it
// was; once there is room, the new file is flushed before it takes the name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include <windows.h>

#include "full_disk_rows.h"

namespace {

BOOL write_key(const std::string& path) { return WritePrivateProfileStringA("big", "new", "1", path.c_str()); }

TEST(IniOnAFullDisk, RewriteFailsWholeAndIsFlushedOnceThereIsRoom)
{
    vx::test::full_disk disk("/tmp/vx-profile-full-disk-" + std::to_string(getpid()));
    if (!disk.ok())
        GTEST_SKIP() << disk.error();
    std::string before = "[big]\n";
    for (int i = 0; i < 700; ++i)
        before += "key" + std::to_string(i) + "=value " + std::to_string(i) + "\n";
    vx::test::check_writers(disk,
                            {{.name = "a key",
                              .file = "test.ini",
                              .before = before,
                              .write =
                                  [](const std::string& path) {
                                      const BOOL ok = write_key(path);
                                      return std::to_string(ok) + " " + std::to_string(GetLastError());
                                  },
                              .told = {"0 " + std::to_string(ERROR_DISK_FULL)},
                              .next = [](const std::string& path) { EXPECT_TRUE(write_key(path)); },
                              .after = "new=1\n"}});
}

} // namespace
