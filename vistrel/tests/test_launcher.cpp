// The Configure and Report commands of the main dialog against a stand-in
// library: every result code, the launch block as filled from the settings
// store, the selection walk on the GUI thread and from a worker thread while
// the timer runs. The real library is driven end to end in test_netns.cpp.
#include "support/fake_servers.h"
#include "support/launch_probe.h"
#include "support/test_app.h"

#include "ConfigLauncher.h"
#include "LauncherSelect.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/test_hooks.h>

#include <QApplication>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

using namespace vistrel_test;
using launch_probe::Script;
using launch_probe::Step;
using launch_probe::Walk;
using mfc::test::ScopedHooks;

namespace {

const char* const settingsKey = "SOFTWARE\\Quillon\\Tunedeck";

// Rows in MAC order: 0 online without an address, 1 off line, 2 and 3 online.
const char* const macs[] = {"00602b000001", "00602b000002", "00602b000003", "00602b000004"};

void Select(CVistrelDlg& d, const std::vector<int>& rows)
{
    mfc::test::ClickListRow(d.List(), -1);
    for (int row : rows)
        mfc::test::ClickListRow(d.List(), row, true);
}

std::vector<std::string> Box(const std::string& text) { return {"ERROR: " + text}; }

// The settings as the options program saves them.
void SaveSettings(int timeout, int retries, int delay, const std::string& read, const std::string& write, int switches)
{
    CRegSettings settings;
    settings.CreateKey();
    settings.Load();
    settings.SetTimeout(timeout);
    settings.SetRetries(retries);
    settings.SetDelay(delay);
    ASSERT_EQ(settings.SetReadCommunity(read.c_str()), static_cast<int>(read.size() + 1));
    ASSERT_EQ(settings.SetWriteCommunity(write.c_str()), static_cast<int>(write.size() + 1));
    settings.SetSwitches(switches);
    ASSERT_EQ(settings.Save(), 0);
}

bool SettingsKeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, settingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class Launcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, settingsKey);
        launch_probe::Reset();
        ConfigLauncher::UseLibrary(PROBE_LIB);
        FakeAdapter& eth0 = World().adapters["eth0"];
        eth0.devices[macs[0]] = {"0.0.0.0", 0};
        eth0.devices[macs[1]] = {"192.168.1.30", 9000};
        eth0.devices[macs[2]] = {"192.168.1.40", 0};
        eth0.devices[macs[3]] = {"192.168.1.50", 0};
    }
    void TearDown() override
    {
        ConfigLauncher::UseLibrary(nullptr);
        RegDeleteKeyA(HKEY_CURRENT_USER, settingsKey);
    }
    // Runs the main dialog with the devices listed.
    void WithDevices(const std::function<void(CVistrelDlg&)>& script)
    {
        RunMainDialog([&](CVistrelDlg& d) {
            Tick(d);
            ASSERT_EQ(d.List()->GetItemCount(), 4);
            script(d);
        });
    }

    ScopedIni ini{"[Configuration]\nSCR Refresh Period=100000\n"};
    FakeServers servers;
    ScopedHooks hooks;
};

} // namespace

