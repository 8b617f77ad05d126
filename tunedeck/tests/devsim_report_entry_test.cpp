// The report entry point as the console calls it: loaded by name from
// inside a console dialog whose window timer keeps refreshing its device
// list, with selection callbacks that read that list from the report
// worker's thread (served by the GUI thread). Devices of the simulator over
// a veth pair; files compared with the expected ones but for their date and
// time, which the loaded library takes from the clock.
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/resources.h>
#include <mfc/test_hooks.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <tunedeck/LaunchBlock.h>

#include "devsim_devices.h"
#include "no_threads.h"
#include "report_files.h"
#include "gui_test.h"
#include "resource.h"

namespace {

// Requests wait as long as only a fault makes them: ten seconds, in hundredths.
constexpr int kPatient = 1000;

using tdtest::ItemText;
using tdtest::ScriptTemplate;
using tdtest::kSimDevices;

constexpr UINT IDD_CONSOLE = 4100;
constexpr int IDC_DEVICES = 4101;
constexpr UINT_PTR kRefreshTimer = 1;

struct ConsoleRow {
    const char* ip;
    bool online;
    bool selected;
};

// The console's part: its device list, refreshed by its timer, and the
// selection callbacks that walk it.
class CTestConsole : public CDialog {
public:
    explicit CTestConsole(std::vector<ConsoleRow> rows) : CDialog(IDD_CONSOLE), m_rows(std::move(rows))
    {
        static const bool registered = [] {
            using namespace mfc::rc;
            mfc::DlgTemplate t;
            t.caption = "Console";
            t.cx = 300;
            t.cy = 160;
            t.items = {
                Control("", IDC_DEVICES, WC_LISTVIEW, LVS_REPORT | LVS_SHOWSELALWAYS | WS_BORDER, 7, 7, 286, 146)};
            mfc::RegisterDialogTemplate(IDD_CONSOLE, t);
            return true;
        }();
        (void)registered;
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        CListCtrl* list = List();
        list->InsertColumn(0, "Refreshed", LVCFMT_LEFT, 80);
        list->InsertColumn(1, "State", LVCFMT_LEFT, 80);
        list->InsertColumn(2, "IP", LVCFMT_LEFT, 100);
        for (size_t i = 0; i < m_rows.size(); ++i) {
            const int item = list->InsertItem(static_cast<int>(i), "0");
            list->SetItemText(item, 1, m_rows[i].online ? "online" : "off line");
            list->SetItemText(item, 2, m_rows[i].ip);
            if (m_rows[i].selected)
                list->SetItemState(item, LVIS_SELECTED, LVIS_SELECTED);
        }
        SetTimer(kRefreshTimer, 20);
        s_console = this;
        return TRUE;
    }

    // The launcher's callbacks: the next row (all, or the selected ones).
    static int SelectFirst(const char** ip, int all)
    {
        s_console->m_cursor = -1;
        return SelectNext(ip, all);
    }
    static int SelectNext(const char** ip, int all)
    {
        *ip = nullptr;
        CTestConsole& c = *s_console;
        c.m_cursor = c.List()->GetNextItem(c.m_cursor, all == 1 ? LVNI_ALL : LVNI_SELECTED);
        if (c.m_cursor < 0)
            return LAUNCH_SELECT_END;
        if (c.List()->GetItemText(c.m_cursor, 1) != CString("online"))
            return LAUNCH_SELECT_OFF_LINE;
        c.List()->GetItemText(c.m_cursor, 2, c.m_ip, sizeof c.m_ip);
        if (std::strcmp(c.m_ip, "0.0.0.0") == 0)
            return LAUNCH_SELECT_NO_IP;
        *ip = c.m_ip;
        return LAUNCH_SELECT_DEVICE;
    }

    int Ticks() const { return m_ticks; }

protected:
    CListCtrl* List() { return static_cast<CListCtrl*>(GetDlgItem(IDC_DEVICES)); }
    afx_msg void OnTimer(UINT_PTR)
    {
        // The table refreshes under the modal dialogs, as the console's does.
        ++m_ticks;
        for (int i = 0; i < List()->GetItemCount(); ++i)
            List()->SetItemText(i, 0, std::to_string(m_ticks.load()).c_str());
    }

    std::vector<ConsoleRow> m_rows;
    std::atomic<int> m_ticks{0};
    int m_cursor = -1;
    char m_ip[100] = {};
    static inline CTestConsole* s_console = nullptr;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestConsole, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

// Pumps the dialog's events until its status starts with `text` (the whole
// text when `steps` is given, with the bar at the end of `steps`), or a
// minute passed.
bool WaitForStatus(CDialog& d, const std::string& text, int steps = 0)
{
    auto* progress = static_cast<CProgressCtrl*>(d.GetDlgItem(IDC_REPORT_PROGRESS));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        int low = 0, high = 0;
        progress->GetRange(low, high);
        const std::string status = ItemText(d, IDC_REPORT_STATUS);
        if (steps ? status == text && high == steps && progress->GetPos() == steps : status.starts_with(text))
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        mfc::test::Pump(5);
    }
}

int FilesIn(const std::filesystem::path& folder)
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

class DevsimReportEntry : public tdtest::DevsimSuite {
protected:
    void SetUp() override
    {
        tdtest::DevsimSuite::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(library.Load("RunVeltrixReport"));
        run = library.run;
    }
    // Runs the entry point from inside the console's modal loop.
    int RunFromConsole(CTestConsole& console, LaunchBlock& block)
    {
        int result = -1;
        mfc::test::ScriptModal(IDD_CONSOLE, [&](CDialog& d) {
            result = run(&block);
            d.EndDialog(IDOK);
        });
        console.DoModal();
        return result;
    }
    LaunchBlock Block()
    {
        LaunchBlock b{};
        b.WriteCommunity = "quenmil";
        b.ReadCommunity = "tagrok";
        b.GetFirst = &CTestConsole::SelectFirst;
        b.GetNext = &CTestConsole::SelectNext;
        b.Timeout = kPatient;
        b.Retries = 1;
        b.Delay = 5;
        b.AllDevices = 1; // the entry point clears it
        b.Switches = 15;
        return b;
    }

