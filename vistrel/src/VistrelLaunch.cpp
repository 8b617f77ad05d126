// The main dialog's side of the configuration launcher: the Configure and
// Report commands, and the selection walk over the device list that the
// library's callbacks reach.
#include "ConfigLauncher.h"
#include "LauncherSelect.h"
#include "VistrelDlg.h"

#include <atomic>
#include <cstring>
#include <string>

namespace {

std::atomic<CVistrelDlg*> target{nullptr};

// The MAC text of the cursor's row. The timer goes on inserting rows while a
// walk runs (a report walks from the library's worker thread under its
// dialog), which moves the rows after an insertion down by one; the walk
// finds its row again by this text, so no row comes twice or is left out.
std::string cursorMac;

int Select(WPARAM first, const char** ip, int all)
{
    if (ip)
        *ip = nullptr;
    CVistrelDlg* dialog = target.load();
    HWND window = dialog ? dialog->GetSafeHwnd() : nullptr;
    if (!window)
        return LAUNCH_SELECT_END;
    LauncherSelectRequest request{ip, all};
    const int result =
        static_cast<int>(::SendMessage(window, WM_LAUNCHER_SELECT, first, reinterpret_cast<LPARAM>(&request)));
    // A window that went away meanwhile answers 0 without a device.
    if (result == LAUNCH_SELECT_DEVICE && ip && !*ip)
        return LAUNCH_SELECT_END;
    return result;
}

// Clears the callbacks' target when the command ends.
struct TargetScope {
    explicit TargetScope(CVistrelDlg* dialog) { SetLauncherTarget(dialog); }
    ~TargetScope() { SetLauncherTarget(nullptr); }
};

} // namespace

void SetLauncherTarget(CVistrelDlg* dialog) { target.store(dialog); }

extern "C" int SelectFirst(const char** ip, int all) { return Select(1, ip, all); }

extern "C" int SelectNext(const char** ip, int all) { return Select(0, ip, all); }

LRESULT CVistrelDlg::OnLauncherSelect(WPARAM first, LPARAM request)
{
    const auto& r = *reinterpret_cast<const LauncherSelectRequest*>(request);
    if (r.ip)
        *r.ip = nullptr;
    if (first) {
        launcherCursor = -1;
        cursorMac.clear();
    }
    if (!list)
        return LAUNCH_SELECT_END;
    if (launcherCursor >= 0 && list->GetItemText(launcherCursor, 1).str() != cursorMac) {
        const int rows = list->GetItemCount();
        int row = 0;
        while (row < rows && list->GetItemText(row, 1).str() != cursorMac)
            ++row;
        if (row == rows)
            return LAUNCH_SELECT_END; // the table was cleared under the walk
        launcherCursor = row;
    }

    const int next = list->GetNextItem(launcherCursor, r.all == 1 ? LVNI_ALL : LVNI_SELECTED);
    if (next < 0)
        return LAUNCH_SELECT_END;
    launcherCursor = next;
    cursorMac = list->GetItemText(next, 1).str();

    LVITEM item{};
    item.mask = LVIF_IMAGE;
    item.iItem = next;
    if (!list->GetItem(&item) || item.iImage != pollView.OnlineImage())
        return LAUNCH_SELECT_OFF_LINE;
    list->GetItemText(next, 2, launcherIp, sizeof launcherIp);
    if (std::strcmp(launcherIp, "0.0.0.0") == 0)
        return LAUNCH_SELECT_NO_IP;
    if (r.ip)
        *r.ip = launcherIp;
    return LAUNCH_SELECT_DEVICE;
}

void CVistrelDlg::OnConfigure() { Launch(true); }

void CVistrelDlg::OnReport() { Launch(false); }

void CVistrelDlg::Launch(bool configure)
{
    CWaitCursor wait;
    TargetScope scope(this);
    ConfigLauncher launcher;
    launcher.SetGetFirst(SelectFirst);
    launcher.SetGetNext(SelectNext);
    const int result = configure ? launcher.Configure() : launcher.Report();
    if (result != LAUNCH_OK)
        MessageBox(ConfigLauncher::ErrorText(result), "ERROR", MB_OK);
}
