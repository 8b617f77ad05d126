// The main device dialog and the configuration entry point, offscreen,
// against devices served by snmpd in the test's own network namespace; and
// the Save Reports dialog going while its worker waits for the GUI thread.
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/resources.h>
#include <mfc/test_hooks.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "LaunchDevice.h"
#include "ManagementDlg.h"
#include "SaveReportsDlg.h"
#include "device_agent.h"
#include "gui_test.h"
#include "resource.h"

using namespace mib;
using tdtest::DeviceAgent;
using tdtest::DeviceProfile;
using tdtest::E;
using tdtest::Instance;
using tdtest::TestBlock;

namespace {

const char kMain[] = "127.0.0.21";      // 2 tx, 2 rx; Tx 2's bundle refuses writes
const char kBadBundle[] = "127.0.0.25"; // Tx 1's bundle is 70000
const char kBadLocked[] = "127.0.0.26"; // the same, persistence not writable
const char kNoMac[] = "127.0.0.27";     // no ifPhysAddress.1
const char kStopping[] = "127.0.0.28";  // stopped during a test
const char kSilent[] = "127.0.0.60";    // no agent

// The main dialog with the dialogs it opens recorded instead of shown.
class TestDlg : public CManagementDlg {
public:
    std::vector<std::string> opened;
    std::function<void(CDeviceMib&, int x)> whileOpen;
    CListCtrl& ListCtrl() { return *List(); }

protected:
    INT_PTR Record(const std::string& what, int x)
    {
        opened.push_back(what);
        if (whileOpen)
            whileOpen(Mib(), x);
        return IDOK;
    }
    INT_PTR RunTransmitterDialog(int x) override { return Record("Tx " + std::to_string(x), x); }
    INT_PTR RunReceiverDialog(int x) override { return Record("Rx " + std::to_string(x), x); }
    INT_PTR RunAdvancedDialog() override { return Record("Advanced", 0); }
    INT_PTR RunReportDialog() override { return Record("Report", 0); }
    INT_PTR RunSnmpDialog() override { return Record("SNMP", 0); }
};

class Dialog : public tdtest::AgentSuite<Dialog> {
public:
    static std::vector<DeviceProfile> Profiles()
    {
        return {
            {kMain, 2, 2, {{Instance(E + ".7.1.1.2", 2), "integer", "1002", "wrong-value"}}, {}},
            {kBadBundle, 2, 1, {{Instance(E + ".7.1.1.2", 1), "integer", "70000", "rw"}}, {}},
            {kBadLocked,
             2,
             1,
             {{Instance(E + ".7.1.1.2", 1), "integer", "70000", "rw"}, {E + ".2.7.0", "integer", "1", "ro"}},
             {}},
            {kNoMac, 1, 1, {}, {"1.3.6.1.2.1.2.2.1.6.1"}},
            {kStopping, 1, 1, {}, {}},
        };
    }

protected:
    // Prepares the dialog for `ip` and runs it with `script` in its modal loop.
    INT_PTR Run(TestDlg& dlg, const LaunchBlock& block, std::function<void(TestDlg&)> script)
    {
        EXPECT_EQ(PrepareManagementDlg(dlg, block), LAUNCH_OK);
        if (script)
            mfc::test::ScriptModal<TestDlg>(std::move(script));
        return dlg.DoModal();
    }
    std::vector<mfc::test::MessageBoxRecord>& Boxes() { return mfc::test::MessageBoxLog(); }

