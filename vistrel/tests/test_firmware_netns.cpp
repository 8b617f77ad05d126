// Firmware updates end to end on a private segment: the console with the real
// discovery server, poller and firmware server in one network namespace;
// simulated alder and birch devices with flash, TFTP and SNMP on the other
// end of a veth pair. Needs root.
#include "support/console_segment.h"
#include "support/firmware_folder.h"

#include "FirmUpdater.h"
#include "FirmwareResource.h"
#include "ProgressDlg.h"
#include "SelectVersionDlg.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/test_hooks.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace vistrel_test;
using vx::test::netns_pair;
namespace images = devsim::images;

namespace {

const char* const adapter_name = "[0] vxu0";
const int device_count = 4;

std::string Address(int device) { return "192.168.79." + std::to_string(20 + device); }

class FirmwareNetns : public ConsoleSegment {
protected:
    FirmwareNetns() : ConsoleSegment("vxu0", "vxv0") {}

    void SetUp() override
    {
        ConsoleSegment::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_NO_FATAL_FAILURE(RegisterServerLibrary(FLASHKIT_LIB));
        folder = box->root + "/firmware";
        for (images::family f : {images::family::alder, images::family::birch})
            for (images::version_t v : {images::version_t{1, 2, 3}, {1, 3, 0}, {1, 4, 0}})
                WriteFirmware(folder, f, v);

        // Devices 0 and 1 are alders, 2 and 3 birches, all running 1.2.3.
        std::vector<std::string> argv = {
            vx::test::devsim_path(),   "-i",        "vxv0",     "-n",        std::to_string(device_count), "--families",
            "alder,alder,birch,birch", "--ip-base", Address(0), "--control", box->root + "/devsim.sock"};
        for (int k = 0; k < device_count; ++k) {
            argv.push_back("--firmware");
            argv.push_back(std::to_string(k) + "=" + folder + "/" +
                           images::file_name(k < 2 ? images::family::alder : images::family::birch, {1, 2, 3}));
        }
        sim = pair->spawn(netns_pair::b, argv);
        ASSERT_TRUE(sim->wait_for_line("started", 30s)) << "devsim did not start";
    }

    std::string Control(const std::string& command)
    {
        return vx::test::command_output(vx::test::devsim_path() + " control " + box->root + "/devsim.sock " + command);
    }

