// End to end on a private segment: the console in one network namespace
// with the real discovery server (started through its registered class) and
// the real poller; simulated devices, with their SNMP agents, on the other
// end of a veth pair. Needs root.
#include "support/console_segment.h"

#include "VistrelDlg.h"
#include "IpAssignDlg.h"
#include "VistrelApp.h"
#include "resource.h"

#include <mfc/test_hooks.h>
#include <prefwell/RegSettings.h>

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace std::chrono_literals;
using namespace vistrel_test;
using vx::test::netns_pair;

namespace {

const char* const adapter_name = "[0] vxc0";
const std::string octets = "1.3.6.1.2.1.2.2.1.10.1"; // ifInOctets of loopback: a live Counter32
const std::string sys_name = "1.3.6.1.2.1.1.5.0";

// The poller's wait for an answer, the console's own default: the silent
// device and the address a device left are waited for on the way, and a
// late answer only costs a poll period, as every cell is read again until
// its value comes.
constexpr int poll_wait_ms = 3000;

std::string ConsoleIni(int refreshMs)
{
    return "[Configuration]\nSCR Refresh Period=" + std::to_string(refreshMs) +
        "\nAge To Die=10000\nveltrixmon log=1\nAdapter Index=" + adapter_name +
        "\n[Adapter List]\nAdapter 0=" + adapter_name +
        "-----192.168.79.100,192.168.79.150,1\n"
        "[Poller]\nTimeout=" +
        std::to_string(poll_wait_ms) +
        "\nRetry Count=0\n"
        "[Default Columns]\nOctets=D,1.3.6.1.2.1.2.2.1.10.1\nName=S,1.3.6.1.2.1.1.5.0\n"
        "[Start Up Columns]\nOctets=70\nName=90\n";
}

std::string PlainMac(std::string colon)
{
    colon.erase(std::remove(colon.begin(), colon.end(), ':'), colon.end());
    return colon;
}

// The segment, the servers' registration and the device simulator.
class ConsoleNetns : public ConsoleSegment {
protected:
    ConsoleNetns() : ConsoleSegment("vxc0", "vxd0") {}

    void SetUp() override
    {
        ConsoleSegment::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::ofstream(box->root + "/bin/VXHistory.ini") << "[Timeouts]\nARPSleepMS=10\n";
    }

    // Four devices of four families: 0 and 1 start with 192.168.79.20 and
    // .21, 2 and 3 without an address; 3 never answers SNMP.
    void StartDevices(bool fixedAddresses = true)
    {
        std::vector<std::string> argv = {
            vx::test::devsim_path(),     "--interface", "vxd0",         "-n", "4", "--families",
            "alder,birch,cedar,dogwood", "--fault",     "3=snmp-silent"};
        if (fixedAddresses)
            argv.insert(argv.end(), {"--ip", "0=192.168.79.20", "--ip", "1=192.168.79.21"});
        sim = pair->spawn(netns_pair::b, argv);
        ASSERT_TRUE(sim->wait_for_line("started", 30s)) << "devsim did not start";
        macs.clear();
        for (int i = 0; i < 4; ++i) {
            auto line = sim->wait_for_line("device " + std::to_string(i) + " ", 30s);
            ASSERT_TRUE(line);
            std::istringstream in(*line);
            std::string word, k, mac;
            in >> word >> k >> mac;
            macs.push_back(PlainMac(mac));
        }
    }