TEST_F(Launcher, WalkTakesTheFirstSelectedRowThatIsOnLineWithAnAddress)
{
    struct Case {
        const char* name;
        std::vector<int> rows; // selected
        UINT command;
        std::string passed; // IP text the library got; empty: not called
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"all four", {0, 1, 2, 3}, ID_TOOLS_CONFIGURE, "192.168.1.40", {}},
        {"off line first", {1, 3}, ID_TOOLS_CONFIGURE, "192.168.1.50", {}},
        {"no address and off line", {0, 1}, ID_TOOLS_CONFIGURE, "", Box("Invalid Selection")},
        {"none selected", {}, ID_TOOLS_REPORT, "", Box("Invalid Selection")},
        {"report", {1, 2, 3}, ID_TOOLS_REPORT, "192.168.1.40", {}},
    };
    WithDevices([&](CVistrelDlg& d) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            launch_probe::Reset();
            Select(d, c.rows);
            d.SendMessage(WM_COMMAND, c.command);
            EXPECT_EQ(TakeBoxes(), c.boxes);
            if (c.passed.empty()) {
                EXPECT_TRUE(launch_probe::Calls().empty()) << "the library is not called";
                continue;
            }
            ASSERT_EQ(launch_probe::Calls().size(), 1u);
            EXPECT_EQ(launch_probe::Calls()[0].entry,
                      c.command == ID_TOOLS_CONFIGURE ? "RunTunedeck" : "RunVeltrixReport");
            EXPECT_EQ(launch_probe::Calls()[0].ip, c.passed);
        }

        // A double click configures the first usable row of a selection of two.
        launch_probe::Reset();
        Select(d, {1, 3});
        mfc::test::DoubleClickListRow(d.List(), 3);
        ASSERT_EQ(launch_probe::Calls().size(), 1u);
        EXPECT_EQ(launch_probe::Calls()[0].ip, "192.168.1.50");

        // The library's own walk: the selected rows with their results, then
        // every row when it asks for all of them.
        launch_probe::Reset();
        launch_probe::Next().walk = Script::OnCaller;
        launch_probe::Next().all = {0, 1};
        launch_probe::Next().again = [](size_t walks, const Walk&) { return walks < 2; };
        Select(d, {0, 1, 3});
        d.SendMessage(WM_COMMAND, ID_TOOLS_REPORT);
        ASSERT_EQ(launch_probe::Calls().size(), 1u);
        const std::vector<Walk> walks = {
            {{5, "<null>"}, {6, "<null>"}, {0, "192.168.1.50"}, {4, "<null>"}},
            {{5, "<null>"}, {6, "<null>"}, {0, "192.168.1.40"}, {0, "192.168.1.50"}, {4, "<null>"}},
        };
        EXPECT_EQ(launch_probe::Calls()[0].walks, walks);
    });
}

TEST_F(Launcher, EveryResultCodeShowsItsText)
{
    const std::vector<std::pair<int, std::string>> texts = {
        {1, "Could Not Load DLL File"},       {2, "Could Not Get DLL Entry Address."},
        {3, "Class not initialized"},         {4, "Invalid Selection"},
        {5, "Selection has no IP address."},  {6, "Selection is Off Line"},
        {7, "No MAC address specified"},      {8, "No GetFirst function specified"},
        {9, "No GetNext function specified"}, {10, "No Configuration object specified"},
        {11, "This function is not enabled"}, {12, "Initialization Error"},
        {-1, "Initialization Error"},
    };
    FakeAdapter& eth0 = World().adapters["eth0"];
    eth0.devices["00602b000010"] = {std::string(63, '7'), 0};
    eth0.devices["00602b000011"] = {std::string(64, '7'), 0};
    eth0.devices["00602b000012"] = {std::string(150, '7'), 0};
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        ASSERT_EQ(d.List()->GetItemCount(), 7);

        // The library's own codes, from either entry point.
        Select(d, {2});
        for (UINT command : {ID_TOOLS_CONFIGURE, ID_TOOLS_REPORT}) {
            for (const auto& [code, text] : texts) {
                launch_probe::Next().result = code;
                d.SendMessage(WM_COMMAND, command);
                EXPECT_EQ(TakeBoxes(), Box(text)) << code;
            }
            launch_probe::Next().result = LAUNCH_OK;
            d.SendMessage(WM_COMMAND, command);
            EXPECT_EQ(TakeBoxes(), std::vector<std::string>{}) << "no box for 0";
        }
        EXPECT_EQ(launch_probe::Calls().size(), 2 * (texts.size() + 1));

        // The console's own codes: the Config switch clear refuses Configure
        // without loading the library; Report has no switch.
        launch_probe::Reset();
        SaveSettings(150, 2, 10, "tagrok", "quenmil", LAUNCH_SWITCH_REPORT | LAUNCH_SWITCH_ADVANCED);
        d.SendMessage(WM_COMMAND, ID_TOOLS_CONFIGURE);
        EXPECT_EQ(TakeBoxes(), Box("This function is not enabled"));
        EXPECT_TRUE(launch_probe::Calls().empty());
        d.SendMessage(WM_COMMAND, ID_TOOLS_REPORT);
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{});
        EXPECT_EQ(launch_probe::Calls().size(), 1u);
        RegDeleteKeyA(HKEY_CURRENT_USER, settingsKey);

        // No library; a library without the entry points.
        ConfigLauncher::UseLibrary("/nonexistent/libtunedeck.so");
        d.SendMessage(WM_COMMAND, ID_TOOLS_CONFIGURE);
        EXPECT_EQ(TakeBoxes(), Box("Could Not Load DLL File"));
        ConfigLauncher::UseLibrary(MFC_LIB);
        d.SendMessage(WM_COMMAND, ID_TOOLS_REPORT);
        EXPECT_EQ(TakeBoxes(), Box("Could Not Get DLL Entry Address."));
        ConfigLauncher::UseLibrary(PROBE_LIB);

        // Address texts of 63 characters go through; 64 and more are
        // refused, also one longer than the dialog's own buffer.
        launch_probe::Reset();
        for (int row : {4, 5, 6}) {
            Select(d, {row});
            d.SendMessage(WM_COMMAND, ID_TOOLS_CONFIGURE);
        }
        EXPECT_EQ(
            TakeBoxes(),
            (std::vector<std::string>{"ERROR: Selection has no IP address.", "ERROR: Selection has no IP address."}));
        ASSERT_EQ(launch_probe::Calls().size(), 1u);
        EXPECT_EQ(launch_probe::Calls()[0].ip, std::string(63, '7'));
    });
}

