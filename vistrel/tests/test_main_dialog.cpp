// The main dialog against the fake servers: menus and their enabling, the
// context menus, counts, layout, closing, accelerators, Copy, About, and the
// New IP Address loop.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "AboutDlg.h"
#include "IniFile.h"
#include "IpAssignDlg.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/qt_resources.h>
#include <mfc/test_hooks.h>

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <filesystem>

using namespace vistrel_test;
using mfc::test::ScopedHooks;

namespace {

const char* const main_ini = "[Configuration]\n"
                             "SCR Refresh Period=100000\n"
                             "[Default Columns]\n"
                             "Description=S,1.3.6.1.2.1.1.1.0\n"
                             "Uptime=D,1.3.6.1.2.1.1.3.0\n"
                             "[Start Up Columns]\n"
                             "Uptime=70\n";

const UINT selection_commands[] = {ID_UPDATE_FIRMWARE, ID_NEW_IP_ADDRESS, ID_TOOLS_CONFIGURE, ID_TOOLS_REPORT};

bool Grey(CMenu* menu, UINT id) { return (menu->GetMenuState(id, MF_BYCOMMAND) & MF_GRAYED) != 0; }

// Grey states of the four selection commands in the menu bar and the list menu.
std::vector<bool> GreyStates(CVistrelDlg& d)
{
    std::vector<bool> states;
    for (UINT id : selection_commands) {
        CMenu* popup = d.GetMenu()->GetSubMenu(id == ID_TOOLS_CONFIGURE || id == ID_TOOLS_REPORT ? 3 : 0);
        const bool bar = Grey(popup, id), list = Grey(&d.ListMenu(), id);
        EXPECT_EQ(bar, list) << id;
        states.push_back(bar);
    }
    return states;
}

// A right click at a point of the window; the command chosen from the
// context menu arrives posted.
void RightClickAt(CWnd* window, int x, int y)
{
    mfc::test::RightClick(window, x, y);
    QCoreApplication::processEvents();
}

class MainDialog : public ::testing::Test {
protected:
    ScopedIni ini{main_ini};
    FakeServers servers;
    ScopedHooks hooks;
    FakeAdapter& eth0() { return World().adapters["eth0"]; }
    void ThreeDevices()
    {
        eth0().devices["00602b000001"] = {"192.168.1.20", 0};
        eth0().devices["00602b000002"] = {"192.168.1.30", 0};
        eth0().devices["00602b000003"] = {"192.168.1.40", 9000};
    }
};

} // namespace

TEST_F(MainDialog, OpensWithCaptionColumnsAndDiscoveryStartedAndCounts)
{
    RunMainDialog([&](CVistrelDlg& d) {
        CString caption;
        d.GetWindowText(caption);
        EXPECT_EQ(caption.str(), "Veltrix(tm) Discovery");
        EXPECT_EQ(ItemText(d, IDC_DEVICE_COUNT), "Devices:");
        CHeaderCtrl* header = d.List()->GetHeaderCtrl();
        EXPECT_EQ(header->GetDlgCtrlID(), IDC_LIST_HEADER);
        ASSERT_EQ(header->GetItemCount(), 4);
        EXPECT_EQ(d.List()->GetColumnWidth(0), 20);
        EXPECT_EQ(d.List()->GetColumnWidth(1), 100);
        EXPECT_EQ(d.List()->GetColumnWidth(3), 70);
        EXPECT_EQ(d.List()->GetExtendedStyle(),
                  DWORD(LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES));
        EXPECT_TRUE(eth0().started);
        EXPECT_EQ(d.MoreCommandId(), 1602u);
        EXPECT_EQ(d.RefreshPeriod(), 100000u);
        const struct {
            const char* mac;
            FakeDevice state;
            const char *devices, *active, *dead;
        } steps[] = {
            {nullptr, {}, "Devices: 0", "Active: 0", "Dead: 0"},
            {"00602b000001", {"192.168.1.20", 0}, "Devices: 1", "Active: 1", "Dead: 0"},
            {"00602b000002", {"192.168.1.30", 9000}, "Devices: 2", "Active: 1", "Dead: 1"},
            {"00602b000003", {"0.0.0.0", 0}, "Devices: 3", "Active: 2", "Dead: 1"}, // no address yet, alive
            {"00602b000001", {"192.168.1.20", 6000}, "Devices: 3", "Active: 1", "Dead: 2"},
        };
        for (const auto& s : steps) {
            if (s.mac)
                eth0().devices[s.mac] = s.state;
            Tick(d);
            EXPECT_EQ(ItemText(d, IDC_DEVICE_COUNT), s.devices);
            EXPECT_EQ(ItemText(d, IDC_ACTIVE_COUNT), s.active);
            EXPECT_EQ(ItemText(d, IDC_DEAD_COUNT), s.dead);
        }
    });
    // The current adapter's settings went to the server before discovery started.
    const auto calls = World().Calls("adapter.");
    const auto start = std::find(calls.begin(), calls.end(), "adapter.start");
    ASSERT_NE(start, calls.end());
    EXPECT_NE(std::find(calls.begin(), start, "adapter.put_autoassign 0"), start);
}

