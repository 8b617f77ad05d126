// The configuration entry point as the console calls it, offscreen, against
// the device simulator's agents over a veth pair: devices with 1, 2, 16 and
// no transmitter bundles listed; a bundle number, the bundle dialogs, the
// advanced dialog and the generic SNMP dialog writing the device, each write
// read back; the open device's report.
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/test_hooks.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
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

int SelectNone(const char**, int) { return LAUNCH_SELECT_END; }

LaunchBlock Block(const char* ip)
{
    LaunchBlock b{};
    b.IpAddress = ip;
    b.WriteCommunity = "quenmil";
    b.ReadCommunity = "tagrok";
    b.GetFirst = SelectNone;
    b.GetNext = SelectNone;
    b.Timeout = 1000;
    b.Retries = 2;
    b.Delay = 10;
    b.Switches = 15;
    return b;
}

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
    int Launch(const char* ip, int switches, std::function<void(CDialog&)> script)
    {
        mfc::test::ScriptModal([](CDialog& d) { return std::strcmp(d.GetTemplateName(), IDD_MANAGEMENT) == 0; },
                               std::move(script));
        LaunchBlock block = Block(ip);
        block.Switches = switches;
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

TEST_F(DevsimEntry, BundleNumberEditIsWrittenAndReadBack)
{
    const char* ip = tdtest::kSimDevices[1].address;
    std::vector<std::string> after;
    EXPECT_EQ(Launch(ip, 15,
                     [&](CDialog& d) {
                         auto* list = static_cast<CListCtrl*>(d.GetDlgItem(IDC_BUNDLE_LIST));
                         auto edit = [&](int row, const char* text) {
                             mfc::test::ClickListRow(list, row);
                             CEdit* e = list->EditLabel(row);
                             ASSERT_NE(e, nullptr);
                             mfc::test::TypeText(e, text);
                             mfc::test::PressKey(e, VK_RETURN);
                         };
                         edit(1, "3210");
                         edit(3, "65536");  // refused before anything is sent
                         edit(3, "77");
                         mfc::test::Click(d, IDC_REFRESH);
                         for (int i = 0; i < list->GetItemCount(); ++i)
                             after.push_back(std::string(static_cast<LPCTSTR>(list->GetItemText(i, 0))));
                         mfc::test::Click(d, IDOK);
                     }),
              LAUNCH_OK);
    EXPECT_EQ(after, (std::vector<std::string>{"17", "3210", "0", "77"}));
    ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u);
    EXPECT_EQ(mfc::test::MessageBoxLog()[0].text, "Invalid Bundle Number");

    CDeviceMib mib;
    mib.SetTimeout(100);
    ASSERT_EQ(mib.Open(ip), 0);
    int32_t v = 0;
    EXPECT_EQ(mib.Get(mib::txBundle, &v, 1), 0);
    EXPECT_EQ(v, 3210);
    EXPECT_EQ(mib.Get(mib::rxBundle, &v, 1), 0);
    EXPECT_EQ(v, 77);
}

// Runs `script` inside the next dialog of the library with that template.
void ScriptTemplate(const char* name, std::function<void(CDialog&)> script)
{
    mfc::test::ScriptModal([name](CDialog& d) { return std::strcmp(d.GetTemplateName(), name) == 0; },
                           std::move(script));
}

std::string ItemText(CDialog& d, int id)
{
    CString text;
    d.GetDlgItemText(id, text);
    return static_cast<LPCTSTR>(text);
}

// A fresh model on the device, to read back what the dialogs wrote.
int32_t ReadBack(const char* ip, int row, int x = 0, int y = 0)
{
    CDeviceMib mib;
    mib.SetTimeout(100);
    EXPECT_EQ(mib.Open(ip), 0);
    int32_t v = -1;
    EXPECT_EQ(mib.Get(row, &v, x, y), 0) << row;
    return v;
}

TEST_F(DevsimEntry, BundleDialogsWriteTheDevice)
{
    const char* ip = tdtest::kSimDevices[0].address;  // one transmitter, one receiver
    std::vector<std::string> bundles;
    ScriptTemplate(IDD_TRANSMITTER, [](CDialog& d) {
        mfc::test::TypeText(d.GetDlgItem(IDC_BUNDLE_NUMBER), "4321");
        mfc::test::TypeText(d.GetDlgItem(IDC_SUBMAP_FIRST), "5");
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_SUBFORMAT_FIRST), 0);  // 16 bit on every channel
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
                         for (const auto& row : Rows(d))
                             bundles.push_back(row[0]);
                         mfc::test::Click(d, IDOK);
                     }),
              LAUNCH_OK);
    EXPECT_TRUE(mfc::test::MessageBoxLog().empty());
    EXPECT_EQ(bundles, (std::vector<std::string>{"4321", "0"}));
    EXPECT_EQ(ReadBack(ip, mib::txBundle), 4321);
    EXPECT_EQ(ReadBack(ip, mib::txSubMap, 0, 0), 5);
    EXPECT_EQ(ReadBack(ip, mib::txSubFormat, 0, 7), 0x44000);
    EXPECT_EQ(ReadBack(ip, mib::txSubCount), 4);
    EXPECT_EQ(ReadBack(ip, mib::rxSubMap, 0, 7), 40);
}