    std::string folder;
};

TEST_F(FirmwareNetns, HardwareValueIsReadOnceFromTheDevicesAgent)
{
    vx::test::netns_scope inside(pair->ns(netns_pair::a));
    ASSERT_TRUE(inside.ok());
    ScopedIni ini;
    EXPECT_EQ(firm_updater_t::hardware_value(Address(0)), 3) << "alder images before minor 20";
    EXPECT_EQ(firm_updater_t::hardware_value(Address(2)), 1) << "birch images";
    ASSERT_EQ(Control("fault 3 snmp-silent").rfind("ok", 0), 0u);
    EXPECT_EQ(firm_updater_t::hardware_value(Address(3)), -1);
}

// The version a device reports over SNMP, as the console's polled column shows it.
std::string Version(CVistrelDlg& d, int device) { return CellOf(d.List(), 2, Address(device), 3); }

void Select(CVistrelDlg& d, const std::vector<int>& devices)
{
    mfc::test::ClickListRow(d.List(), -1);
    for (int device : devices)
        mfc::test::ClickListRow(d.List(), RowOf(d.List(), 2, Address(device)), true);
}

// Scripts for the next version dialog: it shows the device's version; the
// given version is chosen, with "Apply to all" when asked.
void ChooseVersion(const std::string& running, const std::string& version, bool applyToAll = false)
{
    mfc::test::ScriptModal<CSelectVersionDlg>([=](CSelectVersionDlg& d) {
        EXPECT_EQ(ItemText(d, IDC_CURRENT_VERSION), running);
        auto* list = static_cast<CListBox*>(d.GetDlgItem(IDC_VERSION_LIST));
        mfc::test::ChooseListBoxItems(list, {list->FindStringExact(-1, version.c_str())});
        if (applyToAll)
            mfc::test::Click(d, IDC_APPLY_TO_ALL);
        mfc::test::Click(d, IDC_UPDATE_VERSION);
    });
}

// A script for the next progress dialog (nothing to do: it closes by itself).
void NextProgress(std::function<void(CProgressDlg&)> script = [](CProgressDlg&) {})
{
    mfc::test::ScriptModal<CProgressDlg>(std::move(script));
}

std::vector<std::string> Captions(size_t from)
{
    std::vector<std::string> captions;
    const auto& log = mfc::test::ModalLog();
    for (size_t i = from; i < log.size(); ++i)
        captions.push_back(log[i].caption);
    return captions;
}

TEST_F(FirmwareNetns, UpdatesTheSelectedDevicesCancelsOneAndReportsAFailure)
{
    vx::test::netns_scope inside(pair->ns(netns_pair::a));
    ASSERT_TRUE(inside.ok());
    mfc::test::ScopedHooks hooks;
    const std::string e = "1.3.6.1.4.1.2680.1.1.1.";
    ScopedIni ini(std::string("[Configuration]\nSCR Refresh Period=200\nAge To Die=5000\nAdapter Index=") +
                  adapter_name + "\nFirmware Location=" + folder + "\n[Adapter List]\nAdapter 0=" + adapter_name +
                  "-----192.168.79.100,192.168.79.150,0\n[Poller]\nTimeout=10000\nRetry Count=1\nPoll Rate=6\n"
                  "[TFTP]\nTimeout=10000\nWrite Timeout=10000\n" // as long as only a fault waits
                  "[Default Columns]\nVersion=D," +
                  e + "2.0," + e + "3.0," + e +
                  "7.0\n"
                  "[Start Up Columns]\nVersion=80\n");

    RunMainDialog([&](CVistrelDlg& d) {
        auto versions = [&](const std::vector<std::string>& expected) {
            return PumpUntil(
                [&] {
                    for (int k = 0; k < device_count; ++k)
                        if (Version(d, k) != expected[k])
                            return false;
                    return true;
                },
                60000);
        };
        auto shown = [&] {
            std::string s;
            for (int k = 0; k < device_count; ++k)
                s += Version(d, k) + " ";
            return s;
        };
        ASSERT_TRUE(versions({"1/2/3", "1/2/3", "1/2/3", "1/2/3"})) << shown();
        const std::string alder = "alder version 1.", birch = "birch version 1.";

        // Two alders and a birch: the first alder's choice applies to the
        // second; the birch's read is cancelled, which ends the run quietly.
        size_t modals = mfc::test::ModalLog().size();
        std::vector<std::string> seen;
        NextProgress([&](CProgressDlg& p) {
            PumpUntil([&] {
                const std::string status = ItemText(p, IDC_PROGRESS_STATUS);
                if (!status.empty() && (seen.empty() || seen.back() != status))
                    seen.push_back(status);
                return static_cast<CProgressCtrl*>(p.GetDlgItem(IDC_PROGRESS_BAR))->GetPos() > 0;
            });
        });
        ChooseVersion(alder + "2.3", alder + "3.0", true);
        for (int i = 0; i < 3; ++i)
            NextProgress();
        NextProgress([&](CProgressDlg& p) {
            mfc::test::Click(p, IDCANCEL);
            EXPECT_TRUE(PumpUntil([&] { return ItemText(p, IDC_PROGRESS_STATUS) == "Canceling . . ."; }));
        });
        Select(d, {0, 1, 2});
        d.SendMessage(WM_COMMAND, ID_UPDATE_FIRMWARE);
        EXPECT_EQ(Captions(modals),
                  (std::vector<std::string>{Address(0) + " - Upload Firmware", "Select Firmware Version",
                                            Address(0) + " - Update Firmware", Address(1) + " - Upload Firmware",
                                            Address(1) + " - Update Firmware", Address(2) + " - Upload Firmware"}));
        EXPECT_FALSE(seen.empty()) << "the upload's progress was shown";
        EXPECT_TRUE(mfc::test::MessageBoxLog().empty()) << mfc::test::MessageBoxLog().front().text;
        EXPECT_TRUE(versions({"1/3/0", "1/3/0", "1/2/3", "1/2/3"})) << shown();

        // An alder and a birch, each with its own choice.
        ChooseVersion(alder + "3.0", alder + "4.0");
        ChooseVersion(birch + "2.3", birch + "3.0");
        Select(d, {1, 2});
        d.SendMessage(WM_COMMAND, ID_UPDATE_FIRMWARE);
        ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u);
        EXPECT_EQ(mfc::test::MessageBoxLog()[0].text,
                  "2 device(s) successfully updated. \r\n"
                  "Device(s) must be power-cycled\r\nto complete update process.");
        EXPECT_EQ(mfc::test::MessageBoxLog()[0].caption, "Update Firmware");
        EXPECT_EQ(mfc::test::MessageBoxLog()[0].type & MB_ICONMASK, UINT(MB_ICONINFORMATION));
        EXPECT_TRUE(versions({"1/3/0", "1/4/0", "1/3/0", "1/2/3"})) << shown();

        // The first device is written; the second one's write fails and is
        // reported with its text.
        ASSERT_EQ(Control("fault 3 tftp-corrupt-write").rfind("ok", 0), 0u);
        ChooseVersion(alder + "3.0", alder + "4.0");
        ChooseVersion(birch + "2.3", birch + "4.0");
        Select(d, {0, 3});
        d.SendMessage(WM_COMMAND, ID_UPDATE_FIRMWARE);
        ASSERT_EQ(mfc::test::MessageBoxLog().size(), 2u);
        EXPECT_EQ(mfc::test::MessageBoxLog()[1].text, "Code download invalid");
        EXPECT_EQ(mfc::test::MessageBoxLog()[1].type & MB_ICONMASK, UINT(MB_ICONSTOP));
        EXPECT_TRUE(versions({"1/4/0", "1/4/0", "1/3/0", "1/2/3"})) << shown();
    });
}

} // namespace
