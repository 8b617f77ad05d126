// A report written on a full disk: the write fails with 0x9510, and even when
// room comes back before the report is closed, the earlier report of that
// name stays as it was and nothing of the new one is left; with room from the
// start, the new report takes the name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "ReportFile.h"
#include "full_disk_rows.h"

namespace {

// A report larger than the room left, written as the writer does: line by
// line until a write fails, then one more line and closed (after `room` came
// back, when given); returns the results.
std::string write_report(const std::string& path, vx::test::full_disk* room)
{
    const size_t slash = path.rfind('/');
    CReportFile file;
    const int opened = file.Open(path.substr(0, slash), path.substr(slash + 1));
    int written = 0;
    for (int line = 0; opened == 0 && written == 0 && line < 4096; ++line)
        written = file.Printf("'%02d : TxBundle,%d\n", line % 100, line);
    if (room)
        room->make_room();
    const int last = file.Write("\n,**USER ABORT**");
    char told[80];
    std::snprintf(told, sizeof told, "open 0x%X write 0x%X 0x%X close 0x%X", opened, written, last, file.Close());
    return told;
}

TEST(ReportOnAFullDisk, FailedWriteLeavesTheEarlierReport)
{
    vx::test::full_disk disk("/tmp/tunedeck-full-disk-" + std::to_string(getpid()));
    if (!disk.ok())
        GTEST_SKIP() << disk.error();
    vx::test::check_writers(disk,
                            {{.name = "the report",
                              .file = "001_alder-1.csv",
                              .before = "Date,03/02/2024\nearlier report\n",
                              .write = [&](const std::string& path) { return write_report(path, &disk); },
                              .told = {"open 0x0 write 0x9510 0x0 close 0x9510"},
                              .next =
                                  [](const std::string& path) {
                                      EXPECT_EQ(write_report(path, nullptr), "open 0x0 write 0x0 0x0 close 0x0");
                                  },
                              .after = "TxBundle,4095\n\n,**USER ABORT**"}});
}

} // namespace