TEST_F(Launcher, RunChecksTheCallbacksAndTheAddressLength)
{
    static std::string handed;
    static int answer;
    answer = LAUNCH_SELECT_DEVICE;
    const LaunchSelectFn give = [](const char** ip, int) {
        *ip = answer == LAUNCH_SELECT_DEVICE && handed != "<null>" ? handed.c_str() : nullptr;
        return answer;
    };
    ConfigLauncher launcher;
    EXPECT_EQ(launcher.Report(), LAUNCH_NO_GETFIRST);
    launcher.SetGetFirst(give);
    EXPECT_EQ(launcher.Report(), LAUNCH_NO_GETNEXT);
    launcher.SetGetNext(give);

    handed = std::string(63, '1');
    EXPECT_EQ(launcher.Report(), LAUNCH_OK);
    ASSERT_EQ(launch_probe::Calls().size(), 1u);
    EXPECT_EQ(launch_probe::Calls()[0].ip, handed);
    EXPECT_NE(launch_probe::Calls()[0].block.IpAddress, handed.c_str()) << "the library gets a copy";
    EXPECT_EQ(launcher.Block().IpAddress, nullptr) << "which ends with the call";

    for (const std::string& refused : {std::string(64, '1'), std::string("<null>")}) {
        handed = refused;
        EXPECT_EQ(launcher.Report(), LAUNCH_NO_IP);
    }
    answer = LAUNCH_SELECT_END;
    EXPECT_EQ(launcher.Report(), LAUNCH_INVALID_SELECTION);
    EXPECT_EQ(launch_probe::Calls().size(), 1u) << "nothing loaded for a refused selection";
}

TEST_F(Launcher, BlockComesFromTheSettingsStoreReadAtEachCommand)
{
    WithDevices([&](CVistrelDlg& d) {
        Select(d, {2});
        // No key: the store's defaults, and the console creates none.
        d.SendMessage(WM_COMMAND, ID_TOOLS_CONFIGURE);
        EXPECT_FALSE(SettingsKeyExists());
        // Saved by the options program meanwhile: the next command has it,
        // communities of the longest length whole.
        const std::string read(63, 'r'), write(63, 'w');
        SaveSettings(370, 4, 33, read, write, 0x1B);
        d.SendMessage(WM_COMMAND, ID_TOOLS_REPORT);
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{});
    });
    // Timeout, retries, delay, communities and switches as saved; the rest fixed.
    const std::vector<std::string> expected = {
        "RunTunedeck 192.168.1.40 150 2 10 tagrok quenmil 15",
        "RunVeltrixReport 192.168.1.40 370 4 33 " + std::string(63, 'r') + " " + std::string(63, 'w') + " 27",
    };
    std::vector<std::string> blocks;
    for (const launch_probe::Call& call : launch_probe::Calls()) {
        const LaunchBlock& b = call.block;
        blocks.push_back(call.entry + " " + call.ip + " " + std::to_string(b.Timeout) + " " +
                         std::to_string(b.Retries) + " " + std::to_string(b.Delay) + " " + call.readCommunity + " " +
                         call.writeCommunity + " " + std::to_string(b.Switches));
        EXPECT_EQ(b.AllDevices, 0);
        EXPECT_EQ(b.GetFirst, &SelectFirst);
        EXPECT_EQ(b.GetNext, &SelectNext);
        EXPECT_TRUE(b.MacAddress == nullptr && b.DeviceMib == nullptr && b.Reserved == 0);
    }
    EXPECT_EQ(blocks, expected);
}

