// The console driven as a user drives it: QTest mouse clicks and key presses
// on the real widgets of the real dialogs, for the kinds of input the other
// tests do not drive (header clicks, list keys, typed addresses, the menu bar,
// Enter and Esc in a dialog, the real file dialog); and the sizes that let
// the dialogs' text show whole.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "AboutDlg.h"
#include "IpAssignDlg.h"
#include "IpValue.h"
#include "OptionsDlg.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/qt_resources.h>
#include <mfc/test_hooks.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace vistrel_test;
using mfc::test::ScopedHooks;

namespace {

const char* const input_ini = "[Configuration]\nSCR Refresh Period=100000\n";

class Input : public ::testing::Test {
protected:
    Input()
    {
        // MAC order and address order differ.
        auto& devices = World().adapters["eth0"].devices;
        devices["00602b000001"] = {"192.168.1.30", 0};
        devices["00602b000002"] = {"192.168.1.4", 0};
        devices["00602b000003"] = {"192.168.1.200", 0};
    }
    ScopedIni ini{input_ini};
    FakeServers servers;
    ScopedHooks hooks;
};

std::set<std::string> SelectedMacs(CVistrelDlg& d)
{
    std::set<std::string> macs;
    for (int r = 0; r < d.List()->GetItemCount(); ++r)
        if (d.List()->GetItemState(r, LVIS_SELECTED))
            macs.insert(d.List()->GetItemText(r, 1).str());
    return macs;
}

QList<QLineEdit*> Fields(CWnd* ipControl) { return mfc::WidgetOf(ipControl->m_hWnd)->findChildren<QLineEdit*>(); }

} // namespace

TEST_F(Input, HeaderClickSortsTheRows)
{
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        const struct {
            int column;
            std::vector<std::string> macs;
        } clicks[] = {
            {2, {"00602b000002", "00602b000001", "00602b000003"}}, // by address, as numbers
            {2, {"00602b000003", "00602b000001", "00602b000002"}}, // the same again: the other way
            {1, {"00602b000001", "00602b000002", "00602b000003"}}, // by MAC
        };
        for (const auto& c : clicks) {
            mfc::test::ClickHeader(d.List(), c.column); // a mouse click on the header button
            EXPECT_EQ(ColumnTexts(d.List(), 1), c.macs) << c.column;
        }
    });
}

TEST_F(Input, KeysMoveTheListSelection)
{
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        mfc::test::ClickListRow(d.List(), 0);
        const struct {
            UINT key;
            bool shift;
            std::set<std::string> selected;
        } keys[] = {
            {VK_DOWN, false, {"00602b000002"}}, {VK_DOWN, true, {"00602b000002", "00602b000003"}},
            {VK_HOME, false, {"00602b000001"}}, {VK_END, true, {"00602b000001", "00602b000002", "00602b000003"}},
            {VK_UP, false, {"00602b000002"}},
        };
        for (const auto& k : keys) {
            mfc::test::PressKey(d.List(), k.key, false, k.shift);
            EXPECT_EQ(SelectedMacs(d), k.selected) << k.key << (k.shift ? " with Shift" : "");
        }
    });
}

// An address typed with its dots, as a user types it, arrives as typed;
// Enter takes it, Esc leaves the address as it was.
TEST(TypedAddress, ArrivesAsTypedInNewIpAddressAndOptions)
{
    ScopedIni ini(input_ini);
    FakeServers servers;
    ScopedHooks hooks;
    const struct {
        const char* typed;
        UINT key;
        int result;
        const char* address;
    } cases[] = {
        {"172.16.100.25", VK_RETURN, IDOK, "172.16.100.25"},
        {"192.168.5.5", VK_RETURN, IDOK, "192.168.5.5"},
        {"10.0.0.9", VK_ESCAPE, IDCANCEL, "192.168.1.20"},
    };
    for (const auto& c : cases) {
        // No network check in the way: mask 0.0.0.0.
        CIpAssignDlg dialog("00602b000001", "192.168.1.20", ParseIp("0.0.0.0"), ParseIp("0.0.0.0"));
        mfc::test::ScriptModal<CIpAssignDlg>([&](CIpAssignDlg& d) {
            mfc::test::TypeKeys(&d, c.typed); // the first field has the focus, its text selected
            mfc::test::PressKey(&d, c.key);
        });
        EXPECT_EQ(dialog.DoModal(), c.result) << c.typed;
        EXPECT_EQ(dialog.NewAddress().to_string(), c.address) << c.typed;
    }

    // Options: a double click selects the start address's first number.
    COptionsDlg options;
    mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& d) {
        QLineEdit* first = Fields(d.GetDlgItem(IDC_IP_START)).value(0);
        ASSERT_NE(first, nullptr);
        QTest::mouseClick(first, Qt::LeftButton);
        QTest::mouseDClick(first, Qt::LeftButton);
        mfc::test::TypeKeys(&d, "172.16.100.25");
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(options.DoModal(), IDOK);
    EXPECT_EQ(options.ip_start(), "172.16.100.25");
}