    std::vector<std::string> macs;
};

std::string ColonMac(const std::string& plain)
{
    std::string colon;
    for (size_t i = 0; i < plain.size(); i += 2)
        colon += (i ? ":" : "") + plain.substr(i, 2);
    return colon;
}

std::string Cell(CVistrelDlg& d, const std::string& mac, int column) { return CellOf(d.List(), 1, mac, column); }

long WatchSize(CVistrelDlg& d)
{
    long size = -1;
    d.View().Poller()->get_watch_size(&size);
    return size;
}

bool IsNumber(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The configuration library's time-out (milliseconds) as the options
// program keeps it for the console.
void SaveConfigureTimeout(int ms)
{
    CRegSettings settings;
    settings.CreateKey();
    settings.Load();
    settings.SetTimeout(ms);
    ASSERT_EQ(settings.Save(), 0);
}

} // namespace

TEST_F(ConsoleNetns, ShowsAssignsPollsCopiesAndKeepsItsSettings)
{
    vx::test::netns_scope inside(pair->ns(netns_pair::a));
    ASSERT_TRUE(inside.ok());
    StartDevices();
    ScopedIni ini(ConsoleIni(200));
    const std::string moved = "192.168.79.140";

    RunMainDialog([&](CVistrelDlg& d) {
        // Every device listed with an address: two announced, two assigned from the range.
        ASSERT_TRUE(PumpUntil(
            [&] {
                for (const auto& m : macs) {
                    if (Cell(d, m, 2).empty() || Cell(d, m, 2) == "0.0.0.0")
                        return false;
                }
                return true;
            },
            60000))
            << "devices did not all get listed with addresses";
        EXPECT_EQ(Cell(d, macs[0], 2), "192.168.79.20");
        EXPECT_EQ(Cell(d, macs[2], 2).rfind("192.168.79.1", 0), 0u) << Cell(d, macs[2], 2);
        EXPECT_TRUE(PumpUntil([&] { return ItemText(d, IDC_ACTIVE_COUNT) == "Active: 4"; }));
        EXPECT_EQ(ItemText(d, IDC_DEVICE_COUNT), "Devices: 4");
        EXPECT_EQ(ItemText(d, IDC_DEAD_COUNT), "Dead: 0");

        // Polled cells: the counter's increase and the name, read once;
        // the silent device's name stays watched.
        EXPECT_TRUE(PumpUntil(
            [&] {
                const std::string count = Cell(d, macs[0], 3);
                return IsNumber(count) && count != "0" && Cell(d, macs[1], 4) == "birch-1" &&
                    Cell(d, macs[2], 4) == "cedar-2";
            },
            60000))
            << Cell(d, macs[0], 3) << " / " << Cell(d, macs[1], 4) << " / " << Cell(d, macs[2], 4);
        EXPECT_TRUE(PumpUntil([&] { return WatchSize(d) == 5; }, 30000))
            << "four counters and one unanswered name: " << WatchSize(d);
        EXPECT_FALSE(IsNumber(Cell(d, macs[3], 3))) << "the silent device shows the failure";

        // A new address through the IP Assignment dialog.
        mfc::test::ClickListRow(d.List(), RowOf(d.List(), 1, macs[2]));
        mfc::test::ScriptModal<CIpAssignDlg>([&](CIpAssignDlg& ip) {
            for (int f = 0; f < 4; ++f)
                mfc::test::SetIpField(ip.GetDlgItem(IDC_NEW_ADDRESS), f,
                                      f == 3 ? "140" : std::to_string(ParseIp(moved).bytes[f]));
            mfc::test::Click(ip, IDOK);
        });
        d.SendMessage(WM_COMMAND, ID_NEW_IP_ADDRESS);
        EXPECT_TRUE(PumpUntil([&] { return Cell(d, macs[2], 2) == moved; }, 30000)) << Cell(d, macs[2], 2);
        EXPECT_TRUE(sim->wait_for_line("assigned " + ColonMac(macs[2]) + " " + moved, 30s));
        EXPECT_TRUE(PumpUntil([&] { return Cell(d, macs[2], 4) == "cedar-2" && WatchSize(d) == 5; }, 30000))
            << "read again at its new address: " << Cell(d, macs[2], 4);

        // Copy in the clipboard format.
        d.List()->SetFocus();
        mfc::test::PressKey(d.List(), 'A', true);
        mfc::test::PressKey(d.List(), 'C', true);
        const std::string copied = QGuiApplication::clipboard()->text().toStdString();
        std::string expected;
        d.View().CopyText(expected);
        EXPECT_EQ(copied, expected);
        EXPECT_EQ(copied.rfind("S,MAC Address,IP Address,Octets,Name,\r\n,,," + octets + "," + sys_name + ",\r\n", 0),
                  0u)
            << copied;
        EXPECT_NE(copied.find("1," + macs[1] + ",192.168.79.21,"), std::string::npos) << copied;
        EXPECT_NE(copied.find(",birch-1,\r\n"), std::string::npos) << copied;

        // Silent devices turn dead; back again they are active.
        sim.reset();
        EXPECT_TRUE(PumpUntil([&] { return ItemText(d, IDC_DEAD_COUNT) == "Dead: 4"; }, 60000))
            << ItemText(d, IDC_DEAD_COUNT);
        EXPECT_EQ(ItemText(d, IDC_ACTIVE_COUNT), "Active: 0");
        StartDevices();
        EXPECT_TRUE(PumpUntil([&] { return ItemText(d, IDC_ACTIVE_COUNT) == "Active: 4"; }, 60000))
            << ItemText(d, IDC_ACTIVE_COUNT);

        mfc::test::DragColumnWidth(d.List(), 4, 123);
        d.CloseAndSave();
    });
    const std::string saved = ScopedIni::Read();
    EXPECT_NE(saved.find("[Start Up Columns]\nOctets=70\nName=123\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(std::string("Adapter 0=") + adapter_name + "-----192.168.79.100,192.168.79.150,1"),
              std::string::npos)
        << saved;

    // The next start has the same columns and widths.
    RunMainDialog([&](CVistrelDlg& d) {
        ASSERT_EQ(d.List()->GetHeaderCtrl()->GetItemCount(), 5);
        EXPECT_EQ(d.List()->GetColumnWidth(3), 70);
        EXPECT_EQ(d.List()->GetColumnWidth(4), 123);
        EXPECT_TRUE(PumpUntil([&] { return Cell(d, macs[2], 2) == moved; }, 30000));
        d.CloseAndSave();
    });
    // Released by the console, the server saves its address history and ends.
    EXPECT_GE(box->wait_for_exit(60s).count(), 0);
    const std::string history = box->file("VXHistory.ini");
    EXPECT_NE(history.find(macs[2] + "=" + moved), std::string::npos) << history;
}

// Configure from the console: the configuration library, found beside the
// program, opens the selected device over the segment in its dialog; a device
// that does not answer SNMP gives the library's message.
TEST_F(ConsoleNetns, ConfigureOpensTheSelectedDevice)
{
    const int deviceAddressControl = 1001; // the configuration dialog's IP address control
    vx::test::netns_scope inside(pair->ns(netns_pair::a));
    ASSERT_TRUE(inside.ok());
    StartDevices();
    ScopedIni ini(ConsoleIni(200));
    mfc::test::ScopedHooks hooks;

    RunMainDialog([&](CVistrelDlg& d) {
        ASSERT_TRUE(PumpUntil(
            [&] {
                const std::string silent = Cell(d, macs[3], 2);
                return Cell(d, macs[0], 2) == "192.168.79.20" && silent.rfind("192.168.79.", 0) == 0 &&
                    ItemText(d, IDC_ACTIVE_COUNT) == "Active: 4";
            },
            60000))
            << "devices did not all get listed with addresses";

        DWORD shown = 0;
        bool opened = false;
        mfc::test::ScriptModal([](CDialog& t) { return std::strcmp(t.GetTemplateName(), "Tunedeck.155") == 0; },
                               [&](CDialog& t) {
                                   opened = true;
                                   static_cast<CIPAddressCtrl*>(t.GetDlgItem(deviceAddressControl))->GetAddress(shown);
                                   mfc::test::Click(t, IDOK);
                               });
        // As long as only a fault waits for the answering device; the least
        // the options allow for the silent one.
        constexpr int briefest_ms = 150;
        SaveConfigureTimeout(10000);
        mfc::test::ClickListRow(d.List(), RowOf(d.List(), 1, macs[0]));
        d.SendMessage(WM_COMMAND, ID_TOOLS_CONFIGURE);
        EXPECT_TRUE(opened);
        EXPECT_EQ(shown, MAKEIPADDRESS(192, 168, 79, 20));
        EXPECT_TRUE(mfc::test::MessageBoxLog().empty());
        ASSERT_FALSE(mfc::test::ModalLog().empty());
        EXPECT_EQ(mfc::test::ModalLog().back().caption, "Veltrix Configuration");

        SaveConfigureTimeout(briefest_ms);
        mfc::test::ClickListRow(d.List(), RowOf(d.List(), 1, macs[3]));
        d.SendMessage(WM_COMMAND, ID_TOOLS_CONFIGURE);
        ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u);
        EXPECT_EQ(mfc::test::MessageBoxLog()[0].caption, "ERROR");
        EXPECT_EQ(mfc::test::MessageBoxLog()[0].text, "Class not initialized");
    });
}

namespace {

// The console program (its unattended form) started inside the namespace.
class ConsoleProcess : public ConsoleNetns {
protected:
    void SetUp() override
    {
        ConsoleNetns::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        namespace fs = std::filesystem;
        for (const char* file : {VISTREL_CAPTURE, MGMTAPI_LIB, SNMPAPI_LIB})
            fs::copy_file(file, box->root + "/bin/" + fs::path(file).filename().string());
        std::ofstream(box->root + "/bin/vistrel.ini") << ConsoleIni(200);
        StartDevices(false);
    }

