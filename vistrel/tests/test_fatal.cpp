// The console's failure policy: a failed server call shows the caller's text
// and the server's error text once, logs it when logging is on, and ends the
// program with status 1.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/test_hooks.h>
#include <qm/log_file.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
};

void RunMain(const FatalCase& c)
{
    CVistrelApp app; // reads the log switch as at program start
    WatchMessageBoxes(stderr);
    if (c.before)
        c.before();
    CVistrelDlg dialog;
    app.m_pMainWnd = &dialog;
    mfc::test::ScriptModal<CVistrelDlg>([&](CVistrelDlg& d) {
        if (c.during)
            c.during(d);
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

} // namespace

TEST(Fatal, EveryFailingServerCallShowsItsTextAndEndsWithStatus1)
{
    auto device = [] { World().adapters["eth0"].devices["aa"] = {"10.0.0.1", 0}; };
    const FatalCase cases[] = {
        {"poller creation", [] { World().pollerCreation = REGDB_E_CLASSNOTREG; }, nullptr,
         "COM Querant can't be created.Class not registered"},
        {"discovery creation", [] { World().managerCreation = REGDB_E_CLASSNOTREG; }, nullptr,
         "COM Scoutline can't be created.Class not registered"},
        {"adapter list", [] { Fail("manager.adapters", E_FAIL, "no adapter list"); }, nullptr,
         "COM Scoutline access error(get IP).no adapter list"},
        {"current adapter", [] { Fail("adapter.put_ip_start", E_FAIL); }, nullptr,
         "COM Scoutline access error(adapter_get). Unspecified error"},
        {"start", [] { Fail("adapter.start", E_FAIL, "cannot open"); }, nullptr,
         "COM Scoutline access error(start).cannot open"},
        {"device walk", nullptr,
         [](CVistrelDlg& d) {
             Fail("adapter.device_first", HRESULT(0x800706BA));
             Tick(d);
         },
         "COM Scoutline, device access error(device update). The RPC server is unavailable."},
        {"watch", device,
         [](CVistrelDlg& d) {
             Fail("poller.watch", DISP_E_EXCEPTION, "Unknown error in Ccom_manager::watch().");
             Tick(d);
         },
         "COM Querant access error(watch).Unknown error in Ccom_manager::watch()."},
        {"changes", device,
         [](CVistrelDlg& d) {
             Fail("poller.get_device_changes", E_OUTOFMEMORY);
             Tick(d);
         },
         "COM Querant access error(device update).Ran out of memory"},
        {"watch size", nullptr,
         [](CVistrelDlg& d) {
             Fail("poller.watch_size", HRESULT(0x80040205));
             Tick(d);
         },
         "COM Querant access error(update view).IDispatch error #5"},
        {"refresh", nullptr,
         [](CVistrelDlg& d) {
             Fail("poller.clear_watch", HRESULT(0x80001234));
             d.SendMessage(WM_COMMAND, ID_VIEW_REFRESH);
         },
         "COM Querant access error(refresh).Unknown error 0x80001234"},
        {"new address", device,
         [](CVistrelDlg& d) {
             Tick(d);
             Fail("adapter.device_get", E_FAIL, "gone");
             d.View().SetDeviceAddress("aa", ParseIp("10.0.0.2"));
         },
         "COM Scoutline access error(set device IP).gone"},
    };
    for (const auto& c : cases) {
        ScopedIni ini("[Configuration]\nSCR Refresh Period=100000\nveltrixmon log=1\n"
                      "[Default Columns]\nUptime=D,1.3.6.1.2.1.1.3.0\n[Start Up Columns]\nUptime=50\n");
        FakeServers servers;
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

TEST(Fatal, OneBoxWhileTheTimerGoesOnAndNoLogWhenLoggingIsOff)
{
    ScopedIni ini("[Configuration]\nSCR Refresh Period=10\n");
    FakeServers servers;
    auto run = [] {
        CVistrelApp app;
        WatchMessageBoxes(stderr, 400); // the box stays up while the 10 ms timer would fire
        Fail("adapter.device_first", HRESULT(0x80010108));
        CVistrelDlg dialog;
        app.m_pMainWnd = &dialog;
        dialog.DoModal();
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(1),
                ::testing::AllOf(HasSubstr("box: Vistrel: COM Scoutline, device access error(device update). "
                                           "The object invoked has disconnected from its clients.\n"),
                                 Not(ContainsRegex("box:.*box:"))));
    EXPECT_FALSE(std::filesystem::exists(GetProgramDirectory() + "vistrel.log"));
}
