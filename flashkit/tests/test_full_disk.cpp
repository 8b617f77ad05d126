// The firmware folder's checksum cache on a full disk: a write that fails is
// told on the console and leaves "database.ini" as it was; the next use of the
// folder writes the new image's record once there is room.
#include "flashkit/database.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "full_disk_rows.h"

namespace {

// Any file is a birch image.
bool birch(const std::string&, update::checksums_t& record)
{
    record[update::checksums_t::code_cs] = 42;
    record.set_type(4);
    return true;
}

// A use of the folder: init, and the cache written as the database goes.
void use_folder(const std::string& ini)
{
    update::database_t db;
    db.init(ini.substr(0, ini.rfind('/')), &birch);
}

// What the use writes to standard output, where the console goes.
std::string console_of_use(const std::string& ini)
{
    std::fflush(stdout);
    const int saved = ::dup(1), caught = ::memfd_create("console", MFD_CLOEXEC);
    ::dup2(caught, 1);
    use_folder(ini);
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::string text(static_cast<size_t>(::lseek(caught, 0, SEEK_END)), '\0');
    text.resize(static_cast<size_t>(std::max<ssize_t>(0, ::pread(caught, text.data(), text.size(), 0))));
    ::close(caught);
    return text;
}

TEST(CacheOnAFullDisk, FailedWriteIsToldAndWrittenAtTheNextUse)
{
    vx::test::full_disk disk("/tmp/flashkit-full-disk-" + std::to_string(getpid()));
    if (!disk.ok())
        GTEST_SKIP() << disk.error();
    std::ofstream(disk.folder() + "/birch_2_0_0.bin") << "b";
    // A cache larger than the room left: a rewrite without its section would fit.
    std::string before = "[Checksums]\n";
    for (int i = 1; i <= 600; ++i)
        before += "alder_1_0_" + std::to_string(i) + ".bin=100 7 0 0 0 3 0 \n";
    vx::test::check_writers(disk,
                            {{.name = "the checksum cache",
                              .file = "database.ini",
                              .before = before,
                              .write = &console_of_use,
                              .told = {disk.folder() + "/database.ini", "No space left on device"},
                              .next = &use_folder,
                              .after = "birch_2_0_0.bin=42 0 0 0 0 5 0 \n"}});
}

} // namespace