TEST_F(DevsimEntry, AdvancedKeepsThePlatformsRatesAndMovesTheChannels)
{
    const char* ip = tdtest::kSimDevices[0].address;  // platform 36252: 48 kHz only
    std::vector<std::string> seen;
    ScriptTemplate(IDD_ADVANCED, [&](CDialog& d) {
        auto* rate = d.GetDlgItem(IDC_MODE_RATE);
        mfc::test::ChooseComboItem(rate, 3);  // "96 kHz, 5 1/3 mS"
        mfc::test::Click(d, IDC_APPLY);
        CString text;
        static_cast<CComboBox*>(rate)->GetLBText(static_cast<CComboBox*>(rate)->GetCurSel(), text);
        seen.push_back(static_cast<LPCTSTR>(text));
        seen.push_back(ItemText(d, IDC_FREE_CYCLES));
        seen.push_back(ItemText(d, IDC_PROC_MODE));  // the simulated alder has no processor group
        mfc::test::ChooseComboItem(rate, 1);         // "48 kHz, 2 2/3 mS"
        mfc::test::TypeText(d.GetDlgItem(IDC_CONTACT), "night shift");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(Launch(ip, 15, [](CDialog& d) {
                  mfc::test::Click(d, IDC_ADVANCED);
                  mfc::test::Click(d, IDOK);
              }),
              LAUNCH_OK);
    ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u);
    EXPECT_EQ(mfc::test::MessageBoxLog()[0].text, "Invalid Mode Rate Value");
    EXPECT_EQ(seen, (std::vector<std::string>{"48 kHz, 5 1/3 mS", "25.3%", "N.A."}));
    EXPECT_EQ(ReadBack(ip, mib::modeRateControl), 0x500);
    EXPECT_EQ(ReadBack(ip, mib::txSubFormat, 0, 3), 0x42000);  // 16 bit, 2 2/3 mS
    CDeviceMib mib;
    mib.SetTimeout(100);
    ASSERT_EQ(mib.Open(ip), 0);
    const char* contact = nullptr;
    EXPECT_EQ(mib.Get(mib::sysContact, &contact), 0);
    EXPECT_STREQ(contact, "night shift");
}

TEST_F(DevsimEntry, GenericSnmpWritesAnAddress)
{
    const char* ip = tdtest::kSimDevices[0].address;
    std::string shown;
    ScriptTemplate(IDD_GENERIC_SNMP, [&](CDialog& d) {
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_GROUP), 10);                 // Monitor
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_VARIABLE_FIRST + 10), 4);   // ipMonStaticIP
        mfc::test::TypeText(d.GetDlgItem(IDC_VALUE), "192.168.77.99");
        mfc::test::Click(d, IDC_PUT);
        mfc::test::TypeText(d.GetDlgItem(IDC_VALUE), "");
        mfc::test::Click(d, IDC_GET);
        shown = ItemText(d, IDC_VALUE);
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(Launch(ip, 15, [](CDialog& d) {
                  mfc::test::Click(d, IDC_SNMP);
                  mfc::test::Click(d, IDOK);
              }),
              LAUNCH_OK);
    EXPECT_TRUE(mfc::test::MessageBoxLog().empty());
    EXPECT_EQ(shown, "192.168.77.99");
    CDeviceMib mib;
    mib.SetTimeout(100);
    ASSERT_EQ(mib.Open(ip), 0);
    char text[32] = {};
    EXPECT_EQ(mib.SnmpGet("1.3.6.1.4.1.2680.1.1.9.2.1.0", KIND_IPADDRESS, text, sizeof text), 0);
    EXPECT_STREQ(text, "192.168.77.99");
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
        mfc::test::PushFolderAnswer(folder / std::string(128, 'l'));  // too long a path: not taken
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
    EXPECT_EQ(Launch(ip, 15, [](CDialog& d) {
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

TEST_F(DevsimEntry, SilentDeviceIsNotInitialized)
{
    LaunchBlock block = Block(tdtest::kSimSilent);
    block.Timeout = 200;
    block.Retries = 1;
    EXPECT_EQ(run(&block), LAUNCH_NOT_INITIALIZED);
    EXPECT_TRUE(mfc::test::ModalLog().empty());
}

} // namespace
