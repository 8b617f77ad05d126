// The configuration entry point as the console calls it, offscreen, against
// the device simulator's agents over a veth pair: devices with 1, 2, 16 and
// no transmitter bundles listed; a bundle number edited in the list, the
// bundle dialogs, the advanced dialog and the generic SNMP dialog writing the
// device, each write read back by a fresh model; the open device's report.
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/test_hooks.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <tunedeck/LaunchBlock.h>

#include "DeviceMib.h"
#include "ReportFile.h"
#include "devsim_devices.h"
#include "report_files.h"
#include "gui_test.h"
#include "resource.h"

namespace {

// Requests wait as long as only a fault makes them: ten seconds, in hundredths.
constexpr int kPatient = 1000;

using tdtest::ItemText;
using tdtest::ScriptTemplate;

std::vector<std::vector<std::string>> Rows(CDialog& d)
{
    auto* list = static_cast<CListCtrl*>(d.GetDlgItem(IDC_BUNDLE_LIST));
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < list->GetItemCount(); ++i) {
        std::vector<std::string> row;
        for (int c = 0; c < 4; ++c)
            row.push_back(std::string(static_cast<LPCTSTR>(list->GetItemText(i, c))));
        rows.push_back(row);
    }
    return rows;
}

class DevsimEntry : public tdtest::DevsimSuite {
protected:
    void SetUp() override
    {
        tdtest::DevsimSuite::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(library.Load("RunTunedeck"));
        run = library.run;
    }
    // Runs the entry point with `script` inside the main device dialog.
    int Launch(const char* ip, int switches, mfc::test::ModalScript script)
    {
        ScriptTemplate(IDD_MANAGEMENT, std::move(script));
        LaunchBlock block = tdtest::TestBlock(ip, switches);
        return run(&block);
    }

    mfc::test::ScopedHooks hooks;
    tdtest::LoadedEntry library;
    LaunchEntryFn run = nullptr;
};

TEST_F(DevsimEntry, EachDeviceShowsItsBundlesAndConductorState)
{
    for (int k = 0; k < static_cast<int>(std::size(tdtest::kSimDevices)); ++k) {
        const tdtest::SimDevice& device = tdtest::kSimDevices[k];
        SCOPED_TRACE(device.address);
        // The first device without the optional buttons, the others with all.
        const int switches = k == 0 ? 0 : 15;
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> texts, headings;
        std::vector<bool> visible;
        UINT conductor = 99;
        DWORD address = 0;
        EXPECT_EQ(Launch(device.address, switches,
                         [&](CDialog& d) {
                             rows = Rows(d);
                             CString text;
                             d.GetWindowText(text);
                             texts.push_back(static_cast<LPCTSTR>(text));
                             d.GetDlgItemText(IDC_VERSION_TEXT, text);
                             texts.push_back(static_cast<LPCTSTR>(text));
                             for (int id : {IDC_CONFIGURE, IDC_ADVANCED, IDC_REPORT, IDC_SNMP, IDC_REFRESH, IDOK})
                                 visible.push_back(d.GetDlgItem(id)->IsWindowVisible());
                             auto* list = static_cast<CListCtrl*>(d.GetDlgItem(IDC_BUNDLE_LIST));
                             char heading[32];
                             LVCOLUMN column{};
                             column.mask = LVCF_TEXT | LVCF_WIDTH;
                             column.pszText = heading;
                             column.cchTextMax = sizeof heading;
                             for (int c = 0; list->GetColumn(c, &column); ++c)
                                 headings.push_back(std::string(heading) + " " + std::to_string(column.cx));
                             conductor = d.IsDlgButtonChecked(IDC_CONDUCTOR);
                             static_cast<CIPAddressCtrl*>(d.GetDlgItem(IDC_DEVICE_IP))->GetAddress(address);
                             mfc::test::Click(d, IDOK);
                         }),
                  LAUNCH_OK);
        std::vector<std::vector<std::string>> expected;
        for (int x = 1; x <= device.tx; ++x)
            expected.push_back({std::to_string(k * 16 + x), "Tx", std::to_string(x), "0"});
        for (int x = 1; x <= device.rx; ++x)
            expected.push_back({"0", "Rx", std::to_string(x), "0"});
        EXPECT_EQ(rows, expected);
        EXPECT_EQ(texts, (std::vector<std::string>{"Veltrix Configuration", "(.42)"}));
        const bool all = switches != 0;
        EXPECT_EQ(visible, (std::vector<bool>{true, all, all, all, true, true}));
        EXPECT_EQ(headings, (std::vector<std::string>{"Bundle 70", "Type 70", "Number 70", "Status 70"}));
        EXPECT_EQ(conductor, static_cast<UINT>(k == 0 ? BST_CHECKED : BST_UNCHECKED));
        EXPECT_EQ(address, MAKEIPADDRESS(192, 168, 77, 10 + k));
    }
    EXPECT_TRUE(mfc::test::MessageBoxLog().empty());
    ASSERT_FALSE(mfc::test::ModalLog().empty());
    EXPECT_EQ(mfc::test::ModalLog()[0].caption, "Veltrix Configuration");
}