// A typo in New IP Address is told before OK can take it: the field comes
// back at 255 with the focus and its text selected, so typing again fixes it.
TEST_F(Input, NewIpAddressTellsAFieldOutOfRange)
{
    auto& eth0 = World().adapters["eth0"];
    eth0.startDefault = "10.79.0.2"; // the network: no warning in the way
    eth0.subnet = "255.255.0.0";
    eth0.devices = {{"00602b000001", {"10.79.0.20", 0}}};
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        mfc::test::ClickListRow(d.List(), 0);
        mfc::test::ScriptModal<CIpAssignDlg>([&](CIpAssignDlg& ip) {
            mfc::test::TypeKeys(&ip, "10.79.0.300"); // the first field has the focus, its text selected
            EXPECT_EQ(TakeBoxes(),
                      (std::vector<std::string>{"Invalid Entry: 300 is out of range. Enter a number from 0 to 255."}));
            EXPECT_EQ(ItemText(ip, IDC_NEW_ADDRESS), "10.79.0.255");
            QLineEdit* last = Fields(ip.GetDlgItem(IDC_NEW_ADDRESS)).value(3);
            EXPECT_EQ(QApplication::focusWidget(), last);
            EXPECT_EQ(last ? last->selectedText() : QString(), "255");
            mfc::test::TypeKeys(&ip, "30");
            mfc::test::PressKey(&ip, VK_RETURN);
        });
        ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&New IP Address...")) << "grey";
        PumpUntil([] { return !World().Calls("device.put_ip").empty(); });
    });
    EXPECT_EQ(World().Calls("device.put_ip"), (std::vector<std::string>{"device.put_ip 00602b000001 10.79.0.30"}));
    EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(Input, MenuBarByMouseAndByItsLetters)
{
    RunMainDialog([&](CVistrelDlg& d) {
        Tick(d);
        // Each dialog a menu opens is closed with Esc.
        auto closeWithEsc = [](CDialog& opened) { mfc::test::PressKey(&opened, VK_ESCAPE); };
        mfc::test::ScriptModal<COptionsDlg>([&](COptionsDlg& o) { closeWithEsc(o); });
        mfc::test::ScriptModal<CAboutDlg>([&](CAboutDlg& a) { closeWithEsc(a); });

        // The mouse: "&Tools", then "&Options...".
        ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Tools", "&Options..."));
        ASSERT_TRUE(PumpUntil([] { return mfc::test::ModalLog().size() == 2; }, 30000));
        EXPECT_EQ(mfc::test::ModalLog().back().caption, "Options");

        // A grey item does nothing (Configure without a row would say
        // "Invalid Selection"); Esc closes the menu.
        EXPECT_FALSE(mfc::test::ChooseMenuItem(&d, "&Tools", "&Configure...")) << "not grey";
        QPointer<QWidget> menu = QApplication::activePopupWidget();
        ASSERT_NE(menu, nullptr) << "the menu closed";
        QCoreApplication::processEvents();
        EXPECT_EQ(TakeBoxes(), std::vector<std::string>{});
        mfc::test::PressKey(&d, VK_ESCAPE);
        EXPECT_TRUE(!menu || !menu->isVisible());

        // The keyboard: Alt+H opens "&Help", A takes "&About Veltrix Discovery...".
        mfc::test::PressKey(d.List(), 'H', false, false, true);
        mfc::test::PressKey(&d, 'A');
        ASSERT_TRUE(PumpUntil([] { return mfc::test::ModalLog().size() == 3; }, 30000));
        EXPECT_EQ(mfc::test::ModalLog().back().caption, "About Veltrix Discovery");
    });
}