    std::unique_ptr<vx::test::background_process> Console()
    {
        return pair->spawn(netns_pair::a, {box->root + "/bin/vistrel_capture", "--seconds", "120", "--watch"});
    }

    // Waits until the console lists every device with an assigned address.
    bool AllAssigned(vx::test::background_process& console)
    {
        const auto end = std::chrono::steady_clock::now() + 60s;
        size_t from = 0;
        std::set<std::string> assigned;
        while (std::chrono::steady_clock::now() < end) {
            auto line = console.wait_for_line("row up ", 1s, from);
            if (!line)
                continue;
            from = console.line_count();
            for (const auto& l : console.lines())
                for (const auto& m : macs)
                    if (l.rfind("row up " + m + " 192.168.79.", 0) == 0)
                        assigned.insert(m);
            if (assigned.size() == macs.size())
                return true;
        }
        return false;
    }
};

} // namespace

TEST_F(ConsoleProcess, KilledServerGivesTheFatalBoxAndStatus1)
{
    auto console = Console();
    ASSERT_TRUE(AllAssigned(*console));
    const pid_t server = box->server_pid(5s);
    ASSERT_NE(server, 0);
    kill(server, SIGKILL);
    auto box_line = console->wait_for_line("box: ", 30s);
    ASSERT_TRUE(box_line) << "no message box";
    EXPECT_EQ(box_line->rfind("box: Vistrel: COM Scoutline, device access error(device update). ", 0), 0u) << *box_line;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (console->running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(console->kill(), 1);
    const auto lines = console->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("box: ", 0) == 0; }),
              1)
        << "one box";
    const std::string log = box->file("vistrel.log");
    EXPECT_NE(log.find(" " + box_line->substr(std::string("box: Vistrel: ").size())), std::string::npos) << log;
}

TEST_F(ConsoleProcess, ServerSavesItsHistoryWhenTheConsoleDies)
{
    auto console = Console();
    ASSERT_TRUE(AllAssigned(*console));
    kill(console->pid(), SIGKILL);
    console->kill();
    const auto end = std::chrono::steady_clock::now() + 30s;
    auto saved = [&] {
        const std::string history = box->file("VXHistory.ini");
        for (const auto& m : macs)
            if (history.find(m + "=192.168.79.") == std::string::npos)
                return false;
        return true;
    };
    while (!saved() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(saved()) << box->file("VXHistory.ini");
    EXPECT_GE(box->wait_for_exit(60s).count(), 0) << "the server did not end after its client died";
}