// The poller's and the device table's defaults are pinned in the poll view's tests.
TEST(MainDialogSettings, DefaultsWithoutSettingsFileAndTheTimerClamped)
{
    FakeServers servers;
    ScopedHooks hooks;
    {
        ScopedIni none;
        CVistrelDlg dialog;
        EXPECT_EQ(dialog.RefreshPeriod(), 2000u);
        EXPECT_EQ(World().adapters["eth0"].sendReservation, 0) << "set only when discovery starts";
    }
    ScopedIni zero("[Configuration]\nSCR Refresh Period=0\n");
    CVistrelDlg dialog;
    EXPECT_EQ(dialog.RefreshPeriod(), UINT(USER_TIMER_MINIMUM)) << "no busy loop";
}

TEST_F(MainDialog, SelectionCommandsFollowTheSelectionInBarAndListMenu)
{
    ThreeDevices();
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{true, true, true, true}));
        mfc::test::ClickListRow(d.List(), 0);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{false, false, false, false}));
        mfc::test::ClickListRow(d.List(), 1, true);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{false, false, true, false})) << "Configure takes one row";
        mfc::test::ClickListRow(d.List(), -1);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{true, true, true, true}));
        d.SendMessage(WM_COMMAND, ID_EDIT_SELECT_ALL);
        EXPECT_EQ(d.List()->GetSelectedCount(), 3);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{false, false, true, false}));

        // The list menu repeats the menu bar; a right click inside the
        // selection keeps it.
        mfc::test::RightClickListRow(d.List(), 1);
        ASSERT_EQ(mfc::test::PopupLog().size(), 1u);
        EXPECT_EQ(mfc::test::PopupLog()[0].items,
                  (std::vector<std::string>{"&Update Firmware...", "&New IP Address...", "&Close", "-", "&Copy\tCtrl+C",
                                            "Select &All\tCtrl+A", "-", "&Refresh\tF5", "&Column Chooser...", "-",
                                            "&Options...", "&Configure... (grey)", "&Report...", "-",
                                            "&About Veltrix Discovery..."}));
    });
}

TEST_F(MainDialog, HeaderMenuShowsAndTogglesTheBuiltInColumns)
{
    eth0().devices["00602b000001"] = {"192.168.1.20", 0};
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        CHeaderCtrl* header = d.List()->GetHeaderCtrl();
        mfc::test::PushPopupAnswer(1600); // show Description
        RightClickAt(header, 30, 5);
        ASSERT_EQ(mfc::test::PopupLog().size(), 1u);
        EXPECT_EQ(mfc::test::PopupLog()[0].items,
                  (std::vector<std::string>{"Description", "Uptime [x]", "-", "More..."}));
        ASSERT_EQ(header->GetItemCount(), 5);
        EXPECT_EQ(World().watches.count({"192.168.1.20", "1.3.6.1.2.1.1.1.0"}), 1u);
        EXPECT_EQ(d.HeaderMenu().GetMenuState(1600, MF_BYCOMMAND), UINT(MF_CHECKED));

        mfc::test::PushPopupAnswer(1601); // hide Uptime
        RightClickAt(header, 30, 5);
        EXPECT_EQ(mfc::test::PopupLog()[1].items,
                  (std::vector<std::string>{"Description [x]", "Uptime [x]", "-", "More..."}));
        EXPECT_EQ(header->GetItemCount(), 4);
        EXPECT_EQ(World().watches.count({"192.168.1.20", "1.3.6.1.2.1.1.3.0"}), 0u);

        // "More..." opens the Column Chooser.
        bool chooser = false;
        mfc::test::ScriptModal<ColumnSet>([&](ColumnSet& c) {
            chooser = true;
            c.EndDialog(IDCANCEL);
        });
        mfc::test::PushPopupAnswer(d.MoreCommandId());
        RightClickAt(header, 30, 5);
        EXPECT_TRUE(chooser);

        // Below the header: the list menu.
        RightClickAt(d.List(), 30, 60);
        EXPECT_EQ(mfc::test::PopupLog().back().items.front(), "&Update Firmware... (grey)");
    });
}

