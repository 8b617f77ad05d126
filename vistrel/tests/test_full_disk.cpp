// The console closed on a full disk: every write of "vistrel.ini" fails; the
// user is told once, with the file and the reason, the close still ends the
// program and the file keeps its old text.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "VistrelApp.h"
#include "VistrelDlg.h"

#include <full_disk.h>
#include <mfc/test_hooks.h>
#include <qm/log_file.h>

#include <gtest/gtest.h>

using namespace vistrel_test;

TEST(FullDisk, ClosingTellsWhichSettingsFileCouldNotBeWrittenAndWhy)
{
    // Over the program's own folder, where the console keeps its settings.
    vx::test::full_disk disk(GetProgramDirectory());
    if (!disk.ok())
        GTEST_SKIP() << disk.error();
    const std::string old = "[Configuration]\nSCR Refresh Period=100000\n"
                            "[Default Columns]\nUptime=D,1.3.6.1.2.1.1.3.0\n"
                            "[Start Up Columns]\nUptime=70\n";
    ScopedIni ini(old);
    FakeServers servers;
    mfc::test::ScopedHooks hooks;
    World().adapters["eth0"].devices["00602b000001"] = {"192.168.1.20", 0};
    disk.fill();
    mfc::test::ScriptModal<CVistrelDlg>([](CVistrelDlg& d) {
        Tick(d);
        mfc::test::DragColumnWidth(d.List(), 1, 131);
        EXPECT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&Close")) << "grey";
    });
    EXPECT_FALSE(App().InitInstance()); // ends as after any close
    EXPECT_EQ(TakeBoxes(),
              (std::vector<std::string>{"Vistrel: Settings could not be saved in " + ScopedIni::Path() +
                                        ".\nNo space left on device"}));
    disk.make_room();
    EXPECT_EQ(ScopedIni::Read(), old);
}