// A fresh model on the device, to read back what the dialogs wrote.
struct ReadBack {
    explicit ReadBack(const char* ip)
    {
        mib.SetTimeout(kPatient);
        EXPECT_EQ(mib.Open(ip), 0);
    }
    int32_t operator()(int row, int x = 0, int y = 0)
    {
        int32_t v = -1;
        EXPECT_EQ(mib.Get(row, &v, x, y), 0) << row;
        return v;
    }
    CDeviceMib mib;
};

TEST_F(DevsimEntry, BundleEditsAndBundleDialogsWriteTheDevice)
{
    const char* ip = tdtest::kSimDevices[0].address; // one transmitter, one receiver
    std::vector<std::string> bundles;
    ScriptTemplate(IDD_TRANSMITTER, [](CDialog& d) {
        mfc::test::TypeText(d.GetDlgItem(IDC_BUNDLE_NUMBER), "4321");
        mfc::test::TypeText(d.GetDlgItem(IDC_SUBMAP_FIRST), "5");
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_SUBFORMAT_FIRST), 0); // 16 bit on every channel
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_SUBCOUNT), 4);
        mfc::test::Click(d, IDOK);
    });
    ScriptTemplate(IDD_RECEIVER, [](CDialog& d) {
        mfc::test::TypeText(d.GetDlgItem(IDC_SUBMAP_FIRST + 7), "40");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(Launch(ip, 15,
                     [&](CDialog& d) {
                         auto* list = static_cast<CListCtrl*>(d.GetDlgItem(IDC_BUNDLE_LIST));
                         mfc::test::ClickListRow(list, 0);
                         mfc::test::Click(d, IDC_CONFIGURE);
                         mfc::test::DoubleClickListRow(list, 1);
                         // The receiver's bundle number edited in the list.
                         mfc::test::ClickListRow(list, 1);
                         CEdit* edit = list->EditLabel(1);
                         ASSERT_NE(edit, nullptr);
                         mfc::test::TypeText(edit, "77");
                         mfc::test::PressKey(edit, VK_RETURN);
                         mfc::test::Click(d, IDC_REFRESH);
                         for (const auto& row : Rows(d))
                             bundles.push_back(row[0]);
                         mfc::test::Click(d, IDOK);
                     }),
              LAUNCH_OK);
    EXPECT_TRUE(mfc::test::MessageBoxLog().empty());
    EXPECT_EQ(bundles, (std::vector<std::string>{"4321", "77"}));
    ReadBack device(ip);
    EXPECT_EQ(device(mib::txBundle), 4321);
    EXPECT_EQ(device(mib::txSubMap, 0, 0), 5);
    EXPECT_EQ(device(mib::txSubFormat, 0, 7), 0x44000);
    EXPECT_EQ(device(mib::txSubCount), 4);
    EXPECT_EQ(device(mib::rxSubMap, 0, 7), 40);
    EXPECT_EQ(device(mib::rxBundle), 77);
}

TEST_F(DevsimEntry, AdvancedAndGenericSnmpDialogsWriteTheDevice)
{
    const char* ip = tdtest::kSimDevices[0].address; // platform 36252: 48 kHz only
    std::vector<std::string> seen;
    ScriptTemplate(IDD_ADVANCED, [&](CDialog& d) {
        auto* rate = d.GetDlgItem(IDC_MODE_RATE);
        mfc::test::ChooseComboItem(rate, 3); // "96 kHz, 5 1/3 mS"
        mfc::test::Click(d, IDC_APPLY);
        seen = {tdtest::ComboText(d, IDC_MODE_RATE), ItemText(d, IDC_FREE_CYCLES),
                ItemText(d, IDC_PROC_MODE)}; // the simulated alder has no processor group
        mfc::test::ChooseComboItem(rate, 1); // "48 kHz, 2 2/3 mS"
        mfc::test::TypeText(d.GetDlgItem(IDC_CONTACT), "night shift");
        mfc::test::TypeText(d.GetDlgItem(IDC_SERIAL_TXMAC), "02:60:2B:FD:12:34");
        mfc::test::Click(d, IDOK);
    });
    ScriptTemplate(IDD_GENERIC_SNMP, [&](CDialog& d) {
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_GROUP), 10);              // Monitor
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_VARIABLE_FIRST + 10), 4); // ipMonStaticIP
        mfc::test::TypeText(d.GetDlgItem(IDC_VALUE), "192.168.77.99");
        mfc::test::Click(d, IDC_PUT);
        mfc::test::TypeText(d.GetDlgItem(IDC_VALUE), "");
        mfc::test::Click(d, IDC_GET);
        seen.push_back(ItemText(d, IDC_VALUE));
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(Launch(ip, 15,
                     [](CDialog& d) {
                         mfc::test::Click(d, IDC_ADVANCED);
                         mfc::test::Click(d, IDC_SNMP);
                         mfc::test::Click(d, IDOK);
                     }),
              LAUNCH_OK);
    EXPECT_EQ(tdtest::Shown(), std::vector<std::string>{"Invalid Mode Rate Value | Error"});
    EXPECT_EQ(seen, (std::vector<std::string>{"48 kHz, 5 1/3 mS", "25.3%", "N.A.", "192.168.77.99"}));
    ReadBack device(ip);
    EXPECT_EQ(device(mib::modeRateControl), 0x500);
    EXPECT_EQ(device(mib::txSubFormat, 0, 3), 0x42000); // 16 bit, 2 2/3 mS
    const char* contact = nullptr;
    EXPECT_EQ(device.mib.Get(mib::sysContact, &contact), 0);
    EXPECT_STREQ(contact, "night shift");
    const unsigned char* mac = nullptr;
    EXPECT_EQ(device.mib.Get(mib::serialTxMAC, &mac), 0);
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 8),
              (std::vector<unsigned char>{6, 0, 2, 0x60, 0x2b, 0xfd, 0x12, 0x34}));
    char address[32] = {};
    EXPECT_EQ(device.mib.SnmpGet("1.3.6.1.4.1.2680.1.1.9.2.1.0", KIND_IPADDRESS, address, sizeof address), 0);
    EXPECT_STREQ(address, "192.168.77.99");
}