TEST_F(MainDialog, ResizingStretchesTheListAndKeepsTheCountsBottomRight)
{
    RunMainDialog([&](CVistrelDlg& d) {
        auto rectOf = [&](int id) {
            CRect r;
            d.GetDlgItem(id)->GetWindowRect(&r);
            d.ScreenToClient(&r);
            return r;
        };
        const CRect list = rectOf(IDC_DEVICE_LIST), spare = rectOf(IDC_STATUS_SPARE), dead = rectOf(IDC_DEAD_COUNT);
        // At the start the controls sit where the template puts them.
        EXPECT_EQ(list, CRect(mfc::DluToPixels(RECT{0, 0, 422, 266})));
        EXPECT_EQ(dead, CRect(mfc::DluToPixels(RECT{373, 267, 420, 277})));
        QDialog* window = mfc::DialogWidgetOf(d);
        window->resize(window->width() + 100, window->height() + 60);
        mfc::test::Pump(50);
        EXPECT_EQ(rectOf(IDC_DEVICE_LIST), CRect(list.left, list.top, list.right + 100, list.bottom + 60));
        EXPECT_EQ(rectOf(IDC_STATUS_SPARE), CRect(spare.left, spare.top + 60, spare.right + 100, spare.bottom + 60));
        EXPECT_EQ(rectOf(IDC_DEAD_COUNT), CRect(dead.left + 100, dead.top + 60, dead.right + 100, dead.bottom + 60));
    });
}

TEST_F(MainDialog, EnterAndEscKeepItOpenAndClosingSavesTheWidths)
{
    ThreeDevices();
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        mfc::test::PressKey(&d, VK_RETURN);
        mfc::test::PressKey(&d, VK_ESCAPE);
        mfc::test::Pump(20);
        EXPECT_NE(mfc::DialogWidgetOf(d), nullptr);
        mfc::test::DragColumnWidth(d.List(), 1, 131);
        mfc::test::DragColumnWidth(d.List(), 3, 77);
        mfc::test::CloseWindow(&d);
    }); // the options are written when the dialog object goes
    const std::string text = ScopedIni::Read();
    EXPECT_NE(text.find("[Width of Default Columns]\nStatus Col Width=20\nMAC Address=131\nIP Address=100\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[Start Up Columns]\nUptime=77\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Adapter 0=eth0-----192.168.1.100,192.168.1.200,0"), std::string::npos) << text;
}

TEST_F(MainDialog, AcceleratorsWorkWithTheFocusInTheList)
{
    ThreeDevices();
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        d.List()->SetFocus();
        mfc::test::PressKey(d.List(), 'A', true);
        EXPECT_EQ(d.List()->GetSelectedCount(), 3);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{false, false, true, false}));

        QGuiApplication::clipboard()->clear();
        mfc::test::PressKey(d.List(), 'C', true);
        std::string expected;
        d.View().CopyText(expected);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), expected);
        EXPECT_EQ(expected.substr(0, 39), "S,MAC Address,IP Address,Uptime,\r\n,,,1.");

        mfc::test::PressKey(d.List(), VK_F5);
        EXPECT_EQ(d.List()->GetItemCount(), 0);
        EXPECT_EQ(World().Calls("adapter.device_remove"),
                  (std::vector<std::string>{"adapter.device_remove 00602b000003"}));
        Tick(d);
        EXPECT_EQ(d.List()->GetItemCount(), 2) << "the dead device was forgotten by the server too";
    });
}

// F5 empties the list, and with it the selection: the commands that act on
// the selection turn grey as after any other change of it.
TEST_F(MainDialog, RefreshGreysTheSelectionCommands)
{
    ThreeDevices();
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        mfc::test::ClickListRow(d.List(), 0);
        ASSERT_EQ(GreyStates(d), (std::vector<bool>{false, false, false, false}));
        mfc::test::PressKey(&d, VK_F5);
        EXPECT_EQ(d.List()->GetItemCount(), 0);
        EXPECT_EQ(GreyStates(d), (std::vector<bool>{true, true, true, true}));
    });
}

TEST_F(MainDialog, F1OpensTheAboutBox)
{
    std::string shown;
    mfc::test::ScriptModal<CAboutDlg>([&](CAboutDlg& a) {
        shown = ItemText(a, IDC_ABOUT_TEXT);
        EXPECT_NE(a.GetDlgItem(IDC_ANIMATION), nullptr);
        a.EndDialog(IDOK);
    });
    RunMainDialog([&](CVistrelDlg& d) { mfc::test::PressKey(d.List(), VK_F1); });
    EXPECT_EQ(shown, AboutText());
    const std::string prefix = "Vistrel Version 1.0\r\nCopyright (C) Quillon\r\nVeltrix network management console\r\n"
                               "Built on ";
    EXPECT_EQ(shown.substr(0, prefix.size()), prefix);
    const std::string tail = "\r\n \r\nPlease Refer to the PDF manual installed\r\nwith this program for usage "
                             "instructions.";
    ASSERT_GT(shown.size(), tail.size());
    EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail);
}