    mfc::test::ScopedHooks hooks;
};

TEST_F(Dialog, LaunchTakesItsSettingsFromTheBlockCopy)
{
    TestDlg dlg;
    LaunchBlock block = TestBlock(kMain);
    block.Timeout = 15000;
    block.Retries = 3;
    block.Delay = 200;
    block.MacAddress = "caller's";
    ASSERT_EQ(PrepareManagementDlg(dlg, block), LAUNCH_OK);
    EXPECT_EQ(dlg.Mib().Session().GetTimeout(), 1500);
    EXPECT_EQ(dlg.Mib().Session().GetRetries(), 3);
    EXPECT_EQ(dlg.Mib().GetDelay(), 80u);
    EXPECT_STREQ(dlg.Mac(), "00602BFD0015");
    EXPECT_STREQ(dlg.MacColon(), "00:60:2B:FD:00:15");
    const LaunchBlock& copy = dlg.Block();
    EXPECT_NE(copy.IpAddress, block.IpAddress);
    EXPECT_STREQ(copy.IpAddress, kMain);
    EXPECT_EQ(copy.MacAddress, dlg.Mac());
    EXPECT_EQ(copy.DeviceMib, &dlg.Mib());
}

TEST_F(Dialog, ButtonsOpenTheirDialogsForTheSelectedBundle)
{
    TestDlg dlg;
    dlg.whileOpen = [](CDeviceMib& mib, int x) { mib.Set(rxBundle, 777, x); };
    Run(dlg, TestBlock(kMain), [&](TestDlg& d) {
        CListCtrl& list = d.ListCtrl();
        mfc::test::Click(d, IDC_CONFIGURE); // nothing selected
        mfc::test::ClickListRow(&list, 0);
        mfc::test::ClickListRow(&list, 3, true);
        mfc::test::Click(d, IDC_CONFIGURE); // two selected
        ASSERT_EQ(Boxes().size(), 2u);
        for (const auto& box : Boxes())
            EXPECT_EQ(box.text, "One selection (only) required");
        EXPECT_TRUE(d.opened.empty());

        mfc::test::ClickListRow(&list, 3);
        mfc::test::Click(d, IDC_CONFIGURE);
        EXPECT_EQ(list.GetItemText(3, 0), "777"); // the bundle as the dialog left it in the cache
        mfc::test::DoubleClickListRow(&list, 1);
        mfc::test::Click(d, IDC_ADVANCED);
        mfc::test::Click(d, IDC_REPORT);
        mfc::test::Click(d, IDC_SNMP);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(dlg.opened, (std::vector<std::string>{"Rx 1", "Tx 1", "Advanced", "Report", "SNMP"}));
}

TEST_F(Dialog, BundleNumbersAreEditedInPlaceAndWritten)
{
    DeviceAgent& agent = Agent(kMain);
    const size_t before = agent.Sets().size();
    TestDlg dlg;
    Run(dlg, TestBlock(kMain), [&](TestDlg& d) {
        CListCtrl& list = d.ListCtrl();
        auto edit = [&](int row, const std::string& text) {
            mfc::test::ClickListRow(&list, row);
            CEdit* e = list.EditLabel(row);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->GetLimitText(), 5u);
            mfc::test::TypeText(e, text);
            mfc::test::PressKey(e, VK_RETURN);
        };
        edit(2, "4242");
        edit(2, "4242"); // unchanged: nothing sent
        for (const char* bad : {"65536", "-1", "12a", ""})
            edit(0, bad);
        EXPECT_EQ(tdtest::Shown(), std::vector<std::string>(4, "Invalid Bundle Number | Error"));
        EXPECT_EQ(list.GetItemText(0, 0), "1001");

        // Tx 2's bundle is refused by the device: retried once, then given up.
        mfc::test::PushMessageBoxAnswer(IDYES);
        mfc::test::PushMessageBoxAnswer(IDNO);
        edit(1, "55");
        EXPECT_EQ(tdtest::Shown(), std::vector<std::string>(2, "Could Not Write Bundle; Retry?\n | Error"));

        // Refresh reads the list again from the device.
        mfc::test::Click(d, IDC_REFRESH);
        EXPECT_EQ(list.GetItemText(2, 0), "4242");
        EXPECT_EQ(list.GetItemText(1, 0), "1002");
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(agent.SetsSince(before), std::vector<std::string>{Instance(E + ".6.1.1.2", 1) + " integer 4242"});
}

TEST_F(Dialog, InvalidBundleOffersFactoryDefaultsAndCloses)
{
    const std::string question = "Invalid Values Detected!!\nDo you wish to restore factory defaults?";
    const struct {
        const char* address;
        std::vector<int> answers;
        std::vector<std::string> boxes;
        size_t writes;
    } cases[] = {
        {kBadBundle, {IDNO}, {question}, 0},
        {kBadBundle, {IDYES}, {question, "Persistence Disabled\nPlease reset device to restore defaults"}, 1},
        // Not writable: the failure is offered for a retry, the success never reported.
        {kBadLocked,
         {IDYES, IDYES, IDNO},
         {question, "Could Not Write All Variables\n\n                    Retry ?",
          "Could Not Write All Variables\n\n                    Retry ?"},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + std::to_string(c.answers.size()) + " answers");
        Boxes().clear();
        for (int answer : c.answers)
            mfc::test::PushMessageBoxAnswer(answer);
        DeviceAgent& agent = Agent(c.address);
        const size_t sets = agent.Sets().size();
        TestDlg dlg;
        EXPECT_EQ(Run(dlg, TestBlock(c.address), nullptr), IDCANCEL);
        std::vector<std::string> shown;
        for (const auto& box : Boxes())
            shown.push_back(box.text);
        EXPECT_EQ(shown, c.boxes);
        EXPECT_EQ(agent.SetsSince(sets), std::vector<std::string>(c.writes, E + ".2.7.0 integer 0"));
    }
}

TEST_F(Dialog, ReadFailuresOfferARetryAndCloseTheDialog)
{
    TestDlg dlg;
    // The first reads have the usual time for an answer from a busy
    // machine; those after the agent stopped fail soon.
    const INT_PTR result = Run(dlg, TestBlock(kStopping), [&](TestDlg& d) {
        Agent(kStopping).Stop();
        d.Mib().Session().SetTimeout(20);
        d.Mib().Session().SetRetries(0);
        mfc::test::PushMessageBoxAnswer(IDYES);
        mfc::test::PushMessageBoxAnswer(IDNO);
        mfc::test::Click(d, IDC_REFRESH);
    });
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(Boxes().size(), 2u);
    for (const auto& box : Boxes()) {
        EXPECT_EQ(box.text, "Could Not Read All Values\n    Retry?");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
    }
}

TEST_F(Dialog, UninitialisedDialogSaysSoAndCloses)
{
    TestDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Dialog has not been initialized");
    EXPECT_EQ(Boxes()[0].caption, "Error");
}

// The entry point as the console calls it: the library loaded by name.
class Entry : public Dialog {
protected:
    void SetUp() override
    {
        Dialog::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(library.Load("RunTunedeck"));
        run = library.run;
    }
    tdtest::LoadedEntry library;
    LaunchEntryFn run = nullptr;
};

TEST_F(Entry, ResultCodesAndTheCallersBlockLeftAlone)
{
    const std::string longIp(64, '1');
    const struct {
        const char* what;
        std::function<void(LaunchBlock&)> change;
        int result;
    } cases[] = {
        {"no GetFirst, no IP",
         [](LaunchBlock& b) {
             b.GetFirst = nullptr;
             b.IpAddress = nullptr;
         },
         LAUNCH_NO_GETFIRST},
        {"no GetNext", [](LaunchBlock& b) { b.GetNext = nullptr; }, LAUNCH_NO_GETNEXT},
        {"no IP", [](LaunchBlock& b) { b.IpAddress = nullptr; }, LAUNCH_NO_IP},
        {"empty IP", [](LaunchBlock& b) { b.IpAddress = ""; }, LAUNCH_NO_IP},
        {"IP 0.0.0.0", [](LaunchBlock& b) { b.IpAddress = "0.0.0.0"; }, LAUNCH_NO_IP},
        {"IP of 64 characters", [&](LaunchBlock& b) { b.IpAddress = longIp.c_str(); }, LAUNCH_NO_IP},
        {"silent device",
         [](LaunchBlock& b) {
             b.IpAddress = kSilent;
             b.Timeout = 200;
         },
         LAUNCH_NOT_INITIALIZED},
        {"wrong community",
         [](LaunchBlock& b) {
             b.ReadCommunity = "public";
             b.Timeout = 200;
         },
         LAUNCH_NOT_INITIALIZED},
        {"no MAC address", [](LaunchBlock& b) { b.IpAddress = kNoMac; }, LAUNCH_NO_MAC},
        {"null block", nullptr, LAUNCH_NO_GETFIRST},
        // The dialog closes at its start (factory defaults refused): still launched.
        {"dialog closed at its start",
         [](LaunchBlock& b) {
             b.IpAddress = kBadBundle;
             mfc::test::PushMessageBoxAnswer(IDNO);
         },
         LAUNCH_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LaunchBlock block = TestBlock(kMain);
        if (c.change)
            c.change(block);
        const LaunchBlock before = block;
        EXPECT_EQ(run(c.change ? &block : nullptr), c.result);
        EXPECT_EQ(0, std::memcmp(&before, &block, sizeof block));
        // Nothing is shown before the device is open.
        EXPECT_EQ(mfc::test::ModalLog().empty(), c.result != LAUNCH_OK);
        EXPECT_EQ(Boxes().empty(), c.result != LAUNCH_OK);
    }
}

// The console's list, read by a selection callback from the report worker:
// through the GUI thread, which the worker waits for, as the console's own
// callbacks do.
constexpr UINT IDD_LIST_CONSOLE = 4200;
constexpr int IDC_CONSOLE_LIST = 4201;
CListCtrl* g_consoleList = nullptr;
std::atomic<bool> g_inCallback{false};
std::atomic<bool> g_callbackServed{false};

int ReadConsoleList(const char** ip, int)
{
    *ip = nullptr;
    g_inCallback = true;
    g_inCallback.notify_all();
    g_consoleList->GetItemCount();
    g_callbackServed = true;
    return LAUNCH_SELECT_END;
}

// The Save Reports dialog goes (the program ends during a run) while its
// worker waits in a callback for the GUI thread: the stop serves it.
TEST(SaveReports, GoesWhileItsWorkerWaitsForTheGuiThread)
{
    mfc::test::ScopedHooks hooks;
    mfc::DlgTemplate t;
    t.caption = "Console";
    t.cx = 200;
    t.cy = 100;
    t.items = {mfc::rc::Control("", IDC_CONSOLE_LIST, WC_LISTVIEW, LVS_REPORT, 5, 5, 190, 90)};
    mfc::RegisterDialogTemplate(IDD_LIST_CONSOLE, t);
    LaunchBlock block = TestBlock("127.0.0.1");
    block.GetFirst = ReadConsoleList;
    block.GetNext = ReadConsoleList;
    // A stop that does not serve the callback never returns.
    std::promise<void> stopped;
    std::thread watchdog([ended = stopped.get_future()] {
        if (ended.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
            std::fputs("The dialog's stop did not return: deadlocked with its worker\n", stderr);
            std::_Exit(1);
        }
    });
    mfc::test::ScriptModal(IDD_LIST_CONSOLE, [&](CDialog& console) {
        g_consoleList = static_cast<CListCtrl*>(console.GetDlgItem(IDC_CONSOLE_LIST));
        {
            CSaveReportsDlg reports;
            reports.SetBlock(block);
            EXPECT_EQ(reports.StartWorker(), 0);
            reports.Worker().Run("unused", false);
            // No event is served from here on but by the dialog's stop.
            g_inCallback.wait(false);
        }
        console.EndDialog(IDOK);
    });
    CDialog console(IDD_LIST_CONSOLE);
    console.DoModal();
    stopped.set_value();
    watchdog.join();
    EXPECT_TRUE(g_callbackServed);
}

} // namespace