TEST_F(DevsimEntry, ReportOfTheOpenDevice)
{
    const char* ip = tdtest::kSimDevices[3].address;
    tdtest::ScratchFolder folder("td-single-report");
    const std::string chosen = folder / "chosen";
    std::filesystem::create_directories(chosen);
    std::string file, status;
    ScriptTemplate(IDD_SAVE_REPORT, [&](CDialog& d) {
        file = ItemText(d, IDC_REPORT_FILE);
        EXPECT_EQ(ItemText(d, IDC_REPORT_STATUS), "Idle");
        mfc::test::PushFolderAnswer(folder / std::string(128, 'l')); // too long a path: not taken
        mfc::test::Click(d, IDC_BROWSE);
        mfc::test::PushFolderAnswer(chosen);
        mfc::test::Click(d, IDC_BROWSE);
        mfc::test::Click(d, IDC_WRITE);
        status = ItemText(d, IDC_REPORT_STATUS);
        auto* progress = static_cast<CProgressCtrl*>(d.GetDlgItem(IDC_REPORT_PROGRESS));
        EXPECT_EQ(progress->GetPos(), 6);
        EXPECT_EQ(ItemText(d, IDC_REPORT_FOLDER), chosen);
        mfc::test::Click(d, IDCANCEL);
    });
    EXPECT_EQ(Launch(ip, 15,
                     [](CDialog& d) {
                         mfc::test::Click(d, IDC_REPORT);
                         mfc::test::Click(d, IDOK);
                     }),
              LAUNCH_OK);
    EXPECT_EQ(file, "alder-3.csv");
    EXPECT_EQ(status, "Done");
    ASSERT_EQ(mfc::test::PickerLog().size(), 2u);
    EXPECT_EQ(mfc::test::PickerLog()[0].title, "Select Save Directory");
    EXPECT_EQ(mfc::test::PickerLog()[1].initial, DefaultReportFolder());
    // The same device as the simulator reports it to the report worker,
    // but for the two lines of the date and time.
    tdtest::ExpectReport(tdtest::ReadFile(chosen + "/alder-3.csv"), "devsim_0x2.csv", 2);
}

} // namespace