namespace {

bool HasIp(const Walk& walk, const std::string& ip)
{
    return std::any_of(walk.begin(), walk.end(), [&](const Step& s) { return s.ip == ip; });
}

} // namespace

// The report entry point walks from its worker thread while the console's
// timer goes on refreshing the list under it: a device that only the timer
// can list shows up, and a row inserted before the walk's cursor in the
// middle of a walk neither repeats nor hides a row.
TEST_F(Launcher, ReportWorkerWalksWhileTheTimerRuns)
{
    ScopedIni fast("[Configuration]\nSCR Refresh Period=20\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::atomic<bool> timerListed{false}, inserted{false};
    size_t insertWalk = 0;
    CVistrelDlg* dialog = nullptr;

    Script& script = launch_probe::Next();
    script.walk = Script::OnWorker;
    script.all = {1};
    script.between = [&](size_t walk, size_t index, const Step& step) {
        if (step.ip == "192.168.1.60")
            timerListed = true;
        if (timerListed && !inserted && index == 2) {
            // A new first row, listed at once by a tick on the GUI thread.
            std::promise<void> listed;
            QMetaObject::invokeMethod(
                qApp,
                [&] {
                    World().adapters["eth0"].devices["00602b000000"] = {"192.168.1.10", 0};
                    Tick(*dialog);
                    listed.set_value();
                },
                Qt::QueuedConnection);
            listed.get_future().wait();
            inserted = true;
            insertWalk = walk;
        }
    };
    script.again = [&](size_t, const Walk& walk) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return !HasIp(walk, "192.168.1.10") && std::chrono::steady_clock::now() < deadline;
    };

    RunMainDialog([&](CVistrelDlg& d) {
        dialog = &d;
        Tick(d);
        ASSERT_EQ(d.List()->GetItemCount(), 4);
        // Listed only by a tick that comes while the library runs.
        World().adapters["eth0"].devices["00602b000005"] = {"192.168.1.60", 0};
        Select(d, {2});
        d.SendMessage(WM_COMMAND, ID_TOOLS_REPORT);
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{});
    });

    ASSERT_EQ(launch_probe::Calls().size(), 1u);
    const launch_probe::Call& call = launch_probe::Calls()[0];
    EXPECT_NE(call.walker, std::this_thread::get_id()) << "walked from the worker";
    ASSERT_TRUE(inserted) << "the timer never listed the new device";
    for (const Walk& walk : call.walks) {
        std::multiset<std::string> ips;
        for (const Step& step : walk)
            if (step.result == LAUNCH_SELECT_DEVICE)
                ips.insert(step.ip);
        EXPECT_EQ(std::set<std::string>(ips.begin(), ips.end()).size(), ips.size()) << "a row came twice";
        EXPECT_EQ(walk.back().result, LAUNCH_SELECT_END);
    }
    const Walk during = {{5, "<null>"},       {6, "<null>"},       {0, "192.168.1.40"},
                         {0, "192.168.1.50"}, {0, "192.168.1.60"}, {4, "<null>"}};
    const Walk after = {{0, "192.168.1.10"}, {5, "<null>"},       {6, "<null>"}, {0, "192.168.1.40"},
                        {0, "192.168.1.50"}, {0, "192.168.1.60"}, {4, "<null>"}};
    ASSERT_LT(insertWalk + 1, call.walks.size());
    EXPECT_EQ(call.walks[insertWalk], during);
    EXPECT_EQ(call.walks.back(), after);
}