TEST_F(MainDialog, NewIpAddressWalksTheRowsSelectedAtTheStart)
{
    eth0().devices["00602b000002"] = {"192.168.1.20", 0};
    eth0().devices["00602b000003"] = {"192.168.1.30", 0};
    std::vector<std::string> captions;
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        mfc::test::ClickListRow(d.List(), 0);
        mfc::test::ClickListRow(d.List(), 1, true);
        mfc::test::ScriptModal<CIpAssignDlg>([&](CIpAssignDlg& ip) {
            CString caption;
            ip.GetWindowText(caption);
            captions.push_back(caption.str());
            // A device appears under the dialog: the rows move down.
            eth0().devices["00602b000001"] = {"192.168.1.10", 0};
            Tick(d);
            mfc::test::SetIpField(ip.GetDlgItem(IDC_NEW_ADDRESS), 3, "77");
            mfc::test::Click(ip, IDOK);
        });
        mfc::test::ScriptModal<CIpAssignDlg>([&](CIpAssignDlg& ip) {
            CString caption;
            ip.GetWindowText(caption);
            captions.push_back(caption.str());
            mfc::test::Click(ip, IDCANCEL);
        });
        d.SendMessage(WM_COMMAND, ID_NEW_IP_ADDRESS);
    });
    EXPECT_EQ(captions, (std::vector<std::string>{"IP Assignment - 00602b000002", "IP Assignment - 00602b000003"}));
    EXPECT_EQ(World().Calls("device.put_ip"), (std::vector<std::string>{"device.put_ip 00602b000002 192.168.1.77"}));
}

TEST(IpAssignDialog, WarnsOutsideTheNetworkAndTreatsNoChangeAsCancel)
{
    ScopedHooks hooks;
    const auto network = ParseIp("192.168.1.0"), mask = ParseIp("255.255.255.0");
    {
        CIpAssignDlg unchanged("aa", "192.168.1.20", network, mask);
        mfc::test::ScriptModal<CIpAssignDlg>([](CIpAssignDlg& d) {
            BYTE b[4];
            static_cast<CIPAddressCtrl*>(d.GetDlgItem(IDC_NEW_ADDRESS))->GetAddress(b[0], b[1], b[2], b[3]);
            EXPECT_EQ(b[3], 20);
            mfc::test::Click(d, IDOK);
        });
        EXPECT_EQ(unchanged.DoModal(), IDCANCEL);
    }
    CIpAssignDlg outside("aa", "192.168.1.20", network, mask);
    mfc::test::ScriptModal<CIpAssignDlg>([](CIpAssignDlg& d) {
        CWnd* ip = d.GetDlgItem(IDC_NEW_ADDRESS);
        mfc::test::SetIpField(ip, 2, "2");
        mfc::test::SetIpField(ip, 3, "5");
        mfc::test::PushMessageBoxAnswer(IDCANCEL); // stays open with the address
        mfc::test::Click(d, IDOK);
        mfc::test::SetIpField(ip, 2, "1");
        mfc::test::SetIpField(ip, 3, "77");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(outside.DoModal(), IDOK);
    EXPECT_EQ(outside.NewAddress().to_string(), "192.168.1.77");
    ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u);
    EXPECT_EQ(mfc::test::MessageBoxLog()[0].text, "New IP address may be unreachable.");
    EXPECT_EQ(mfc::test::MessageBoxLog()[0].caption, "IP Assignment - aa");
    EXPECT_EQ(mfc::test::MessageBoxLog()[0].type, 305u);

    CIpAssignDlg noMask("bb", "10.0.0.1", ParseIp("0.0.0.0"), ParseIp("0.0.0.0"));
    mfc::test::ScriptModal<CIpAssignDlg>([](CIpAssignDlg& d) {
        CWnd* ip = d.GetDlgItem(IDC_NEW_ADDRESS);
        for (int f = 0; f < 4; ++f)
            mfc::test::SetIpField(ip, f, "");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(noMask.DoModal(), IDOK);
    EXPECT_EQ(noMask.NewAddress().to_string(), "0.0.0.0");
    EXPECT_EQ(mfc::test::MessageBoxLog().size(), 1u) << "mask 0.0.0.0 never warns";
}