// "Browser...": the real file dialog takes a database file that does not
// exist yet, and only the file name is cut off the path.
TEST(Browser, NamesANewFolderWhoseDatabaseDoesNotExistYet)
{
    ScopedIni ini(input_ini);
    FakeServers servers;
    ScopedHooks hooks;
    mfc::test::UseRealPickers(true);
    char scratch[] = "/tmp/vistrel_input_XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    struct Remove {
        std::string path;
        ~Remove() { std::filesystem::remove_all(path); }
    } remove{scratch};
    const std::string folder = std::string(scratch) + "/database.ini.d/new";
    std::filesystem::create_directories(folder);

    std::vector<std::string> boxes;
    COptionsDlg options;
    mfc::test::ScriptModal<COptionsDlg>([&](COptionsDlg& d) {
        // A box the file dialog might raise is answered and the file dialog
        // cancelled (also when it stays up far too long), so a refusal ends
        // the test instead of hanging it.
        QTimer guard;
        QElapsedTimer up;
        up.start();
        QObject::connect(&guard, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes.push_back(box->text().toStdString());
                QTest::keyClick(box, Qt::Key_Escape);
            } else if (auto* files = qobject_cast<QFileDialog*>(modal);
                       files && (!boxes.empty() || up.elapsed() > 60000)) {
                QTest::keyClick(files, Qt::Key_Escape);
            }
        });
        guard.start(20);
        // Runs in the file dialog once it is up: the path typed into its name box, then Enter.
        QTimer::singleShot(0, [&] {
            auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(files, nullptr);
            files->activateWindow(); // as the window manager does with a new window
            ASSERT_TRUE(QTest::qWaitForWindowActive(files, 30000));
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            QTest::mouseClick(name, Qt::LeftButton);
            QTest::keyClick(name, Qt::Key_End);
            QTest::keyClick(name, Qt::Key_Home, Qt::ShiftModifier);
            QTest::keyClicks(name, QString::fromStdString(folder + "/database.ini"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        mfc::test::Click(d, IDC_FOLDER_BROWSE);
        guard.stop();
        EXPECT_EQ(ItemText(d, IDC_FIRMWARE_FOLDER), folder);
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(options.DoModal(), IDOK);
    EXPECT_EQ(boxes, std::vector<std::string>{});
    EXPECT_EQ(options.firmware_folder(), folder);
    ASSERT_EQ(mfc::test::PickerLog().size(), 1u);
}

// At their templates' sizes the About text shows without scrolling and the
// captions fit the window.
TEST(Layout, AboutTextAndIpAssignmentCaptionShowWhole)
{
    ScopedHooks hooks;
    App();
    mfc::test::ScriptModal<CAboutDlg>([](CAboutDlg& a) {
        auto* text = qobject_cast<QPlainTextEdit*>(mfc::WidgetOf(a.GetDlgItem(IDC_ABOUT_TEXT)->m_hWnd));
        ASSERT_NE(text, nullptr);
        QTextCursor end(text->document());
        end.movePosition(QTextCursor::End);
        EXPECT_EQ(text->verticalScrollBar()->value(), 0);
        EXPECT_LE(text->cursorRect(end).bottom(), text->viewport()->height()) << "the last line shows";
        EXPECT_EQ(text->document()->lineCount(), text->document()->blockCount()) << "no line wraps";
        EXPECT_FALSE(text->verticalScrollBar()->isVisible());
        a.EndDialog(IDOK);
    });
    CAboutDlg about;
    about.DoModal();

    CIpAssignDlg ip("00602b000002", "192.168.1.20", ParseIp("0.0.0.0"), ParseIp("0.0.0.0"));
    mfc::test::ScriptModal<CIpAssignDlg>([](CIpAssignDlg& d) {
        CString caption;
        d.GetWindowText(caption);
        EXPECT_GE(mfc::DialogWidgetOf(d)->width(), mfc::CaptionWidth(caption.str())) << caption.str();
        d.EndDialog(IDCANCEL);
    });
    ip.DoModal();
}