    mfc::test::ScopedHooks hooks;
    tdtest::LoadedEntry library;
    LaunchEntryFn run = nullptr;
};

TEST_F(DevsimReportEntry, SelectedAndAllDevicesWhileTheConsoleRefreshes)
{
    tdtest::ScratchFolder selected("td-entry-selected"), all("td-entry-all"), aborted("td-entry-abort");
    CTestConsole console({{kSimDevices[2].address, true, true},
                          {"0.0.0.0", true, true},
                          {kSimDevices[3].address, true, true},
                          {kSimDevices[1].address, true, false},
                          {kSimDevices[0].address, false, true}});
    LaunchBlock block = Block();
    std::vector<std::string> seen;
    int ticksDuringRun = 0;
    ScriptTemplate(IDD_SAVE_REPORTS, [&](CDialog& d) {
        seen.push_back(ItemText(d, IDC_REPORT_STATUS));
        seen.push_back(d.IsDlgButtonChecked(IDC_REPORT_ALL) ? "all" : "selected");

        // The selected rows: two devices.
        mfc::test::TypeText(d.GetDlgItem(IDC_REPORT_FOLDER), selected.path.string());
        const int before = console.Ticks();
        mfc::test::Click(d, IDC_WRITE);
        mfc::test::Click(d, IDC_BROWSE); // ignored while busy
        EXPECT_TRUE(WaitForStatus(d, "Done", 12));
        ticksDuringRun = console.Ticks() - before;

        // Every row of the table: three devices.
        mfc::test::TypeText(d.GetDlgItem(IDC_REPORT_FOLDER), all.path.string());
        mfc::test::Click(d, IDC_REPORT_ALL);
        mfc::test::Click(d, IDC_WRITE);
        EXPECT_TRUE(WaitForStatus(d, "Done", 18));

        // "Exit" during a run stops it and keeps the dialog open.
        mfc::test::TypeText(d.GetDlgItem(IDC_REPORT_FOLDER), aborted.path.string());
        mfc::test::Click(d, IDC_WRITE);
        EXPECT_TRUE(WaitForStatus(d, "Writing:"));
        mfc::test::Click(d, IDCANCEL);
        EXPECT_TRUE(d.IsWindowVisible());
        EXPECT_TRUE(WaitForStatus(d, "User Abort"));
        mfc::test::Click(d, IDCANCEL);
    });
    EXPECT_EQ(RunFromConsole(console, block), LAUNCH_OK);
    EXPECT_EQ(block.AllDevices, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"Idle", "selected"}));
    EXPECT_GT(ticksDuringRun, 0);
    EXPECT_TRUE(mfc::test::PickerLog().empty());
    EXPECT_TRUE(mfc::test::MessageBoxLog().empty());

    EXPECT_EQ(FilesIn(selected.path), 2);
    const std::string first = tdtest::ReadFile(selected / "001_alder-2.csv");
    // The first two lines: the date and the time the report was written.
    EXPECT_TRUE(
        std::regex_match(first.substr(0, 30), std::regex("Date,\\d\\d/\\d\\d/\\d{4}\nTime,\\d\\d:\\d\\d \\d\\d\n")))
        << first.substr(0, 30);
    tdtest::ExpectReport(first, "devsim_16x16.csv", 2);
    tdtest::ExpectReport(tdtest::ReadFile(selected / "002_alder-3.csv"), "devsim_0x2.csv", 2);
    EXPECT_EQ(FilesIn(all.path), 3);
    tdtest::ExpectReport(tdtest::ReadFile(all / "001_alder-2.csv"), "devsim_16x16.csv", 2);
    tdtest::ExpectReport(tdtest::ReadFile(all / "002_alder-3.csv"), "devsim_0x2.csv", 2);
    tdtest::ExpectReport(tdtest::ReadFile(all / "003_alder-1.csv"), "devsim_2x2.csv", 2);

    ASSERT_EQ(FilesIn(aborted.path), 1);
    const std::string stopped = tdtest::ReadFile(aborted / "001_alder-2.csv");
    const std::string abortLine = "\n,**USER ABORT**";
    ASSERT_GT(stopped.size(), abortLine.size());
    EXPECT_EQ(stopped.substr(stopped.size() - abortLine.size()), abortLine);
}

TEST_F(DevsimReportEntry, NullBlockNoWorkerAndAStopWithoutARun)
{
    EXPECT_EQ(run(nullptr), LAUNCH_NO_GETFIRST);
    // Opened and closed at once: the worker ends with the dialog.
    CTestConsole console({{kSimDevices[0].address, true, true}});
    LaunchBlock block = Block();
    ScriptTemplate(IDD_SAVE_REPORTS, [](CDialog& d) { mfc::test::CloseWindow(&d); });
    EXPECT_EQ(RunFromConsole(console, block), LAUNCH_OK);

    // The worker cannot start: result 1, and no dialog (one that came would be
    // closed at once).
    ScriptTemplate(IDD_SAVE_REPORTS, [](CDialog& d) { mfc::test::CloseWindow(&d); });
    mfc::test::ModalLog().clear();
    block = Block();
    tdtest::NoNewThreads noThreads;
    EXPECT_EQ(run(&block), LAUNCH_LOAD_FAILED);
    EXPECT_EQ(block.AllDevices, 0);
    EXPECT_TRUE(mfc::test::ModalLog().empty());
}

} // namespace
