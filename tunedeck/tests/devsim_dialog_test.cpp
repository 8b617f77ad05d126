// The configuration entry point as the console calls it, offscreen, against
// the device simulator's agents over a veth pair: devices with 1, 2, 16 and
// no transmitter bundles listed, a bundle number edited, written and read back.
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/test_hooks.h>
#include <windows.h>

#include <QApplication>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <tunedeck/LaunchBlock.h>

#include "DeviceMib.h"
#include "devsim_devices.h"
#include "resource.h"

namespace {

struct QtEnvironment : ::testing::Environment {
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "tunedeck_devsim_dialog_test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

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
        module = LoadLibraryA(TUNEDECK_LIB);
        ASSERT_NE(module, nullptr);
        run = vx_proc_cast<LaunchEntryFn>(GetProcAddress(module, "RunTunedeck"));
        ASSERT_NE(run, nullptr);
    }
    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
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
    HMODULE module = nullptr;
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

TEST_F(DevsimEntry, SilentDeviceIsNotInitialized)
{
    LaunchBlock block = Block(tdtest::kSimSilent);
    block.Timeout = 200;
    block.Retries = 1;
    EXPECT_EQ(run(&block), LAUNCH_NOT_INITIALIZED);
    EXPECT_TRUE(mfc::test::ModalLog().empty());
}

} // namespace
