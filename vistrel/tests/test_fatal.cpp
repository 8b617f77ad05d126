// The console's failure policy: a failed server call shows the caller's text
// and the server's error text once, logs it when logging is on, and ends the
// program with status 1.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "ColumnSet.h"
#include "FirmwareResource.h"
#include "IpAssignDlg.h"
#include "OptionsDlg.h"
#include "ProgressDlg.h"
#include "SelectVersionDlg.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/test_hooks.h>
#include <qm/log_file.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace vistrel_test;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Set once the test framework's own flags exist (a static initialiser may
// run before them, and its text is then lost).
struct ThreadsafeDeathTests : ::testing::Environment {
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
::testing::Environment* const death_style = ::testing::AddGlobalTestEnvironment(new ThreadsafeDeathTests);

struct FatalCase {
    const char* what;
    std::function<void()> before;             // before the main dialog is made
    std::function<void(CVistrelDlg&)> during; // inside its modal loop
    std::string message;
    std::string ini = std::string(); // added to the settings file, after the [Configuration] keys
};

void RunMain(const FatalCase& c)
{
    CVistrelApp app; // reads the log switch as at program start
    app.LoadResources();
    WatchMessageBoxes(stderr);
    // A case whose failure never comes ends instead of hanging in a dialog.
    QTimer::singleShot(120000, [] {
        std::fprintf(stderr, "no failure came\n");
        _exit(3);
    });
    if (c.before)
        c.before();
    CVistrelDlg dialog;
    app.m_pMainWnd = &dialog;
    mfc::test::ScriptModal<CVistrelDlg>([&](CVistrelDlg& d) {
        if (c.during)
            c.during(d);
        // Commands from menus arrive posted: the program ends in one of them.
        PumpUntil([] { return false; }, 60000);
        d.EndDialog(IDCANCEL);
    });
    dialog.DoModal();
}

void Fail(const std::string& call, HRESULT hr, const std::string& description = std::string())
{
    World().failures[call] = {hr, description};
}

std::string LogText()
{
    std::ifstream in(GetProgramDirectory() + "vistrel.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The device list after the first tick, with its one row clicked.
void ClickTheDevice(CVistrelDlg& d)
{
    Tick(d);
    ASSERT_EQ(d.List()->GetItemCount(), 1);
    mfc::test::ClickListRow(d.List(), 0);
}

// Update Firmware on the clicked device.
void UpdateFirmware(CVistrelDlg& d)
{
    ClickTheDevice(d);
    ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&Update Firmware...")) << "grey";
}

// A case's part in the dialog: the call fails, then the user's action.
std::function<void(CVistrelDlg&)> FailThen(const char* call, HRESULT hr, const char* text, void (*action)(CVistrelDlg&))
{
    return [=](CVistrelDlg& d) {
        Fail(call, hr, text);
        action(d);
    };
}

// The firmware update with the version dialog answered by "&Update", and
// `during` run inside that dialog first.
void UpdateFirmwareChoosing(CVistrelDlg& d, const std::function<void(CSelectVersionDlg&)>& during)
{
    mfc::test::ScriptModal<CSelectVersionDlg>([during](CSelectVersionDlg& v) {
        if (during)
            during(v);
        mfc::test::Click(v, IDC_UPDATE_VERSION);
    });
    UpdateFirmware(d);
}

// The Options dialog opened from the menu, `script` run inside it.
void InOptions(CVistrelDlg& d, const std::function<void(COptionsDlg&)>& script)
{
    mfc::test::ScriptModal<COptionsDlg>(script);
    ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Tools", "&Options...")) << "grey";
}

// The Column Chooser opened from the menu: one entry of a list moved to the
// other with its button, then OK.
void MoveColumnInChooser(CVistrelDlg& d, int fromList, int button)
{
    mfc::test::ScriptModal<ColumnSet>([fromList, button](ColumnSet& chooser) {
        mfc::test::ChooseListBoxItems(chooser.GetDlgItem(fromList), {0});
        mfc::test::Click(chooser, button);
        mfc::test::Click(chooser, IDOK);
    });
    ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&View", "&Column Chooser...")) << "grey";
}

} // namespace

// Every place that hands a failed server call to the failure policy, each
// reached the way a user reaches it, with the text the user is shown.
TEST(Fatal, EveryFailingServerCallShowsItsTextAndEndsWithStatus1)
{
    auto device = [] { World().adapters["eth0"].devices["00602b000001"] = {"192.168.1.20", 0}; };
    auto unaddressed = [] { World().adapters["eth0"].devices["00602b000001"] = {"0.0.0.0", 0}; };
    const FatalCase cases[] = {
        // Discovery server.
        {"discovery creation", [] { World().managerCreation = REGDB_E_CLASSNOTREG; }, nullptr,
         "COM Scoutline can't be created.Class not registered"},
        {"discovery console", [] { Fail("manager.show_console", E_FAIL, "no console"); }, nullptr,
         "COM Scoutline can't be created.no console", "[Scoutline]\nshow_console=1\n"},
        {"adapter list", [] { Fail("manager.adapters", E_FAIL, "no adapter list"); }, nullptr,
         "COM Scoutline access error(get IP).no adapter list"},
        {"current adapter", [] { Fail("adapter.put_ip_start", E_FAIL); }, nullptr,
         "COM Scoutline access error(adapter_get). Unspecified error"},
        {"start", [] { Fail("adapter.start", E_FAIL, "cannot open"); }, nullptr,
         "COM Scoutline access error(start).cannot open"},
        {"device walk", nullptr, FailThen("adapter.device_first", HRESULT(0x800706BA), "", Tick),
         "COM Scoutline, device access error(device update). The RPC server is unavailable."},
        {"forgetting a device on F5", unaddressed,
         [](CVistrelDlg& d) {
             Tick(d);
             Fail("adapter.device_remove", E_FAIL, "gone");
             mfc::test::PressKey(&d, VK_F5);
         },
         "COM Scoutline access error(refresh).gone"},
        {"forgetting a device on another adapter", unaddressed,
         [](CVistrelDlg& d) {
             Tick(d);
             Fail("adapter.device_remove", E_FAIL, "gone");
             InOptions(d, [](COptionsDlg& o) {
                 mfc::test::ChooseComboItem(o.GetDlgItem(IDC_ADAPTER), 1);
                 mfc::test::Click(o, IDOK);
             });
         },
         "COM Scoutline access error(adapter_set).gone"},
        {"range on OK", nullptr,
         [](CVistrelDlg& d) {
             Fail("adapter.put_ip_start", E_FAIL, "refused");
             InOptions(d, [](COptionsDlg& o) { mfc::test::Click(o, IDOK); });
         },
         "COM Scoutline access error(set IP).refused"},
        {"default range", nullptr,
         [](CVistrelDlg& d) {
             Fail("adapter.ip_start_default", E_FAIL, "no default");
             InOptions(d, [](COptionsDlg& o) { mfc::test::Click(o, IDC_RANGE_DEFAULT); });
         },
         "COM Scoutline access error(IpRange). no default"},
        {"subnet for a new address", device,
         [](CVistrelDlg& d) {
             ClickTheDevice(d);
             Fail("adapter.ip_subnet", E_FAIL, "no subnet");
             ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&New IP Address...")) << "grey";
         },
         "COM Scoutline access error(get subnet).no subnet"},
        {"new address", device,
         [](CVistrelDlg& d) {
             ClickTheDevice(d);
             Fail("adapter.device_get", E_FAIL, "gone");
             mfc::test::ScriptModal<CIpAssignDlg>([](CIpAssignDlg& ip) {
                 mfc::test::SetIpField(ip.GetDlgItem(IDC_NEW_ADDRESS), 0, "1921681.77"); // across the fields
                 mfc::test::Click(ip, IDOK);
             });
             ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&New IP Address...")) << "grey";
         },
         "COM Scoutline access error(set device IP).gone"},
        // Poller.
        {"poller creation", [] { World().pollerCreation = REGDB_E_CLASSNOTREG; }, nullptr,
         "COM Querant can't be created.Class not registered"},
        {"poller settings", [] { Fail("poller.num_threads", E_INVALIDARG, "Invalid number of threads"); }, nullptr,
         "COM Querant can't be created.Invalid number of threads"},
        {"clearing the poller at start", [] { Fail("poller.clear_watch", E_FAIL, "busy"); }, nullptr,
         "COM Querant access error(adapter_set).busy"},
        {"clearing the poller on F5", nullptr,
         [](CVistrelDlg& d) {
             Fail("poller.clear_watch", HRESULT(0x80001234));
             mfc::test::PressKey(&d, VK_F5);
         },
         "COM Querant access error(refresh).Unknown error 0x80001234"},
        {"watch", device, FailThen("poller.watch", DISP_E_EXCEPTION, "Unknown error in Ccom_manager::watch().", Tick),
         "COM Querant access error(watch).Unknown error in Ccom_manager::watch()."},
        {"watch of a column shown", device,
         [](CVistrelDlg& d) {
             Tick(d);
             Fail("poller.watch", E_FAIL, "full");
             MoveColumnInChooser(d, IDC_AVAILABLE_LIST, IDC_MOVE_TO_WATCH);
         },
         "COM Querant access error(watch).full"},
        {"end of the watches of a dead device", device,
         [](CVistrelDlg& d) {
             Tick(d);
             Fail("poller.end_device_watch", E_FAIL, "stuck");
             World().adapters["eth0"].devices["00602b000001"].age = 9000;
             Tick(d);
         },
         "COM Querant access error(end watch).stuck"},
        {"end of the watch of a column hidden", device,
         [](CVistrelDlg& d) {
             Tick(d);
             Fail("poller.end_watch", E_FAIL, "stuck");
             MoveColumnInChooser(d, IDC_WATCH_LIST, IDC_MOVE_TO_AVAILABLE);
         },
         "COM Querant access error(end watch).stuck"},
        {"changes", device, FailThen("poller.get_device_changes", E_OUTOFMEMORY, "", Tick),
         "COM Querant access error(device update).Ran out of memory"},
        {"watch size", nullptr, FailThen("poller.watch_size", HRESULT(0x80040205), "", Tick),
         "COM Querant access error(update view).IDispatch error #5"},
        // Firmware server, and the poller's one-shot read of the hardware value.
        {"firmware creation", device,
         [](CVistrelDlg& d) {
             World().updaterCreation = REGDB_E_CLASSNOTREG;
             UpdateFirmware(d);
         },
         "COM Flashkit can't be created.Class not registered"},
        {"firmware settings", device,
         FailThen("updater.put_write_timeout", E_INVALIDARG, "bad time-out", UpdateFirmware),
         "COM Flashkit can't be created.bad time-out"},
        {"firmware folder", device, FailThen("updater.init", E_FAIL, "no folder", UpdateFirmware),
         "COM Flashkit can't be created.no folder"},
        {"upload", device, FailThen("updater.upload", E_FAIL, "no device", UpdateFirmware),
         "COM Flashkit access error(update).no device"},
        {"progress", device, FailThen("job.done upload", E_FAIL, "lost job", UpdateFirmware),
         "COM Flashkit access error(progress).lost job"},
        {"cancel", device,
         [](CVistrelDlg& d) {
             Fail("job.cancel", E_FAIL, "cannot cancel");
             World().jobDone = 0;
             mfc::test::ScriptModal<CProgressDlg>([](CProgressDlg& p) { mfc::test::Click(p, IDCANCEL); });
             UpdateFirmware(d);
         },
         "COM Flashkit access error(progress).cannot cancel"},
        {"hardware value's poller", device,
         [](CVistrelDlg& d) {
             World().pollerCreation = REGDB_E_CLASSNOTREG;
             UpdateFirmware(d);
         },
         "COM Querant can't be created.Class not registered"},
        {"hardware value", device, FailThen("poller.get 192.168.1.20", E_FAIL, "no answer", UpdateFirmware),
         "COM Querant can't be created.no answer"},
        {"opening the version dialog", device, FailThen("version.name", E_FAIL, "no name", UpdateFirmware),
         "COM Flashkit access error(select version).no name"},
        {"compatible versions", device, FailThen("version.exists", E_FAIL, "no file", UpdateFirmware),
         "COM Flashkit access error(show compatible version).no file"},
        {"all versions", device,
         [](CVistrelDlg& d) {
             mfc::test::ScriptModal<CSelectVersionDlg>([](CSelectVersionDlg& v) {
                 Fail("version.exists", E_FAIL, "no file");
                 mfc::test::Click(v, IDC_SHOW_ALL_VERSIONS);
             });
             UpdateFirmware(d);
         },
         "COM Flashkit access error(show all version).no file", "Advanced Feature=1\n"},
        {"choosing a version", device,
         [](CVistrelDlg& d) {
             UpdateFirmwareChoosing(d, [](CSelectVersionDlg&) { Fail("unit.check_update", E_FAIL, "no check"); });
         },
         "COM Flashkit access error(select version).no check"},
        {"writing", device,
         [](CVistrelDlg& d) {
             Fail("unit.download3", E_FAIL, "no write");
             UpdateFirmwareChoosing(d, nullptr);
         },
         "COM Flashkit access error(update).no write"},
    };
    for (const auto& c : cases) {
        ScopedIni ini("[Configuration]\nSCR Refresh Period=100000\nveltrixmon log=1\n" + c.ini +
                      "[Default Columns]\nUptime=D,1.3.6.1.2.1.1.3.0\nName=S,1.3.6.1.2.1.1.5.0\n"
                      "[Start Up Columns]\nUptime=50\n");
        FakeServers servers;
        World().adapterNames = {"eth0", "eth1"};
        World().adapters["eth1"];
        EXPECT_EXIT(RunMain(c), ::testing::ExitedWithCode(1), HasSubstr("box: Vistrel: " + c.message + "\n")) << c.what;
        EXPECT_THAT(LogText(), HasSubstr(" " + c.message + "\n")) << c.what;
    }
}

TEST(Fatal, DiscoveryCreationFailureIsLoggedTwice)
{
    ScopedIni ini("[Configuration]\nveltrixmon log=1\n");
    FakeServers servers;
    EXPECT_EXIT(RunMain({"creation", [] { World().managerCreation = E_ACCESSDENIED; }, nullptr, ""}),
                ::testing::ExitedWithCode(1), HasSubstr("COM Scoutline can't be created.General access denied error"));
    EXPECT_THAT(LogText(),
                ContainsRegex(" COM Scoutline can't be created\\.\n.* COM Scoutline can't be created\\."
                              "General access denied error\n"));
}

namespace {

// Timer events of the firmware read's progress dialog once counting starts.
int progress_ticks = -1;

struct ProgressTicks : QObject {
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (progress_ticks >= 0 && event->type() == QEvent::Timer) {
            auto* timer = qobject_cast<QTimer*>(object);
            auto* owner = timer ? qobject_cast<QWidget*>(timer->parent()) : nullptr;
            if (owner && owner->windowTitle().endsWith(" - Upload Firmware"))
                ++progress_ticks;
        }
        return false;
    }
};

// Reports every box on stderr. Under the first one the firmware job fails
// too, and the box is answered only once the progress dialog's timer has
// gone off three times under it; any later box is answered at once.
void WatchTheFirstBoxWhileTheJobFails()
{
    qApp->installEventFilter(new ProgressTicks);
    WatchMessageBoxes(stderr, [](int box, bool appeared) {
        if (box == 1 && appeared) {
            Fail("job.done", E_FAIL, "lost job");
            progress_ticks = 0;
        }
        return box > 1 || progress_ticks >= 3;
    });
}

} // namespace

// A command fails while the timer's failure shows its box: one box, and
// the program ends when it is answered.
TEST(Fatal, OneBoxWhenACommandFailsUnderTheTimersBoxAndNoLogWhenLoggingIsOff)
{
    ScopedIni ini("[Configuration]\nSCR Refresh Period=10\n");
    FakeServers servers;
    auto run = [] {
        CVistrelApp app;
        WatchTheFirstBoxWhileTheJobFails();
        World().adapters["eth0"].devices["00602b000001"] = {"192.168.1.20", 0};
        World().jobDone = 0; // the read goes on until the program ends
        CVistrelDlg dialog;
        app.m_pMainWnd = &dialog;
        mfc::test::ScriptModal<CVistrelDlg>([](CVistrelDlg& d) {
            PumpUntil([&] { return d.List()->GetItemCount() == 1; });
            mfc::test::ClickListRow(d.List(), 0);
            // Once the read shows its progress, the discovery server fails.
            mfc::test::ScriptModal<CProgressDlg>(
                [](CProgressDlg&) { Fail("adapter.device_first", HRESULT(0x80010108)); });
            EXPECT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&Update Firmware...")) << "grey";
            PumpUntil([] { return false; }, 60000);
            d.EndDialog(IDCANCEL);
        });
        dialog.DoModal();
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(1),
                ::testing::AllOf(HasSubstr("box: Vistrel: COM Scoutline, device access error(device update). "
                                           "The object invoked has disconnected from its clients.\n"),
                                 Not(ContainsRegex("box:.*box:"))));
    EXPECT_FALSE(std::filesystem::exists(GetProgramDirectory() + "vistrel.log"));
}
